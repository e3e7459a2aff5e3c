#pragma once

#include <xcb/xcb.h>

#include <QSize>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

// One connection to the X server with its default screen and the extensions the grabs use.
// xcb is thread-safe; the atom cache has its own lock.
class X11Connection {
public:
    // Connects to $DISPLAY. Throws PlatformError("X11", ...) when the server cannot be reached.
    X11Connection();
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    xcb_connection_t* get() const { return connection_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_->root; }
    // The root window's size now, asked of the server: monitors added, moved or turned off while
    // we run change it, and the size the connection began with stays as it was. Empty when the
    // server cannot be asked. On a connection that follows the root's size, the size its last
    // notice gave, without asking.
    QSize rootSize() const;
    // From now on rootSize() is kept from the server's notices of the root's changes instead of a
    // round trip per call: for a connection with one reader of its events, which hands every
    // event to noteEvent.
    void followRootSize();
    void noteEvent(const xcb_generic_event_t* event);
    // Asks the server again, for when a notice may still be on its way (a request on the old size
    // failed).
    void refreshRootSize();
    // How often the root's size was asked of the server.
    std::uint64_t rootSizeRequests() const { return rootSizeRequests_.load(); }
    // Whether a compositing manager paints the screen now (it owns _NET_WM_CM_S<screen>).
    bool compositorRunning();
    bool hasShm() const { return hasShm_; }
    bool hasComposite() const { return hasComposite_; }
    bool hasXFixes() const { return hasXFixes_; }
    bool hasRes() const { return hasRes_; }
    bool hasRandr() const { return hasRandr_; }

    xcb_atom_t atom(const char* name);

    // Reads a property; empty when absent or of another type.
    std::string stringProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type);
    std::vector<quint32> cardinalProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type);

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    int screenNumber_ = 0;
    bool hasShm_ = false;
    bool hasComposite_ = false;
    bool hasXFixes_ = false;
    bool hasRes_ = false;
    bool hasRandr_ = false;
    QSize askRootSize(unsigned int* sequence = nullptr) const;

    std::atomic<bool> followsRootSize_{false};
    std::atomic<quint32> rootSize_{0};  // width << 16 | height
    std::atomic<unsigned int> askedAt_{0};  // the request that last asked it
    mutable std::atomic<std::uint64_t> rootSizeRequests_{0};
    std::mutex atomMutex_;
    std::unordered_map<std::string, xcb_atom_t> atoms_;
};

}  // namespace platform
