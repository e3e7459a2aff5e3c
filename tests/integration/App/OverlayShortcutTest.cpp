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

#include <memory>
#include <set>

namespace {

// The real program on whatever X server DISPLAY names when it starts, driven by real key presses,
// with sounds off and its settings in a private home.
class OverlayShortcutTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")); }
    void TearDown() override {
        if (app.state() != QProcess::NotRunning) {
            app.kill();
            app.waitForFinished();
        }
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

    // Where the program's windows covering a display are: the overlay panels.
    std::multiset<std::pair<int, int>> panelPlaces(const XClient& x) const {
        std::multiset<std::pair<int, int>> places;
        auto tree = freed(xcb_query_tree_reply(x.c, xcb_query_tree(x.c, x.root), nullptr));
        if (!tree)
            return places;
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            const QRect g = x.geometry(children[i]);
            if (x.viewable(children[i]) && x.cardinal(children[i], "_NET_WM_PID") == quint32(app.processId()) &&
                g.size() == QSize(1920, 1080))
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
};

using Places = std::multiset<std::pair<int, int>>;

std::string describe(const Places& places) {
    std::string out;
    for (const auto& [x, y] : places)
        out += "+" + std::to_string(x) + "+" + std::to_string(y) + " ";
    return out;
}

// The shortcut toggles from the first moment: pressed again before the overlay's panels could
// appear (they wait for the desktop's picture), it closes the overlay and frees the keyboard.
TEST_F(OverlayShortcutTest, TheOverlayShortcutPressedTwiceAtOnceClosesTheOverlay) {
    launch();
    XClient x;
    ASSERT_TRUE(xdotool("mousemove 300 300 key --clearmodifiers --delay 0 ctrl+shift+6 ctrl+shift+6"));
    ASSERT_TRUE(waitUntil([&] { return log().find("[Zentola] Overlay already visible, hiding") != std::string::npos; },
                          10000))
        << log();
    EXPECT_TRUE(waitUntil([&] { return keyboardFree(x); }));
    EXPECT_TRUE(panelPlaces(x).empty());
    // And it opens again with the next press.
    ASSERT_TRUE(xdotool("key --clearmodifiers ctrl+shift+6"));
    EXPECT_TRUE(waitUntil([&] { return panelPlaces(x) == Places{{0, 0}, {1920, 0}}; }, 10000));
}

// On a server with real outputs: the panels follow monitors turned off (the other one then moves
// to the left edge), on again and moved, and with no monitor left the overlay closes and the
// keyboard is free.
TEST_F(OverlayShortcutTest, ThePanelsFollowMonitorsTurnedOffMovedAndOn_NoMonitorLeftClosesIt) {
    QTemporaryDir folder;
    live::OwnXorgServer xorg(folder.path());
    ASSERT_TRUE(xorg.start());
    launch();
    XClient x;
    ASSERT_TRUE(xdotool("mousemove 2500 400 key --clearmodifiers ctrl+shift+6"));
    ASSERT_TRUE(waitUntil([&] { return panelPlaces(x) == Places{{0, 0}, {1920, 0}}; }, 10000)) << log();
    EXPECT_FALSE(keyboardFree(x));

    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY0", "--off"}));
    EXPECT_TRUE(waitUntil([&] { return panelPlaces(x) == Places{{0, 0}}; }, 10000));
    EXPECT_FALSE(keyboardFree(x)) << "the overlay is still up";

    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY0", "--mode", "1920x1080", "--pos", "0x1080"}));
    EXPECT_TRUE(waitUntil([&] { return panelPlaces(x) == Places{{0, 0}, {0, 1080}}; }, 10000));
    // Side by side again; xrandr shifts the pair up to the top edge.
    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY1", "--pos", "1920x1080"}));
    EXPECT_TRUE(waitUntil([&] { return panelPlaces(x) == Places{{0, 0}, {1920, 0}}; }, 10000))
        << describe(panelPlaces(x));
    EXPECT_FALSE(keyboardFree(x));

    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY0", "--off", "--output", "DUMMY1", "--off"}));
    EXPECT_TRUE(waitUntil([&] { return keyboardFree(x); }, 10000));
    EXPECT_TRUE(panelPlaces(x).empty());
    EXPECT_EQ(app.state(), QProcess::Running);
}

}  // namespace
