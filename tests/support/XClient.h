#pragma once

#include <QRect>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

template <typename R>
std::unique_ptr<R, decltype(&free)> freed(R* reply) {
    return {reply, &free};
}

// A second X connection, as another client (or a window manager) sees our windows.
struct XClient {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    XClient() = default;
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;
    ~XClient() { xcb_disconnect(c); }

    void sync() const { free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
    xcb_atom_t atom(const char* name) const {
        return freed(xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr))->atom;
    }
    bool viewable(xcb_window_t w) const {
        auto a = freed(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr));
        return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    }
    QRect geometry(xcb_window_t w) const {  // root coordinates
        auto g = freed(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
        auto at = freed(xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr));
        return g && at ? QRect(at->dst_x, at->dst_y, g->width, g->height) : QRect();
    }
    std::optional<quint32> cardinal(xcb_window_t w, const char* name) const {
        auto p = freed(xcb_get_property_reply(c, xcb_get_property(c, 0, w, atom(name), XCB_ATOM_CARDINAL, 0, 1), nullptr));
        if (!p || xcb_get_property_value_length(p.get()) < 4)
            return std::nullopt;
        return *static_cast<quint32*>(xcb_get_property_value(p.get()));
    }
    // The screen's colour at a root position, as 0xRRGGBB.
    std::optional<quint32> pixel(int x, int y) const {
        auto image = freed(xcb_get_image_reply(c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, x, y, 1, 1, ~0u), nullptr));
        if (!image || xcb_get_image_data_length(image.get()) < 4)
            return std::nullopt;
        quint32 value;
        std::memcpy(&value, xcb_get_image_data(image.get()), 4);
        return value & 0xFFFFFF;
    }
    // A mapped window of another application.
    xcb_window_t window(const char* wmClass) const {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root, 0, 0, 50, 50, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        const std::string value = std::string(wmClass) + '\0' + wmClass + '\0';
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, value.size(), value.data());
        xcb_map_window(c, w);
        sync();
        return w;
    }
    // What a window manager does when the user switches windows.
    void activate(xcb_window_t w) const {
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, w, XCB_CURRENT_TIME);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 32, 1, &w);
        sync();
    }
    xcb_window_t focus() const { return freed(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr))->focus; }
};
