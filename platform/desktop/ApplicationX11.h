#pragma once

#include <xcb/xcb.h>

#include <string>

namespace platform::x11 {

// The application's own connection to the X server (the toolkit's), or null on another platform.
xcb_connection_t* applicationConnection();
// The atom of the name; XCB_ATOM_NONE when it cannot be had (or, onlyIfExists, when no client
// has made it yet).
xcb_atom_t atom(xcb_connection_t* c, const std::string& name, bool onlyIfExists = false);

}  // namespace platform::x11
