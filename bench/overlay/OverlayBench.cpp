// A second X client that drives the running app with XTest and times what a user waits for.
//
// zentola_overlay_bench overlay ROUNDS   Ctrl+Shift+6, from the key release until every monitor
//                                        shows the overlay (its left edge turns from the desktop's
//                                        colour to the screen-mode outline); Escape between rounds.
// zentola_overlay_bench shot ROUNDS DIR  Ctrl+Shift+7, from the key release until a new file
//                                        appears in DIR (the app names a file only once it is whole).
// zentola_overlay_bench exec ROUNDS FILE CMD...   CMD's whole run, from exec until it exits, with
//                                        FILE removed before each run and present after it.
// Each prints one line per round and then "median_ms=M".
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <sys/inotify.h>
#include <sys/wait.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

[[noreturn]] void die(const std::string& why) {
    std::fprintf(stderr, "zentola_overlay_bench: %s\n", why.c_str());
    std::exit(1);
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void report(const std::vector<double>& times) {
    for (std::size_t i = 0; i < times.size(); ++i)
        std::printf("  round %zu: %.1f ms\n", i + 1, times[i]);
    std::printf("median_ms=%.1f\n", median(times));
    std::fflush(stdout);
}

class X {
public:
    X() {
        c_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c_))
            die("cannot reach the X server");
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        symbols_ = xcb_key_symbols_alloc(c_);
    }
    ~X() {
        xcb_key_symbols_free(symbols_);
        xcb_disconnect(c_);
    }

    struct Monitor {
        int x, y, width, height;
    };
    std::vector<Monitor> monitors() {
        std::vector<Monitor> out;
        auto* r = xcb_randr_get_monitors_reply(c_, xcb_randr_get_monitors(c_, root_, 1), nullptr);
        if (!r)
            die("no monitors");
        for (auto it = xcb_randr_get_monitors_monitors_iterator(r); it.rem; xcb_randr_monitor_info_next(&it))
            out.push_back({it.data->x, it.data->y, it.data->width, it.data->height});
        free(r);
        return out;
    }

    std::uint32_t pixel(int x, int y) {
        auto* r = xcb_get_image_reply(c_, xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, x, y, 1, 1, ~0u), nullptr);
        std::uint32_t v = 0;
        if (r && xcb_get_image_data_length(r) >= 4)
            std::memcpy(&v, xcb_get_image_data(r), 4);
        free(r);
        return v & 0xffffff;
    }

    // Presses the keys in order, releases them in reverse; returns once the server has the last
    // release, the moment a shortcut that fires on release is due.
    Clock::time_point chord(const std::vector<xcb_keysym_t>& keys) {
        std::vector<xcb_keycode_t> codes;
        for (xcb_keysym_t k : keys) {
            xcb_keycode_t* found = xcb_key_symbols_get_keycode(symbols_, k);
            if (!found || *found == XCB_NO_SYMBOL)
                die("no key for a keysym");
            codes.push_back(*found);
            free(found);
        }
        for (xcb_keycode_t code : codes)
            xcb_test_fake_input(c_, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        for (auto it = codes.rbegin(); it != codes.rend(); ++it)
            xcb_test_fake_input(c_, XCB_KEY_RELEASE, *it, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        sync();
        return Clock::now();
    }

    void sync() { free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

private:
    xcb_connection_t* c_;
    xcb_window_t root_;
    xcb_key_symbols_t* symbols_;
};

constexpr xcb_keysym_t control = 0xffe3, shift = 0xffe1, escape = 0xff1b;

template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!condition())
        if (Clock::now() > end)
            return false;
    return true;
}

int overlay(int rounds) {
    X x;
    const auto monitors = x.monitors();
    // The middle of each monitor's left edge, where the screen-mode outline runs.
    std::vector<std::pair<int, int>> probes;
    for (const auto& m : monitors)
        probes.emplace_back(m.x, m.y + m.height / 2);
    std::vector<std::uint32_t> desktop;
    for (auto [px, py] : probes)
        desktop.push_back(x.pixel(px, py));
    auto all = [&](bool shown) {
        for (std::size_t i = 0; i < probes.size(); ++i)
            if ((x.pixel(probes[i].first, probes[i].second) != desktop[i]) != shown)
                return false;
        return true;
    };
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto released = x.chord({control, shift, '6'});
        if (!waitFor([&] { return all(true); }, 5s))
            die("the overlay did not show");
        times.push_back(ms(Clock::now() - released));
        x.chord({escape});
        if (!waitFor([&] { return all(false); }, 5s))
            die("the overlay did not go");
        std::this_thread::sleep_for(300ms);
    }
    report(times);
    return 0;
}

int shot(int rounds, const char* folder) {
    X x;
    const int watch = inotify_init1(IN_NONBLOCK);
    if (watch < 0 || inotify_add_watch(watch, folder, IN_CREATE | IN_MOVED_TO) < 0)
        die(std::string("cannot watch ") + folder);
    auto drain = [&] {
        char buffer[4096];
        while (read(watch, buffer, sizeof buffer) > 0) {
        }
    };
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        drain();
        const auto released = x.chord({control, shift, '7'});
        bool found = false;
        while (!found) {
            pollfd p{watch, POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0)
                die("no screenshot file appeared");
            alignas(inotify_event) char buffer[4096];
            const ssize_t n = read(watch, buffer, sizeof buffer);
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                // The app's temporary files are hidden; the screenshot appears under its own name.
                if (e->len > 0 && e->name[0] != '.')
                    found = true;
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
        times.push_back(ms(Clock::now() - released));
        // Let the card, flash and clipboard settle before the next one.
        std::this_thread::sleep_for(1500ms);
    }
    close(watch);
    report(times);
    return 0;
}

int exec(int rounds, const char* file, char** command) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        unlink(file);
        const auto start = Clock::now();
        const pid_t child = fork();
        if (child == 0) {
            execvp(command[0], command);
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        times.push_back(ms(Clock::now() - start));
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || access(file, R_OK) != 0)
            die(std::string(command[0]) + " did not write " + file);
        std::this_thread::sleep_for(200ms);
    }
    report(times);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 0;
    if (mode == "overlay" && rounds > 0)
        return overlay(rounds);
    if (mode == "shot" && rounds > 0 && argc > 3)
        return shot(rounds, argv[3]);
    if (mode == "exec" && rounds > 0 && argc > 4)
        return exec(rounds, argv[3], argv + 4);
    std::fprintf(stderr, "usage: %s overlay ROUNDS | shot ROUNDS DIR | exec ROUNDS FILE CMD...\n", argv[0]);
    return 2;
}
