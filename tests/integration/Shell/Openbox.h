#pragma once

#include "support/WaitUntil.h"
#include "support/XClient.h"

#include <QProcess>

#include <algorithm>
#include <set>

// openbox on the test's display for the life of the object; what it leaves on the root, which would
// make later tests see a window manager, goes with it.
class Openbox {
public:
    Openbox() : before_(rootProperties()) {
        process_.start("openbox", {});
        const xcb_window_t probe = x_.window("probe");
        up_ = waitUntil([&] { return managed(probe); }, 10000);
        xcb_destroy_window(x_.c, probe);
        x_.sync();
    }
    ~Openbox() {
        process_.terminate();
        process_.waitForFinished(3000);
        for (xcb_atom_t left : rootProperties())
            if (!before_.count(left))
                xcb_delete_property(x_.c, x_.root, left);
        x_.sync();
    }
    // Up once it manages a window of another client.
    bool up() const { return up_; }
    // The window manager lists it among its clients.
    bool managed(xcb_window_t w) const {
        auto p = freed(xcb_get_property_reply(
            x_.c, xcb_get_property(x_.c, 0, x_.root, x_.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 1024), nullptr));
        if (!p)
            return false;
        const auto* v = static_cast<const xcb_window_t*>(xcb_get_property_value(p.get()));
        const auto* end = v + xcb_get_property_value_length(p.get()) / 4;
        return std::find(v, end, w) != end;
    }

private:
    std::set<xcb_atom_t> rootProperties() const {
        auto r = freed(xcb_list_properties_reply(x_.c, xcb_list_properties(x_.c, x_.root), nullptr));
        return {xcb_list_properties_atoms(r.get()), xcb_list_properties_atoms(r.get()) + xcb_list_properties_atoms_length(r.get())};
    }

    XClient x_;
    std::set<xcb_atom_t> before_;
    QProcess process_;
    bool up_ = false;
};
