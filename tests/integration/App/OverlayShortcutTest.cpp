#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/LiveDesktop.h"
#include "support/WaitUntil.h"
#include "support/XClient.h"

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <memory>
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
        QDir root(home.path());
        root.mkpath("config/zentola");
        root.mkpath("run");
        QFile::setPermissions(root.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile seed(root.filePath("config/zentola/defaults.json"));
        ASSERT_TRUE(seed.open(QIODevice::WriteOnly));
        seed.write(QJsonDocument(QJsonObject{{"zentola.playSounds", false}}).toJson());
        seed.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", root.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", root.filePath("run"));
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.setStandardOutputFile(root.filePath("log"));
        app.start(QStringLiteral(ZENTOLA_APP_PATH));
        ASSERT_TRUE(app.waitForStarted());
        ASSERT_TRUE(waitUntil([&] { return settings().contains("GlobalShortcuts_quickRecord"); }, 15000)) << log();
    }
    QJsonObject settings() const {
        QFile f(home.filePath("config/zentola/defaults.json"));
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    }
    std::string log() const {
        QFile f(home.filePath("log"));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }
    static bool xdotool(const QString& commands) { return QProcess::execute("xdotool", commands.split(' ')) == 0; }
    // Ctrl+Shift+6 at once, from this client.
    static void overlayChord(const XClient& x) {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(x.c);
        std::vector<xcb_keycode_t> codes;
        for (xcb_keysym_t sym : {0xffe3u /* Control_L */, 0xffe1u /* Shift_L */, 0x36u /* 6 */}) {
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

    QTemporaryDir home;
    QProcess app;
    QProcess compositor;
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
    QTemporaryDir folder;
    live::OwnXorgServer xorg(folder.path());
    ASSERT_TRUE(xorg.start());
    XClient x;
    composite(x);
    launch();
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

INSTANTIATE_TEST_SUITE_P(Desktops, OverlayShortcutTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "WithACompositor" : "Plain"; });

}  // namespace
