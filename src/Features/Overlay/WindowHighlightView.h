#pragma once

#include "Models/WindowInfo.h"
#include "platform/display/Screen.h"

#include <QRectF>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace zentola {

class AppState;
class MouseTrackingView;

// Window mode over one display: outlines the window under the pointer, makes it the shared
// highlighted window, and confirms the capture on a click.
class WindowHighlightView : public QWidget {
    Q_OBJECT

public:
    // windowSource gives the window list; it is asked once, when the view appears.
    WindowHighlightView(AppState& appState, platform::ScreenRef screen, std::function<void()> onWindowSelected,
                        std::function<std::vector<WindowInfo>()> windowSource, QWidget* parent = nullptr);

    const std::vector<WindowInfo>& windows() const { return windows_; }
    const std::optional<WindowInfo>& hoveredWindow() const { return hoveredWindow_; }
    // The outline's rectangle in this view for a window frame (global top-left points).
    QRectF localFrame(const WindowInfo& window) const;
    void refreshWindows();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    AppState& appState_;
    platform::ScreenRef screen_;
    std::function<void()> onWindowSelected_;
    std::function<std::vector<WindowInfo>()> windowSource_;
    std::vector<WindowInfo> windows_;
    std::optional<WindowInfo> hoveredWindow_;
    MouseTrackingView* tracking_;
};

}  // namespace zentola
