#include "Features/Overlay/ResizeHandle.h"

#include <cmath>

namespace zentola {

QPointF ResizeHandle::position(const QRectF& rect) const {
    const QRectF r = rect.normalized();
    switch (v_) {
    case topLeft:
        return {r.left(), r.top()};
    case topCenter:
        return {r.center().x(), r.top()};
    case topRight:
        return {r.right(), r.top()};
    case middleLeft:
        return {r.left(), r.center().y()};
    case middleRight:
        return {r.right(), r.center().y()};
    case bottomLeft:
        return {r.left(), r.bottom()};
    case bottomCenter:
        return {r.center().x(), r.bottom()};
    case bottomRight:
        return {r.right(), r.bottom()};
    }
    return {};
}

QRectF ResizeHandle::resize(const QRectF& start, const QSizeF& t, double minSize) const {
    const double x = start.x(), y = start.y(), w = start.width(), h = start.height();
    const double dx = t.width(), dy = t.height();
    double nx = x, ny = y, nw = w, nh = h;
    switch (v_) {
    case topLeft:
        nx = x + dx, ny = y + dy, nw = w - dx, nh = h - dy;
        break;
    case topCenter:
        ny = y + dy, nh = h - dy;
        break;
    case topRight:
        ny = y + dy, nw = w + dx, nh = h - dy;
        break;
    case middleLeft:
        nx = x + dx, nw = w - dx;
        break;
    case middleRight:
        nw = w + dx;
        break;
    case bottomLeft:
        nx = x + dx, nw = w - dx, nh = h + dy;
        break;
    case bottomCenter:
        nh = h + dy;
        break;
    case bottomRight:
        nw = w + dx, nh = h + dy;
        break;
    }
    const QRectF standard = start.normalized();
    if (std::abs(nw) < minSize) {
        nw = minSize;
        if (isLeft())
            nx = standard.right() - minSize;
    }
    if (std::abs(nh) < minSize) {
        nh = minSize;
        if (isTop())
            ny = standard.bottom() - minSize;
    }
    return QRectF(nx, ny, nw, nh);
}

std::optional<ResizeHandle> ResizeHandle::at(const QPointF& point, const QRectF& rect, double hitArea) {
    std::optional<ResizeHandle> found;
    double nearest = hitArea * 0.5;
    for (ResizeHandle handle : allCases()) {
        const QPointF d = point - handle.position(rect);
        const double distance = std::hypot(d.x(), d.y());
        if (distance <= nearest && (!found || distance < nearest)) {
            found = handle;
            nearest = distance;
        }
    }
    return found;
}

OverlayCursor ResizeHandle::cursor() const {
    switch (v_) {
    case topLeft:
    case bottomRight:
        return OverlayCursor::diagonalNWSE;
    case topRight:
    case bottomLeft:
        return OverlayCursor::diagonalNESW;
    case middleLeft:
    case middleRight:
        return OverlayCursor::resizeLeftRight;
    case topCenter:
    case bottomCenter:
        return OverlayCursor::resizeUpDown;
    }
    return OverlayCursor::arrow;
}

}  // namespace zentola
