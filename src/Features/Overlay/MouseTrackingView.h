#pragma once

#include "Models/WindowInfo.h"
#include "platform/display/Screen.h"

#include <QPointF>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace zentola {

// Follows the pointer over one display and reports the window under it; a press selects.
class MouseTrackingView : public QWidget {
    Q_OBJECT

public:
    explicit MouseTrackingView(QWidget* parent = nullptr);

    std::vector<WindowInfo> windows;
    platform::ScreenRef screen;
    std::function<void(const std::optional<WindowInfo>&)> onHover;
    std::function<void()> onSelect;

    // The first window in list order whose frame contains the point (global top-left points).
    std::optional<WindowInfo> findWindow(const QPointF& point) const;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace zentola
