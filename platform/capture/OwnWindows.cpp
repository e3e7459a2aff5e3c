#include "platform/capture/OwnWindows.h"

#include "platform/capture/X11Connection.h"
#include "platform/capture/X11Grabber.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

namespace {

std::mutex& keptMutex() {
    static std::mutex m;
    return m;
}

std::map<quint32, OwnWindows::Beneath>& kept() {
    static std::map<quint32, OwnWindows::Beneath> k;
    return k;
}

xcb_connection_t* toolkitConnection() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The window's X id; none off X11.
std::optional<quint32> xid(QWindow* window) {
    if (!window || !toolkitConnection())
        return std::nullopt;
    return quint32(window->winId());
}

// The toolkit scales each screen about its top-left corner, which stays in X11 pixels.
QRect nativeFromToolkit(const QRect& geometry) {
    QScreen* screen = QGuiApplication::screenAt(geometry.center());
    if (!screen)
        return geometry;
    const double ratio = screen->devicePixelRatio();
    const QPoint origin = screen->geometry().topLeft();
    const QPointF topLeft = origin + QPointF(geometry.topLeft() - origin) * ratio;
    return QRect(topLeft.toPoint(), (QSizeF(geometry.size()) * ratio).toSize());
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

}  // namespace

BitmapRef OwnWindows::keepBeneath(QWindow* window, const QRect& geometry) {
    const auto id = xid(window);
    if (!id || geometry.isEmpty())
        return nullptr;
    const QRect area = nativeFromToolkit(geometry);
    // Its own connection: the grab waits on the server, and the toolkit's is the main thread's.
    static std::mutex grabMutex;
    static std::unique_ptr<X11Grabber> grabber;
    BitmapRef pixels;
    try {
        std::lock_guard lock(grabMutex);
        if (!grabber || xcb_connection_has_error(grabber->connection()->get()))
            grabber = std::make_unique<X11Grabber>(std::make_shared<X11Connection>());
        pixels = grabber->grabArea(area, {qint32(getpid())});
    } catch (const std::exception&) {
        // Nothing is kept; captures fall back to the background the X server knows.
        return nullptr;
    }
    std::lock_guard lock(keptMutex());
    kept()[*id] = Beneath{area, pixels};
    return pixels;
}

void OwnWindows::keep(QWindow* window, const QRect& nativeArea, BitmapRef pixels) {
    const auto id = xid(window);
    if (!id || !pixels)
        return;
    std::lock_guard lock(keptMutex());
    kept()[*id] = Beneath{nativeArea, std::move(pixels)};
}

void OwnWindows::forget(QWindow* window) {
    const auto id = xid(window);
    if (!id)
        return;
    std::lock_guard lock(keptMutex());
    kept().erase(*id);
}

std::optional<OwnWindows::Beneath> OwnWindows::beneath(quint32 window) {
    std::lock_guard lock(keptMutex());
    const auto it = kept().find(window);
    if (it == kept().end())
        return std::nullopt;
    return it->second;
}

void OwnWindows::showOnAllWorkspaces(QWindow* window) {
    xcb_connection_t* c = toolkitConnection();
    if (!window || !c)
        return;
    const xcb_window_t w = xcb_window_t(window->winId());
    const xcb_atom_t desktop = atom(c, "_NET_WM_DESKTOP"), state = atom(c, "_NET_WM_STATE"),
                     sticky = atom(c, "_NET_WM_STATE_STICKY");
    if (desktop == XCB_ATOM_NONE || state == XCB_ATOM_NONE || sticky == XCB_ATOM_NONE)
        return;
    const quint32 everyDesktop = 0xFFFFFFFF;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, desktop, XCB_ATOM_CARDINAL, 32, 1, &everyDesktop);
    // Added to what the toolkit keeps there; it merges its own states in when it maps the window.
    std::vector<xcb_atom_t> states;
    if (auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, w, state, XCB_ATOM_ATOM, 0, 1024), nullptr)) {
        if (r->type == XCB_ATOM_ATOM && r->format == 32) {
            const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
            states.assign(values, values + xcb_get_property_value_length(r) / 4);
        }
        std::free(r);
    }
    if (std::find(states.begin(), states.end(), sticky) == states.end())
        states.push_back(sticky);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, state, XCB_ATOM_ATOM, 32, uint32_t(states.size()), states.data());
    xcb_flush(c);
}

}  // namespace platform
