#pragma once

#include <xcb/xcb.h>

namespace platform {

// Tells whether the root's top-level windows may have changed: created, destroyed, mapped,
// unmapped, moved, resized, restacked or reparented, or the window manager's lists rewritten.
// Has a connection of its own, so its events never mix with those of the connection that grabs.
// Not thread-safe; callers hold their own lock.
class X11WindowWatch {
public:
    // Watching starts before the constructor returns. A watch that cannot reach the server
    // reports a change every time, so callers fall back to listing the windows afresh.
    X11WindowWatch();
    ~X11WindowWatch();
    X11WindowWatch(const X11WindowWatch&) = delete;
    X11WindowWatch& operator=(const X11WindowWatch&) = delete;

    // True when a change was reported since the last call, as far as has arrived.
    bool changed();
    // As changed(), after a round trip: every change the server made before this call counts,
    // including those made before a request another connection has had answered.
    bool changedUpToNow();

private:
    xcb_connection_t* connection_ = nullptr;
    bool watching_ = false;
    xcb_atom_t clientList_ = XCB_ATOM_NONE;
    xcb_atom_t clientListStacking_ = XCB_ATOM_NONE;
};

}  // namespace platform
