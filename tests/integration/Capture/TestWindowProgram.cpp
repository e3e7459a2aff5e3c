// Maps plain coloured windows for the capture tests, from another process than the test's:
//   capture_test_window X,Y,W,H,RRGGBB[,o] ...   (o: override-redirect; later windows on top)
// Prints the window ids on one line once all are viewable, then waits for stdin to close.
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
    std::vector<xcb_window_t> windows;
    for (int i = 1; i < argc; ++i) {
        int x, y, w, h;
        unsigned colour;
        char flag = 0;
        if (std::sscanf(argv[i], "%d,%d,%d,%d,%x,%c", &x, &y, &w, &h, &colour, &flag) < 5)
            return 2;
        const xcb_window_t win = xcb_generate_id(c);
        const uint32_t values[] = {colour, flag == 'o' ? 1u : 0u};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, win, screen->root, int16_t(x), int16_t(y), uint16_t(w), uint16_t(h), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT,
                          values);
        const std::string title = "Test window " + std::to_string(i);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, win, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, title.size(), title.data());
        const char wmClass[] = "testwindow\0TestWindow";
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, win, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof(wmClass), wmClass);
        xcb_map_window(c, win);
        windows.push_back(win);
    }
    xcb_flush(c);
    for (xcb_window_t win : windows) {
        for (int tries = 0; tries < 200; ++tries) {
            auto* a = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, win), nullptr);
            const bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(a);
            if (viewable)
                break;
            usleep(5000);
        }
    }
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
