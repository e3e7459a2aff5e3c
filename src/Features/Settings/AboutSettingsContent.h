#pragma once

#include "Features/Settings/TermsSheetView.h"

#include <QPointer>
#include <QScrollArea>
#include <QString>

#include <optional>

class QLabel;
class QPushButton;

namespace zentola {

class TermsSheetView;

// The application's icon, name and version, and the terms of use in a sheet.
class AboutSettingsContent : public QScrollArea {
    Q_OBJECT
public:
    explicit AboutSettingsContent(QWidget* parent = nullptr);

    // "1.0 (1)" style: the short version then the build, each with its default when absent.
    static QString appVersion(const std::optional<QString>& shortVersion, const std::optional<QString>& build);

    QLabel* versionLabel() const { return version_; }
    QPushButton* termsButton() const { return terms_; }
    TermsSheetView* termsSheet() const { return sheet_; }
    bool showingTerms() const { return sheet_ != nullptr; }

private:
    void showTerms();

    QLabel* version_;
    QPushButton* terms_;
    QPointer<TermsSheetView> sheet_;
};

}  // namespace zentola
