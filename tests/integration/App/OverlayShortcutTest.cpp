#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/LiveDesktop.h"
#include "support/ProgramHome.h"
#include "support/WaitUntil.h"
#include "support/XClient.h"

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <memory>
#include <optional>
#include <set>

namespace {

// The real program on whatever X server DISPLAY names when it starts, driven by real key presses,
// with sounds off and its settings in a private home.
// With a compositing manager or without one (the parameter).
class OverlayShortcutTest : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")); }
    void TearDown() override {
        for (QProcess* p : {&app, &compositor})
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
    }

    // Starts xcompmgr on the current server when the test asks for one, and waits until it runs.
    void composite(const XClient& x) {
        if (!GetParam())
            return;
        compositor.start("xcompmgr", {});
        ASSERT_TRUE(compositor.waitForStarted());
        const xcb_atom_t selection = x.atom("_NET_WM_CM_S0");
        ASSERT_TRUE(waitUntil([&] {
            auto owner = freed(xcb_get_selection_owner_reply(x.c, xcb_get_selection_owner(x.c, selection), nullptr));
            return owner && owner->owner != XCB_NONE;
        }));
    }

    // Starts the program and waits until its shortcuts are taken.
    void launch() {
        ASSERT_TRUE(place.seed(QJsonObject{{"zentola.playSounds", false}}));
        place.start(app, QStringLiteral(ZENTOLA_APP_PATH));
        ASSERT_TRUE(app.waitForStarted());
        ASSERT_TRUE(waitUntil([&] { return settings().contains("GlobalShortcuts_quickRecord"); }, 15000)) << log();
    }
    QJsonObject settings() const { return place.settings(); }
    std::string log() const { return place.log(); }
    static bool xdotool(const QString& commands) { return QProcess::execute("xdotool", commands.split(' ')) == 0; }
    // The keys of the key symbols pressed in order and released in reverse at once, from this client.
    static void chord(const XClient& x, std::initializer_list<xcb_keysym_t> syms) {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(x.c);
        std::vector<xcb_keycode_t> codes;
        for (xcb_keysym_t sym : syms) {
            std::unique_ptr<xcb_keycode_t, decltype(&free)> code(xcb_key_symbols_get_keycode(symbols, sym), &free);
            codes.push_back(code ? *code : 0);
        }
        xcb_key_symbols_free(symbols);
        for (xcb_keycode_t code : codes)
            xcb_test_fake_input(x.c, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        for (auto it = codes.rbegin(); it != codes.rend(); ++it)
            xcb_test_fake_input(x.c, XCB_KEY_RELEASE, *it, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        x.sync();
    }
    // Ctrl+Shift+6.
    static void overlayChord(const XClient& x) { chord(x, {0xffe3u /* Control_L */, 0xffe1u /* Shift_L */, 0x36u /* 6 */}); }

    // Where the program's windows covering a display are: the overlay panels. Parked ones lie
    // outside the screen.
    std::multiset<std::pair<int, int>> panelPlaces(const XClient& x) const {
        std::multiset<std::pair<int, int>> places;
        auto tree = freed(xcb_query_tree_reply(x.c, xcb_query_tree(x.c, x.root), nullptr));
        if (!tree)
            return places;
        const QRect screen = x.geometry(x.root);
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            const QRect g = x.geometry(children[i]);
            if (x.viewable(children[i]) && x.cardinal(children[i], "_NET_WM_PID") == quint32(app.processId()) &&
                g.size() == QSize(1920, 1080) && g.intersects(screen))
                places.emplace(g.x(), g.y());
        }
        return places;
    }
    // Whether another client could take the pointer now; it gives it back at once.
    static bool pointerFree(const XClient& x) {
        auto grab = freed(xcb_grab_pointer_reply(
            x.c, xcb_grab_pointer(x.c, 0, x.root, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
            nullptr));
        const bool taken = grab && grab->status == XCB_GRAB_STATUS_SUCCESS;
        if (taken)
            xcb_ungrab_pointer(x.c, XCB_CURRENT_TIME);
        x.sync();
        return taken;
    }
    // Whether another client could take the keyboard now; it gives it back at once.
    static bool keyboardFree(const XClient& x) {
        auto grab = freed(xcb_grab_keyboard_reply(
            x.c, xcb_grab_keyboard(x.c, 0, x.root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr));
        const bool taken = grab && grab->status == XCB_GRAB_STATUS_SUCCESS;
        if (taken)
            xcb_ungrab_keyboard(x.c, XCB_CURRENT_TIME);
        x.sync();
        return taken;
    }

    // A real Xorg server of the test's own with two monitors, with the compositing manager and the
    // program on it, and this test's client of it.
    void startOnOwnServer() {
        xorg.emplace(serverFolder.path());
        ASSERT_TRUE(xorg->start());
        client.emplace();
        composite(*client);
        launch();
    }

    QTemporaryDir home;
    testing_support::ProgramHome place{home.path()};
    QProcess app;
    QProcess compositor;
    QTemporaryDir serverFolder;
    std::optional<live::OwnXorgServer> xorg;
    std::optional<XClient> client;
};

using Places = std::multiset<std::pair<int, int>>;

std::string describe(const Places& places) {
    std::string out;
    for (const auto& [x, y] : places)
        out += "+" + std::to_string(x) + "+" + std::to_string(y) + " ";
    return out;
}

// The shortcut toggles from the first moment: pressed again the moment the overlay has taken the keyboard,
// before its panels could appear (without a compositor they wait for the desktop's picture), it closes
// the overlay and frees the keyboard.
TEST_P(OverlayShortcutTest, TheOverlayShortcutPressedTwiceAtOnceClosesTheOverlay) {
    XClient x;
    composite(x);
    launch();
    ASSERT_TRUE(xdotool("mousemove 300 300"));
    overlayChord(x);
    // Read from the log, as trying to take the keyboard could keep the overlay from taking it.
    ASSERT_TRUE(waitUntil([&] { return log().find("[Zentola] Overlay show() called") != std::string::npos; }, 10000))
        << log();
    overlayChord(x);
    ASSERT_TRUE(waitUntil([&] { return log().find("[Zentola] Overlay already visible, hiding") != std::string::npos; },
                          10000))
        << log();
    EXPECT_TRUE(waitUntil([&] { return keyboardFree(x); }));
    EXPECT_TRUE(waitUntil([&] { return panelPlaces(x).empty(); }));
    // And it opens again with the next press.
    ASSERT_TRUE(xdotool("key --clearmodifiers ctrl+shift+6"));
    EXPECT_TRUE(waitUntil([&] { return panelPlaces(x) == Places{{0, 0}, {1920, 0}}; }, 10000));
}

// On a server with real outputs: the panels follow monitors turned off (the other one then moves
// to the left edge), on again and moved, and with no monitor left the overlay closes and the
// keyboard is free.
TEST_P(OverlayShortcutTest, ThePanelsFollowMonitorsTurnedOffMovedAndOn_NoMonitorLeftClosesIt) {
    ASSERT_NO_FATAL_FAILURE(startOnOwnServer());
    const XClient& x = *client;
    ASSERT_TRUE(xdotool("mousemove 2500 400 key --clearmodifiers ctrl+shift+6"));
    ASSERT_TRUE(waitUntil([&] { return panelPlaces(x) == Places{{0, 0}, {1920, 0}}; }, 10000)) << log();
    // Probing the grab only while the overlay is settled: a grab tried while it hands the keyboard
    // from one of its windows to another could take it.
    EXPECT_FALSE(keyboardFree(x));

    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY0", "--off"}));
    EXPECT_TRUE(waitUntil([&] { return panelPlaces(x) == Places{{0, 0}}; }, 10000));

    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY0", "--mode", "1920x1080", "--pos", "0x1080"}));
    EXPECT_TRUE(waitUntil([&] { return panelPlaces(x) == Places{{0, 0}, {0, 1080}}; }, 10000));
    // Side by side again; xrandr shifts the pair up to the top edge.
    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY1", "--pos", "1920x1080"}));
    EXPECT_TRUE(waitUntil([&] { return panelPlaces(x) == Places{{0, 0}, {1920, 0}}; }, 10000))
        << describe(panelPlaces(x));

    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY0", "--off", "--output", "DUMMY1", "--off"}));
    EXPECT_TRUE(waitUntil([&] { return keyboardFree(x); }, 10000));
    EXPECT_TRUE(waitUntil([&] { return panelPlaces(x).empty(); }));
    EXPECT_EQ(app.state(), QProcess::Running);
}

// A window of another program that counts the key presses it is given.
struct KeyCountingWindow {
    const XClient& x;
    xcb_window_t id = xcb_generate_id(x.c);
    int presses = 0;
    KeyCountingWindow(const XClient& client, QRect at) : x(client) {
        const quint32 mask = XCB_EVENT_MASK_KEY_PRESS;
        xcb_create_window(x.c, XCB_COPY_FROM_PARENT, id, x.root, at.x(), at.y(), at.width(), at.height(), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        const std::string wmClass = std::string("other") + '\0' + "Other" + '\0';
        xcb_change_property(x.c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.size(),
                            wmClass.data());
        xcb_map_window(x.c, id);
        x.sync();
    }
    // Takes in what arrived so far.
    int count() {
        while (xcb_generic_event_t* e = xcb_poll_for_event(x.c)) {
            if ((e->response_type & 0x7f) == XCB_KEY_PRESS && reinterpret_cast<xcb_key_press_event_t*>(e)->event == id)
                ++presses;
            free(e);
        }
        return presses;
    }
};

// The overlay's panels stay mapped out of sight once it closes, so they let go of the input as a
// window that goes away would: without a window manager the keys go to the window under the
// pointer, under one to the window that had them before the overlay; a mouse button held while it
// closes leaves the pointer free. The first showing makes the panels, the second parks them again.
TEST_P(OverlayShortcutTest, OnceTheOverlayClosesTheKeysAndThePointerGoWhereTheyWentBefore) {
    ASSERT_NO_FATAL_FAILURE(startOnOwnServer());
    const XClient& x = *client;
    KeyCountingWindow other(x, QRect(200, 200, 600, 400));
    QProcess windowManager;
    for (const bool managed : {false, true}) {
        if (managed) {
            windowManager.start("openbox", {});
            ASSERT_TRUE(windowManager.waitForStarted());
            ASSERT_TRUE(waitUntil([&] { return x.cardinal(x.root, "_NET_NUMBER_OF_DESKTOPS").has_value(); }, 10000));
            // The window manager frames the window; a click on it gives it the focus.
            ASSERT_TRUE(waitUntil([&] {
                xdotool("mousemove 500 400 click 1");
                return x.focus() == other.id;
            }, 10000));
        } else {
            ASSERT_TRUE(xdotool("mousemove 500 400"));
        }
        for (int showing = 1; showing <= 2; ++showing) {
            const std::string when = (managed ? "openbox, showing " : "no window manager, showing ") + std::to_string(showing);
            overlayChord(x);
            ASSERT_TRUE(waitUntil([&] { return panelPlaces(x) == Places{{0, 0}, {1920, 0}}; }, 10000)) << when << log();
            // Pressed on the overlay and still held as it closes.
            ASSERT_TRUE(xdotool("mousedown 1"));
            chord(x, {0xff1bu /* Escape */});
            ASSERT_TRUE(waitUntil([&] { return panelPlaces(x).empty(); }, 10000)) << when;
            EXPECT_TRUE(waitUntil([&] { return pointerFree(x); })) << when;
            ASSERT_TRUE(xdotool("mouseup 1"));
            // The window manager hands the focus on in steps: a key typed meanwhile may go astray.
            EXPECT_TRUE(waitUntil([&] { return x.focus() == (managed ? other.id : x.root); })) << when;
            const int before = other.count();
            chord(x, {0x61u /* a */});
            EXPECT_TRUE(waitUntil([&] { return other.count() == before + 1; })) << when;
        }
    }
    // Nor does the window manager list a panel as a window of its own.
    auto clients = freed(xcb_get_property_reply(
        x.c, xcb_get_property(x.c, 0, x.root, x.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 1024), nullptr));
    ASSERT_TRUE(clients);
    const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(clients.get()));
    for (int i = 0; i < xcb_get_property_value_length(clients.get()) / 4; ++i)
        EXPECT_NE(x.cardinal(ids[i], "_NET_WM_PID"), quint32(app.processId()));
    windowManager.terminate();
    windowManager.waitForFinished(3000);
}

// Monitors turned off, on and moved while the overlay is closed: its kept panels stay out of sight
// and it covers the new arrangement when it opens again.
TEST_P(OverlayShortcutTest, MonitorsRearrangedWhileTheOverlayIsClosedAreCoveredWhenItOpensAgain) {
    ASSERT_NO_FATAL_FAILURE(startOnOwnServer());
    const XClient& x = *client;
    ASSERT_TRUE(xdotool("mousemove 300 300"));
    const auto openAndClose = [&](const Places& expected) {
        overlayChord(x);
        EXPECT_TRUE(waitUntil([&] { return panelPlaces(x) == expected; }, 10000)) << describe(panelPlaces(x)) << log();
        chord(x, {0xff1bu /* Escape */});
        EXPECT_TRUE(waitUntil([&] { return panelPlaces(x).empty(); }, 10000)) << describe(panelPlaces(x));
    };
    openAndClose({{0, 0}, {1920, 0}});
    // The right monitor moves to the left edge.
    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY0", "--off"}));
    openAndClose({{0, 0}});
    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY0", "--mode", "1920x1080", "--pos", "0x1080"}));
    openAndClose({{0, 0}, {0, 1080}});
    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY1", "--pos", "1920x1080"}));
    openAndClose({{0, 0}, {1920, 0}});
    EXPECT_EQ(app.state(), QProcess::Running);
}

INSTANTIATE_TEST_SUITE_P(Desktops, OverlayShortcutTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "WithACompositor" : "Plain"; });

}  // namespace
