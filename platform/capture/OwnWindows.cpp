#include "platform/capture/OwnWindows.h"

#include "platform/capture/X11Connection.h"
#include "platform/capture/X11Desktop.h"
#include "platform/capture/X11Grabber.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

std::mutex& keptMutex() {
    static std::mutex m;
    return m;
}

// How long what a hidden window kept stays: a window manager unmaps a frame once it has seen its
// client go, and a compositing manager paints the screen without it at its next frame.
constexpr int forgetAfterMs = 500;

struct Entry {
    OwnWindows::Beneath beneath;
    quint64 generation = 0;
};

std::unordered_map<quint32, Entry>& kept() {
    static std::unordered_map<quint32, Entry> k;
    return k;
}

quint64 nextGeneration() {
    static quint64 g = 0;
    return ++g;
}

void store(quint32 id, OwnWindows::Beneath beneath) {
    std::lock_guard lock(keptMutex());
    kept()[id] = Entry{std::move(beneath), nextGeneration()};
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

// The colour every pixel of the region (bitmap coordinates) has, if they share one.
std::optional<quint32> uniformColour(const Bitmap& pixels, const QRegion& region) {
    std::optional<quint32> colour;
    for (const QRect& r : region) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const auto* row = reinterpret_cast<const quint32*>(pixels.row(y));
            for (int x = r.left(); x <= r.right(); ++x) {
                if (!colour)
                    colour = row[x] & 0xffffffu;
                else if ((row[x] & 0xffffffu) != *colour)
                    return std::nullopt;
            }
        }
    }
    return colour;
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
    QRegion background(area);
    try {
        std::lock_guard lock(grabMutex);
        if (!grabber || xcb_connection_has_error(grabber->connection()->get()))
            grabber = std::make_unique<X11Grabber>(std::make_shared<X11Connection>());
        pixels = grabber->grabArea(area, {qint32(getpid())});
        // Past the screen's edge (a card's way in from the right) nothing was read.
        background &= QRect(QPoint(0, 0), grabber->connection()->rootSize());
        for (const auto& t : X11Desktop(grabber->connection()).topLevels(false))
            if (t.viewable && t.pid != qint32(getpid()))
                background -= t.geometry;
    } catch (const std::exception&) {
        // Nothing is kept; captures fall back to the background the X server knows.
        return nullptr;
    }
    store(*id, Beneath{area, pixels, background, uniformColour(*pixels, background.translated(-area.topLeft())), true});
    return pixels;
}

void OwnWindows::keep(QWindow* window, const QRect& nativeArea, BitmapRef pixels) {
    const auto id = xid(window);
    if (!id || !pixels)
        return;
    store(*id, Beneath{nativeArea, std::move(pixels), QRegion(), std::nullopt, false});
}

void OwnWindows::setMoving(QWindow* window, bool moving) {
    const auto id = xid(window);
    if (!id)
        return;
    std::lock_guard lock(keptMutex());
    if (const auto it = kept().find(*id); it != kept().end())
        it->second.beneath.moving = moving;
}

void OwnWindows::forget(QWindow* window) {
    const auto id = xid(window);
    if (!id)
        return;
    quint64 generation = 0;
    {
        std::lock_guard lock(keptMutex());
        const auto it = kept().find(*id);
        if (it == kept().end())
            return;
        generation = it->second.generation;
        it->second.beneath.hidden = true;
    }
    auto drop = [id = *id, generation] {
        std::lock_guard lock(keptMutex());
        // Unless the window came back and kept anew meanwhile.
        if (const auto it = kept().find(id); it != kept().end() && it->second.generation == generation)
            kept().erase(it);
    };
    // The window goes on this thread right after: its hiding reaches the server before the timer fires.
    if (QCoreApplication::instance())
        QTimer::singleShot(forgetAfterMs, QCoreApplication::instance(), drop);
    else
        drop();
}

std::optional<OwnWindows::Beneath> OwnWindows::beneath(quint32 window) {
    std::lock_guard lock(keptMutex());
    const auto it = kept().find(window);
    if (it == kept().end())
        return std::nullopt;
    return it->second.beneath;
}

std::unordered_map<quint32, OwnWindows::Beneath> OwnWindows::all() {
    std::lock_guard lock(keptMutex());
    std::unordered_map<quint32, Beneath> copy;
    for (const auto& [id, entry] : kept())
        copy.emplace(id, entry.beneath);
    return copy;
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
