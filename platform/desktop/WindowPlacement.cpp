#include "platform/desktop/WindowPlacement.h"

#include "platform/desktop/ApplicationX11.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cstdlib>
#include <memory>

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

template <typename R>
std::unique_ptr<R, decltype(&std::free)> owned(R* reply) {
    return {reply, &std::free};
}

}  // namespace

std::optional<QRect> WindowPlacement::embeddingWindow(const QRect& embedded) {
    xcb_connection_t* c = x11::applicationConnection();
    if (!c || !embedded.isValid())
        return std::nullopt;
    xcb_window_t w = XCB_NONE;
    for (QWindow* window : QGuiApplication::allWindows())
        if (window->handle() && window->isVisible() && window->mapToGlobal(QPoint(0, 0)) == embedded.topLeft() &&
            window->size() == embedded.size()) {
            w = xcb_window_t(window->winId());
            break;
        }
    // Up the server's tree to the child of the root: the panel, or the window manager's frame of it.
    for (xcb_window_t parent = w; w != XCB_NONE; w = parent) {
        auto tree = owned(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
        if (!tree)
            return std::nullopt;
        parent = tree->parent;
        if (parent != tree->root)
            continue;
        auto geometry = owned(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
        if (!geometry)
            return std::nullopt;
        return toLogical(QRectF(geometry->x, geometry->y, geometry->width, geometry->height));
    }
    return std::nullopt;
}

QPoint WindowPlacement::menuPosition(const QRect& icon, const QRect& givenPanel, const QRect& screen, const QSize& menu) {
    QRect panel = givenPanel.contains(icon) ? givenPanel : icon;
    if (panel.width() > screen.width() / 2 && panel.height() > screen.height() / 2)
        panel = icon;
    // Along the panel the menu starts at the icon, as far as the screen lets it.
    const auto along = [](int at, int low, int high, int length) { return std::max(low, std::min(at, high + 1 - length)); };
    if (panel.width() >= panel.height()) {
        const bool topHalf = panel.center().y() - screen.top() <= screen.bottom() - panel.center().y();
        return {along(icon.left(), screen.left(), screen.right(), menu.width()),
                topHalf ? panel.bottom() + 1 : panel.top() - menu.height()};
    }
    const bool leftHalf = panel.center().x() - screen.left() <= screen.right() - panel.center().x();
    return {leftHalf ? panel.right() + 1 : panel.left() - menu.width(),
            along(icon.top(), screen.top(), screen.bottom(), menu.height())};
}

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
