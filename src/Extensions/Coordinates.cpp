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

namespace {

double validScale(double scale) {
    return scale > 0 ? scale : 1.0;
}

// Where the window list puts a display's top-left corner: its pixels from the first display's
// corner, counted at the first display's scale. Display frames may lie elsewhere (they are spaced so
// that displays of different scales never overlap), so conversions go through the pixels.
QPointF listedCorner(const platform::Screen& screen, const platform::Screen& first) {
    return QPointF(screen.nativeGeometry().topLeft() - first.nativeGeometry().topLeft()) /
           validScale(first.backingScaleFactor());
}

}  // namespace

QRectF Coordinates::localFromTopLeft(const QRectF& r, const platform::Screen& screen) {
    const auto screens = platform::Screen::screens();
    if (screens.empty())
        return localFromTopLeft(r, screen.frame(), screen.frame());
    const platform::Screen& first = *screens.front();
    const double ratio = validScale(first.backingScaleFactor()) / validScale(screen.backingScaleFactor());
    const QPointF corner = listedCorner(screen, first);
    return QRectF((r.topLeft() - corner) * ratio, r.size() * ratio);
}

QPointF Coordinates::topLeftFromPointer(const QPointF& p) {
    const auto screens = platform::Screen::screens();
    const platform::ScreenRef on = platform::Screen::screenAt(p, screens);
    if (!on)
        return topLeftFromBottomLeft(p);
    const platform::Screen& first = *screens.front();
    const double ratio = validScale(on->backingScaleFactor()) / validScale(first.backingScaleFactor());
    return listedCorner(*on, first) + localFromBottomLeft(p, on->frame()) * ratio;
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
