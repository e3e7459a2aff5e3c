#pragma once

#include "Models/WindowInfo.h"
#include "platform/core/Bitmap.h"
#include "platform/display/Screen.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

namespace zentola {

class AppState;
class ControlBarView;
class SelectionRectView;
class WindowHighlightView;

// The content of one display's overlay panel, bottom to top: the veil (screen mode), the accent
// border (screen mode), the mode's editor (rectangle or window picker) and, on one display only,
// the control bar, all over the display's snapshot when it has one. Follows the shared state as it
// changes.
class OverlayView : public QWidget {
    Q_OBJECT

public:
    OverlayView(AppState& appState, platform::ScreenRef screen, std::function<void()> onCapture,
                std::function<void()> onCancel, std::function<std::vector<WindowInfo>()> windowSource,
                QWidget* parent = nullptr);

    static constexpr double controlBarBottomPadding = 60;

    const platform::ScreenRef& screen() const { return screen_; }
    // The display that shows the bar: the active one, else the main one, else none.
    static platform::ScreenRef controlBarScreen(const AppState& appState);
    // The veil's black opacity in screen mode: clear over the active display, 0.1 elsewhere.
    double veilOpacity() const;

    // The display as it looked before the overlay came, painted opaque beneath everything else
    // where nothing blends the panel with the desktop; null paints nothing.
    void setSnapshot(platform::BitmapRef snapshot);
    const platform::BitmapRef& snapshot() const { return snapshot_; }

    SelectionRectView* selectionView() const;
    WindowHighlightView* windowHighlightView() const;
    ControlBarView* controlBar() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuildEditor();
    void rebuildControlBar();
    void layoutChildren();

    AppState& appState_;
    platform::ScreenRef screen_;
    std::function<void()> onCapture_;
    std::function<void()> onCancel_;
    std::function<std::vector<WindowInfo>()> windowSource_;
    QPointer<SelectionRectView> selectionView_;
    QPointer<WindowHighlightView> windowView_;
    QPointer<ControlBarView> controlBar_;
    // A press on the veil that is still a tap: released before it moved the desktop's drag distance.
    bool tapPressed_ = false;
    QPointF tapStart_;
    platform::BitmapRef snapshot_;
};

}  // namespace zentola
