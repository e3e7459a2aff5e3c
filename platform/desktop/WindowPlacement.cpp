#include "platform/desktop/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>

namespace platform {
namespace {

QRect toLogical(const QRectF& native) {
    QScreen* target = nullptr;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        for (QScreen* s : QGuiApplication::screens()) {
            const QRectF anchor(s->geometry().topLeft(), s->geometry().size() * s->devicePixelRatio());
            if (anchor.contains(native.center())) {
                target = s;
                break;
            }
        }
    }
    if (!target)
        return native.toRect();
    return WindowPlacement::logicalFromNative(native, target->geometry().topLeft(), target->devicePixelRatio())
        .toAlignedRect();
}

}  // namespace

QRectF WindowPlacement::logicalFromNative(const QRectF& native, const QPoint& screenTopLeft, double devicePixelRatio) {
    if (!(devicePixelRatio > 0))
        devicePixelRatio = 1.0;
    const QPointF origin(screenTopLeft);
    return QRectF(origin + (native.topLeft() - origin) / devicePixelRatio, native.size() / devicePixelRatio);
}

QRect WindowPlacement::geometryForFrame(const QRectF& frame) {
    const auto screens = Screen::screens();
    if (screens.empty())
        return {};
    // The frame's top-left corner is its minimum x and maximum y.
    const QPointF corner(frame.left(), frame.top() + frame.height());
    // The display under the rectangle's centre converts all of it, so a rectangle reaching over an
    // edge keeps one scale.
    const ScreenRef home = Screen::screenAt(frame.center(), screens);
    if (!home) {
        const Screen& first = *screens.front();
        const double scale = first.backingScaleFactor() > 0 ? first.backingScaleFactor() : 1.0;
        return toLogical(QRectF(Screen::nativeFromPoint(corner, first.nativeGeometry(), scale), frame.size() * scale));
    }
    const double scale = home->backingScaleFactor() > 0 ? home->backingScaleFactor() : 1.0;
    const QRectF f = home->frame();
    const QPointF topLeft = QPointF(home->nativeGeometry().topLeft()) +
                            QPointF(corner.x() - f.x(), f.y() + f.height() - corner.y()) * scale;
    return toLogical(QRectF(topLeft, frame.size() * scale));
}

QRect WindowPlacement::geometryForScreen(const Screen& screen) {
    return toLogical(QRectF(screen.nativeGeometry()));
}

}  // namespace platform
