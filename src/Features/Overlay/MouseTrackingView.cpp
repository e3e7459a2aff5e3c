#include "Features/Overlay/MouseTrackingView.h"

#include "Extensions/Coordinates.h"

#include <QMouseEvent>

namespace zentola {

MouseTrackingView::MouseTrackingView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_NoSystemBackground);
}

std::optional<WindowInfo> MouseTrackingView::findWindow(const QPointF& point) const {
    for (const WindowInfo& w : windows)
        if (w.frame.contains(point))
            return w;
    return std::nullopt;
}

void MouseTrackingView::mouseMoveEvent(QMouseEvent* event) {
    // The desktop's pointer, not the event's: the list is in global coordinates.
    const QPointF global = Coordinates::topLeftFromPointer(platform::Screen::mouseLocation());
    if (onHover)
        onHover(findWindow(global));
    event->accept();
}

void MouseTrackingView::mousePressEvent(QMouseEvent* event) {
    // Only the primary button picks; a right or middle click is not a confirmation.
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    if (onSelect)
        onSelect();
}

}  // namespace zentola
