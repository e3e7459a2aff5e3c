#include "Extensions/Coordinates.h"

namespace zentola {

double Coordinates::firstDisplayHeight() {
    const auto screens = platform::Screen::screens();
    return screens.empty() ? 0.0 : screens.front()->frame().height();
}

QPointF Coordinates::topLeftFromBottomLeft(const QPointF& p, const QRectF& first) {
    return QPointF(p.x(), first.height() - p.y());
}

QPointF Coordinates::topLeftFromBottomLeft(const QPointF& p) {
    return topLeftFromBottomLeft(p, QRectF(0, 0, 0, firstDisplayHeight()));
}

// The flip is its own inverse.
QPointF Coordinates::bottomLeftFromTopLeft(const QPointF& p, const QRectF& first) {
    return topLeftFromBottomLeft(p, first);
}

QRectF Coordinates::topLeftFromBottomLeft(const QRectF& r, const QRectF& first) {
    return QRectF(r.x(), first.height() - (r.y() + r.height()), r.width(), r.height());
}

QRectF Coordinates::bottomLeftFromTopLeft(const QRectF& r, const QRectF& first) {
    return topLeftFromBottomLeft(r, first);
}

QRectF Coordinates::localFromTopLeft(const QRectF& r, const QRectF& display, const QRectF& first, double ratio) {
    const double displayTop = first.height() - (display.y() + display.height());
    return QRectF((r.x() - display.x()) * ratio, (r.y() - displayTop) * ratio, r.width() * ratio, r.height() * ratio);
}

QRectF Coordinates::localFromTopLeft(const QRectF& r, const platform::Screen& screen) {
    const auto screens = platform::Screen::screens();
    if (screens.empty())
        return localFromTopLeft(r, screen.frame(), screen.frame());
    const platform::Screen& first = *screens.front();
    const double own = screen.backingScaleFactor() > 0 ? screen.backingScaleFactor() : 1.0;
    const double firstScale = first.backingScaleFactor() > 0 ? first.backingScaleFactor() : 1.0;
    return localFromTopLeft(r, screen.frame(), first.frame(), firstScale / own);
}

QPointF Coordinates::topLeftFromPointer(const QPointF& p) {
    const auto screens = platform::Screen::screens();
    const platform::ScreenRef on = platform::Screen::screenAt(p, screens);
    if (!on)
        return topLeftFromBottomLeft(p);
    const platform::Screen& first = *screens.front();
    const double own = on->backingScaleFactor() > 0 ? on->backingScaleFactor() : 1.0;
    const double firstScale = first.backingScaleFactor() > 0 ? first.backingScaleFactor() : 1.0;
    const QRectF display = on->frame();
    const QPointF local = localFromBottomLeft(p, display);
    const double displayTop = first.frame().height() - (display.y() + display.height());
    return QPointF(display.x() + local.x() * own / firstScale, displayTop + local.y() * own / firstScale);
}

QPointF Coordinates::localFromBottomLeft(const QPointF& p, const QRectF& display) {
    return QPointF(p.x() - display.x(), display.y() + display.height() - p.y());
}

QPointF Coordinates::bottomLeftFromLocal(const QPointF& p, const QRectF& display) {
    return QPointF(p.x() + display.x(), display.y() + display.height() - p.y());
}

QRectF Coordinates::bottomLeftFromLocal(const QRectF& r, const QRectF& display) {
    const QRectF n = r.normalized();
    return QRectF(n.x() + display.x(), display.y() + display.height() - n.y() - n.height(), n.width(), n.height());
}

}  // namespace zentola
