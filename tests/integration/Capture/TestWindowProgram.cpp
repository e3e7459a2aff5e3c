// Maps plain coloured windows for the capture tests, from another process than the test's:
//   capture_test_window X,Y,W,H,RRGGBB[,d|,s] ...
// d: a dock; s: see-through, of a 32-bit visual as toolkits draw a shadow round a window: clear for
// 20 pixels from the edge, then 20 of black at half alpha, the colour opaque inside. Later windows
// on top. Prints the window ids on one line once all are mapped, then waits for stdin to close.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    auto atom = [c](const char* name) {
        auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        std::free(r);
        return a;
    };
    std::vector<xcb_window_t> windows;
    for (int i = 1; i < argc; ++i) {
        int x, y, w, h;
        unsigned colour;
        char flag = 0;
        if (std::sscanf(argv[i], "%d,%d,%d,%d,%x,%c", &x, &y, &w, &h, &colour, &flag) < 5)
            return 2;
        const xcb_window_t win = xcb_generate_id(c);
        if (flag == 's') {
            xcb_visualid_t visual = 0;
            for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem && !visual; xcb_depth_next(&d))
                if (d.data->depth == 32)
                    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem && !visual; xcb_visualtype_next(&v))
                        if (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR)
                            visual = v.data->visual_id;
            if (!visual)
                return 3;
            const xcb_colormap_t colormap = xcb_generate_id(c);
            xcb_create_colormap(c, XCB_COLORMAP_ALLOC_NONE, colormap, screen->root, visual);
            // Premultiplied, as the Render extension reads a 32-bit visual.
            const xcb_pixmap_t picture = xcb_generate_id(c);
            xcb_create_pixmap(c, 32, picture, screen->root, uint16_t(w), uint16_t(h));
            const xcb_gcontext_t gc = xcb_generate_id(c);
            xcb_create_gc(c, gc, picture, 0, nullptr);
            const struct {
                int inset;
                uint32_t pixel;
            } layers[] = {{0, 0}, {20, 0x80000000u}, {40, 0xff000000u | colour}};
            for (const auto& layer : layers) {
                xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &layer.pixel);
                const xcb_rectangle_t r{int16_t(layer.inset), int16_t(layer.inset), uint16_t(w - 2 * layer.inset),
                                        uint16_t(h - 2 * layer.inset)};
                xcb_poly_fill_rectangle(c, picture, gc, 1, &r);
            }
            xcb_free_gc(c, gc);
            const uint32_t values[] = {picture, 0, colormap};
            xcb_create_window(c, 32, win, screen->root, int16_t(x), int16_t(y), uint16_t(w), uint16_t(h), 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, visual, XCB_CW_BACK_PIXMAP | XCB_CW_BORDER_PIXEL | XCB_CW_COLORMAP,
                              values);
            xcb_free_pixmap(c, picture);
        } else {
            xcb_create_window(c, XCB_COPY_FROM_PARENT, win, screen->root, int16_t(x), int16_t(y), uint16_t(w), uint16_t(h), 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, &colour);
        }
        if (flag == 'd') {
            const xcb_atom_t dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, win, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &dock);
        }
        const std::string title = "Test window " + std::to_string(i);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, win, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, title.size(), title.data());
        const char wmClass[] = "testwindow\0TestWindow";
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, win, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof(wmClass), wmClass);
        xcb_map_window(c, win);
        windows.push_back(win);
    }
    // Without a window manager a window is viewable once the server has carried out its mapping.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    for (size_t i = 0; i < windows.size(); ++i)
        std::printf(i ? " %u" : "%u", windows[i]);
    std::printf("\n");
    std::fflush(stdout);
    char buffer[64];
    while (read(0, buffer, sizeof buffer) > 0) {
    }
    xcb_disconnect(c);
    return 0;
}
