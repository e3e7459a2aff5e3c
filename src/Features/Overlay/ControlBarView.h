#pragma once

#include "Models/CaptureMode.h"

#include <QPoint>
#include <QPointF>
#include <QWidget>

#include <functional>
#include <map>
#include <vector>

class QPropertyAnimation;

namespace zentola {

class ActionButton;
class AppState;
class CaptureTypeToggle;
class ModeButton;

// The floating bar of the overlay: photo/video toggle, one button per mode, capture (record) and
// cancel. It can be dragged anywhere and springs back to its place when let go.
class ControlBarView : public QWidget {
    Q_OBJECT

public:
    ControlBarView(AppState& appState, std::function<void(CaptureMode)> onModeChanged, std::function<void()> onCapture,
                   std::function<void()> onCancel, QWidget* parent = nullptr);

    static constexpr double minimumDragDistance = 10;

    bool isVideoMode() const;
    bool isDragging() const { return isDragging_; }
    QPointF dragOffset() const { return dragOffset_; }

    // The bar's resting place in its parent; it shows there moved by the drag offset.
    void setHomePosition(const QPoint& position);
    QPoint homePosition() const { return home_; }

    CaptureTypeToggle* typeToggle() const { return toggle_; }
    ModeButton* modeButton(CaptureMode mode) const { return modeButtons_.at(mode); }
    ActionButton* captureButton() const { return captureButton_; }
    ActionButton* cancelButton() const { return cancelButton_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateSelection();
    void updateCaptureButton();
    void dragChanged(const QPointF& translation);
    void dragEnded(const QPointF& translation);
    void placeAt(const QPointF& offset);

    AppState& appState_;
    std::function<void(CaptureMode)> onModeChanged_;
    std::function<void()> onCapture_;
    std::function<void()> onCancel_;
    CaptureTypeToggle* toggle_;
    std::map<CaptureMode, ModeButton*> modeButtons_;
    ActionButton* captureButton_;
    ActionButton* cancelButton_;
    std::vector<QWidget*> dividers_;
    QPropertyAnimation* springBack_;

    bool isDragging_ = false;
    QPointF dragOffset_;
    QPoint home_;
    bool pressed_ = false;
    QPointF pressGlobal_;
};

}  // namespace zentola
