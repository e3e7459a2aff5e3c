#include "platform/capture/X11WindowWatch.h"

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

}  // namespace

X11WindowWatch::X11WindowWatch() {
    int screenNumber = 0;
    connection_ = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection_))
        return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.data)
        return;
    clientList_ = internAtom(connection_, "_NET_CLIENT_LIST");
    clientListStacking_ = internAtom(connection_, "_NET_CLIENT_LIST_STACKING");
    // A window manager writes its lists once it has taken a window in, which may be after the
    // frame was mapped.
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                          XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, it.data->root, XCB_CW_EVENT_MASK, &mask);
    // Once answered, the selection is in place: later changes are all reported.
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    watching_ = !xcb_connection_has_error(connection_);
}

X11WindowWatch::~X11WindowWatch() { xcb_disconnect(connection_); }

bool X11WindowWatch::changed() {
    if (!watching_ || xcb_connection_has_error(connection_))
        return true;
    bool any = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            any = any || p->atom == clientList_ || p->atom == clientListStacking_;
        } else {
            any = true;  // a structure change, or an error
        }
        std::free(event);
    }
    return any || xcb_connection_has_error(connection_);
}

bool X11WindowWatch::changedUpToNow() {
    if (!watching_ || xcb_connection_has_error(connection_))
        return true;
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    return changed();
}

}  // namespace platform
