#include "platform/display/Screen.h"

#include "platform/display/XcbScreenProvider.h"

#include <algorithm>

#include <QGuiApplication>
#include <QScreen>

namespace platform {

namespace {

std::shared_ptr<Screen::Provider>& installedProvider() {
    static std::shared_ptr<Screen::Provider> provider;
    return provider;
}

Screen::Provider& provider() {
    auto& p = installedProvider();
    if (!p)
        p = std::make_shared<XcbScreenProvider>();
    return *p;
}

double validScale(double scale) {
    return scale > 0 ? scale : 1.0;
}

}  // namespace

std::vector<ScreenRef> Screen::screens() {
    return provider().screens();
}

ScreenRef Screen::main() {
    auto list = screens();
    return list.empty() ? nullptr : list.front();
}

QPointF Screen::mouseLocation() {
    return provider().mouseLocation();
}

void Screen::setProvider(std::shared_ptr<Provider> p) {
    installedProvider() = std::move(p);
}

QScreen* Screen::qscreen() const {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return nullptr;
    const auto all = QGuiApplication::screens();
    for (QScreen* s : all)
        if (s->name() == d_.name)
            return s;
    // The toolkit keeps each screen's top-left in device pixels even when it scales the size.
    for (QScreen* s : all)
        if (s->geometry().topLeft() == d_.nativeGeometry.topLeft())
            return s;
    return nullptr;
}

void Screen::update(Description d, QRectF frame, QRectF visibleFrame) {
    d_ = std::move(d);
    frame_ = frame;
    visibleFrame_ = visibleFrame;
}

QPointF Screen::pointFromNative(const QPointF& native, const QRect& firstNative, double scale) {
    return QPointF((native.x() - firstNative.x()) / scale,
                   (firstNative.y() + firstNative.height() - native.y()) / scale);
}

QPointF Screen::nativeFromPoint(const QPointF& point, const QRect& firstNative, double scale) {
    return QPointF(point.x() * scale + firstNative.x(), firstNative.y() + firstNative.height() - point.y() * scale);
}

std::vector<std::pair<QRectF, QRectF>> Screen::framesFor(const std::vector<Description>& descriptions) {
    std::vector<std::pair<QRectF, QRectF>> out;
    if (descriptions.empty())
        return out;
    const QRect first = descriptions.front().nativeGeometry;
    const double firstHeight = first.height() / validScale(descriptions.front().scaleFactor);
    // Displays are placed at their pixel offsets counted at the smallest scale: a display then never
    // takes more points than lie between it and its neighbour, so no two frames overlap and a point
    // names one display. With one scale for all, they lie edge to edge.
    double spacing = validScale(descriptions.front().scaleFactor);
    for (const Description& d : descriptions)
        spacing = std::min(spacing, validScale(d.scaleFactor));
    out.reserve(descriptions.size());
    for (const Description& d : descriptions) {
        const double scale = validScale(d.scaleFactor);
        const QRect& g = d.nativeGeometry;
        const QPointF topLeft = QPointF(g.topLeft() - first.topLeft()) / spacing;
        auto within = [&](const QRect& native) {
            // Top-left of the rectangle in top-left points, then flipped with the first display's height.
            const QPointF tl = topLeft + QPointF(native.topLeft() - g.topLeft()) / scale;
            const QSizeF size = QSizeF(native.size()) / scale;
            return QRectF(tl.x(), firstHeight - tl.y() - size.height(), size.width(), size.height());
        };
        const QRectF frame = within(g);
        // Panels cover part of this display only when the work area overlaps it.
        const QRect work = d.nativeWorkArea.intersected(g);
        out.emplace_back(frame, work.isEmpty() ? frame : within(work));
    }
    return out;
}

ScreenRef Screen::screenAt(const QPointF& point, const std::vector<ScreenRef>& screens) {
    for (const ScreenRef& s : screens) {
        const QRectF f = s->frame();
        if (point.x() >= f.left() && point.x() < f.right() && point.y() > f.top() && point.y() <= f.bottom())
            return s;
    }
    return nullptr;
}

QPointF Screen::pointFromNative(const QPointF& native, const std::vector<ScreenRef>& screens) {
    if (screens.empty())
        return native;
    for (const ScreenRef& s : screens) {
        const QRect g = s->nativeGeometry();
        if (native.x() >= g.left() && native.x() < g.left() + g.width() && native.y() >= g.top() &&
            native.y() < g.top() + g.height()) {
            const double scale = validScale(s->backingScaleFactor());
            const QRectF f = s->frame();
            return QPointF(f.x() + (native.x() - g.x()) / scale, f.y() + f.height() - (native.y() - g.y()) / scale);
        }
    }
    const Screen& first = *screens.front();
    return pointFromNative(native, first.nativeGeometry(), validScale(first.backingScaleFactor()));
}

std::vector<ScreenRef> Screen::makeScreens(const std::vector<Description>& descriptions) {
    const auto frames = framesFor(descriptions);
    std::vector<ScreenRef> out;
    out.reserve(descriptions.size());
    for (std::size_t i = 0; i < descriptions.size(); ++i)
        out.push_back(std::make_shared<const Screen>(descriptions[i], frames[i].first, frames[i].second));
    return out;
}

}  // namespace platform
