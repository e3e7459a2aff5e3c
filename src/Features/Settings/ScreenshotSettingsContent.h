#pragma once

#include "Features/Settings/SettingsPage.h"

class QComboBox;
class QLabel;
class QSlider;

namespace zentola {

class PersistenceManager;
class SaveLocationRow;

// Image format, lossy quality (only for formats that use it) and the screenshot folder.
class ScreenshotSettingsContent : public SettingsPage {
    Q_OBJECT
public:
    explicit ScreenshotSettingsContent(PersistenceManager& persistence, QWidget* parent = nullptr);

    // "90%" for 0.9; the integer part of quality × 100. A quality that is not a finite number shows
    // the store's default.
    static QString qualityText(double quality);

    QComboBox* formatPicker() const { return format_; }
    QSlider* qualitySlider() const { return quality_; }
    QLabel* qualityLabel() const { return qualityLabel_; }
    // The quality row, shown only for JPEG, WebP and HEIC.
    QWidget* qualityRow() const { return qualityRow_; }
    SaveLocationRow* saveLocation() const { return saveLocation_; }

private:
    void showQualityRow();

    PersistenceManager& persistence_;
    QComboBox* format_;
    QSlider* quality_;
    QLabel* qualityLabel_;
    QWidget* qualityRow_;
    QWidget* qualityDivider_ = nullptr;
    SaveLocationRow* saveLocation_;
};

}  // namespace zentola
