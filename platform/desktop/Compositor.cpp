#include "platform/desktop/Compositor.h"

#include "platform/desktop/ApplicationX11.h"

#include <cstdlib>
#include <memory>
#include <string>

namespace platform {

bool Compositor::isRunning() {
    xcb_connection_t* c = x11::applicationConnection();
    if (!c)
        return true;

    int screen = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) == 0)
        screen = 0;
    std::free(host);

    const xcb_atom_t selection = x11::atom(c, "_NET_WM_CM_S" + std::to_string(screen));
    if (selection == XCB_ATOM_NONE)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr), &std::free);
    return owner && owner->owner != XCB_NONE;
}

}  // namespace platform
