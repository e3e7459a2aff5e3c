#include "platform/capture/X11Connection.h"

#include "platform/core/Error.h"

#include <xcb/composite.h>
#include <xcb/randr.h>
#include <xcb/res.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

bool extensionPresent(xcb_connection_t* c, xcb_extension_t* ext) {
    const xcb_query_extension_reply_t* r = xcb_get_extension_data(c, ext);
    return r && r->present;
}

}  // namespace

X11Connection::X11Connection() {
    int screenNumber = 0;
    connection_ = xcb_connect(nullptr, &screenNumber);
    if (!connection_ || xcb_connection_has_error(connection_)) {
        if (connection_)
            xcb_disconnect(connection_);
        connection_ = nullptr;
        const char* display = std::getenv("DISPLAY");
        throw PlatformError("X11", 1, std::string("Cannot connect to the X server ") + (display ? display : "(DISPLAY not set)"));
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    screen_ = it.data;
    screenNumber_ = screenNumber;

    xcb_prefetch_extension_data(connection_, &xcb_shm_id);
    xcb_prefetch_extension_data(connection_, &xcb_composite_id);
    xcb_prefetch_extension_data(connection_, &xcb_xfixes_id);
    xcb_prefetch_extension_data(connection_, &xcb_res_id);
    xcb_prefetch_extension_data(connection_, &xcb_randr_id);

    hasShm_ = extensionPresent(connection_, &xcb_shm_id);
    if (hasShm_) {
        // A remote server has the extension but cannot see our memory.
        auto* r = xcb_shm_query_version_reply(connection_, xcb_shm_query_version(connection_), nullptr);
        hasShm_ = r != nullptr;
        free(r);
    }
    hasComposite_ = extensionPresent(connection_, &xcb_composite_id);
    if (hasComposite_) {
        auto* r = xcb_composite_query_version_reply(connection_, xcb_composite_query_version(connection_, 0, 4), nullptr);
        hasComposite_ = r && (r->major_version > 0 || r->minor_version >= 2);
        free(r);
    }
    hasXFixes_ = extensionPresent(connection_, &xcb_xfixes_id);
    if (hasXFixes_) {
        auto* r = xcb_xfixes_query_version_reply(connection_, xcb_xfixes_query_version(connection_, 4, 0), nullptr);
        hasXFixes_ = r != nullptr;
        free(r);
    }
    hasRes_ = extensionPresent(connection_, &xcb_res_id);
    if (hasRes_) {
        auto* r = xcb_res_query_version_reply(connection_, xcb_res_query_version(connection_, 1, 2), nullptr);
        hasRes_ = r && (r->server_major > 1 || (r->server_major == 1 && r->server_minor >= 2));
        free(r);
    }
    hasRandr_ = extensionPresent(connection_, &xcb_randr_id);
}

X11Connection::~X11Connection() {
    if (connection_)
        xcb_disconnect(connection_);
}

QSize X11Connection::askRootSize(unsigned int* sequence) const {
    ++rootSizeRequests_;
    const xcb_get_geometry_cookie_t cookie = xcb_get_geometry(connection_, root());
    if (sequence)
        *sequence = cookie.sequence;
    auto* r = xcb_get_geometry_reply(connection_, cookie, nullptr);
    const QSize size = r ? QSize(r->width, r->height) : QSize();
    free(r);
    return size;
}

QSize X11Connection::rootSize() const {
    if (!followsRootSize_.load())
        return askRootSize();
    const quint32 packed = rootSize_.load();
    return packed ? QSize(int(packed >> 16), int(packed & 0xffff)) : QSize();
}

void X11Connection::followRootSize() {
    // Added to what this client already selects on the root. The size is asked after the
    // selection, so a change between the two is noticed.
    auto* a = xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, root()), nullptr);
    const quint32 mask = (a ? a->your_event_mask : 0) | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    free(a);
    xcb_change_window_attributes(connection_, root(), XCB_CW_EVENT_MASK, &mask);
    refreshRootSize();
    followsRootSize_ = true;
}

void X11Connection::refreshRootSize() {
    unsigned int sequence = 0;
    const QSize size = askRootSize(&sequence);
    rootSize_ = size.isEmpty() ? 0 : quint32(size.width()) << 16 | quint32(size.height());
    askedAt_ = sequence;
}

void X11Connection::noteEvent(const xcb_generic_event_t* event) {
    if ((event->response_type & 0x7f) != XCB_CONFIGURE_NOTIFY)
        return;
    const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
    // A notice the server sent before it answered the last question is older than that answer.
    if (e->window == root() && event->full_sequence >= askedAt_.load())
        rootSize_ = quint32(e->width) << 16 | quint32(e->height);
}

bool X11Connection::compositorRunning() {
    const xcb_atom_t selection = atom(("_NET_WM_CM_S" + std::to_string(screenNumber_)).c_str());
    auto* r = xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection), nullptr);
    const bool owned = r && r->owner != XCB_NONE;
    free(r);
    return owned;
}

xcb_atom_t X11Connection::atom(const char* name) {
    {
        std::lock_guard lock(atomMutex_);
        auto it = atoms_.find(name);
        if (it != atoms_.end())
            return it->second;
    }
    auto* r = xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(r);
    std::lock_guard lock(atomMutex_);
    atoms_[name] = a;
    return a;
}

std::string X11Connection::stringProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    auto* r = xcb_get_property_reply(connection_, xcb_get_property(connection_, 0, window, property, type, 0, 4096), nullptr);
    std::string s;
    if (r && r->type == type && r->format == 8)
        s.assign(static_cast<const char*>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
    free(r);
    return s;
}

std::vector<quint32> X11Connection::cardinalProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    auto* r = xcb_get_property_reply(connection_, xcb_get_property(connection_, 0, window, property, type, 0, 1 << 16), nullptr);
    std::vector<quint32> v;
    if (r && r->type == type && r->format == 32) {
        const auto* p = static_cast<const quint32*>(xcb_get_property_value(r));
        v.assign(p, p + xcb_get_property_value_length(r) / 4);
    }
    free(r);
    return v;
}

}  // namespace platform
