#include "Extensions/ScreenExt.h"
#include "Models/SelectionRect.h"
#include "platform/display/Screen.h"

#include <QProcess>
#include <QScreen>

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace zentola;
using platform::Screen;
using platform::ScreenRef;

// Runs against the test X server: monitor "A" 1920x1080+0+0 on the screen's output and monitor "B"
// 1920x1080+1920+0 without an output, no window manager.
namespace {

class DisplayListTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (changedMonitors) {
            QProcess::execute("xrandr", {"--delmonitor", "C"});
            QProcess::execute("xrandr", {"--delmonitor", "B"});
            QProcess::execute("xrandr", {"--setmonitor", "B", "1920/508x1080/285+1920+0", "none"});
        }
        xcb_delete_property(conn, root, atom("_NET_WORKAREA"));
        xcb_delete_property(conn, root, atom("_NET_CURRENT_DESKTOP"));
        sync();
        xcb_disconnect(conn);
    }

    // Waits until the server has handled everything sent so far.
    void sync() { free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr)); }

    // Moves the pointer the way a real mouse would, through XTest.
    void movePointer(int x, int y) {
        xcb_test_fake_input(conn, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, int16_t(x), int16_t(y), 0);
        sync();
    }

    quint32 atom(const char* name) {
        auto* r = xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, strlen(name), name), nullptr);
        const quint32 a = r ? r->atom : 0;
        free(r);
        return a;
    }

    void setCardinals(const char* name, const std::vector<uint32_t>& values) {
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, root, atom(name), XCB_ATOM_CARDINAL, 32, values.size(),
                            values.data());
        sync();
    }

    void xrandr(const QStringList& args) {
        changedMonitors = true;
        ASSERT_EQ(QProcess::execute("xrandr", args), 0) << args.join(' ').toStdString();
    }

    static ScreenRef named(const QString& name) {
        for (const ScreenRef& s : Screen::screens())
            if (s->name() == name)
                return s;
        return nullptr;
    }

    xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
    bool changedMonitors = false;
};

}  // namespace

TEST_F(DisplayListTest, TwoMonitorsWithNumbersBottomLeftFramesAndThePointer) {
    const auto screens = Screen::screens();
    ASSERT_EQ(screens.size(), 2u);
    const ScreenRef a = screens[0], b = screens[1];
    EXPECT_EQ(a->name(), "A");
    EXPECT_EQ(b->name(), "B");
    EXPECT_TRUE(a->isPrimary());
    EXPECT_FALSE(b->isPrimary());
    EXPECT_EQ(Screen::main(), a);
    EXPECT_EQ(a->frame(), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(b->frame(), QRectF(1920, 0, 1920, 1080));
    // Without a window manager nothing covers the displays.
    EXPECT_EQ(a->visibleFrame(), a->frame());
    EXPECT_EQ(b->backingScaleFactor(), 1.0);

    // A is on the server's one output, "screen": its number is that output's id. B was made
    // without an output: its number is its name atom.
    auto* res = xcb_randr_get_screen_resources_current_reply(
        conn, xcb_randr_get_screen_resources_current(conn, root), nullptr);
    ASSERT_EQ(xcb_randr_get_screen_resources_current_outputs_length(res), 1);
    EXPECT_EQ(ScreenExt::displayID(a), xcb_randr_get_screen_resources_current_outputs(res)[0]);
    free(res);
    EXPECT_EQ(ScreenExt::displayID(b), atom("B"));
    EXPECT_EQ((SelectionRect{QPointF(10, 20), QSizeF(300, 200), atom("B")}).screen(), b);
    EXPECT_EQ((SelectionRect{QPointF(10, 20), QSizeF(300, 200), 0xFFFFFFF0u}).screen(), nullptr);

    // Each display knows the toolkit's screen for placing windows.
    ASSERT_TRUE(a->qscreen() && b->qscreen());
    EXPECT_EQ(a->qscreen()->geometry(), QRect(0, 0, 1920, 1080));
    EXPECT_EQ(b->qscreen()->geometry(), QRect(1920, 0, 1920, 1080));

    // The same objects come back while the monitors stay connected.
    EXPECT_EQ(Screen::screens(), screens);

    // Corner pixels belong to the display they are on.
    const struct { QPoint pixel; QPointF point; int screen; } cases[] = {
        {{100, 100}, {100, 980}, 0}, {{2500, 700}, {2500, 380}, 1},
        {{1919, 1079}, {1919, 1}, 0}, {{1920, 0}, {1920, 1080}, 1}};
    for (const auto& c : cases) {
        movePointer(c.pixel.x(), c.pixel.y());
        EXPECT_EQ(Screen::mouseLocation(), c.point);
        EXPECT_EQ(ScreenExt::screenWithMouse(), screens[c.screen]) << c.pixel.x() << "," << c.pixel.y();
    }
}

TEST_F(DisplayListTest, ListFollowsMonitorChangesAndKeepsObjects) {
    const ScreenRef a = named("A"), b = named("B");
    ASSERT_TRUE(a && b);
    const auto idB = ScreenExt::displayID(b);

    // B shrinks and moves down (the server replaces a monitor by deleting it and adding it again);
    // then a third monitor appears.
    xrandr({"--delmonitor", "B"});
    xrandr({"--setmonitor", "B", "1280/339x720/190+2560+360", "none"});
    xrandr({"--setmonitor", "C", "640/169x360/95+1920+0", "none"});
    const auto changed = Screen::screens();
    ASSERT_EQ(changed.size(), 3u);
    EXPECT_EQ(changed[0], a);
    EXPECT_EQ(named("B"), b);
    EXPECT_EQ(b->frame(), QRectF(2560, 0, 1280, 720));
    EXPECT_EQ(ScreenExt::displayID(b), idB);
    const ScreenRef c = named("C");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->frame(), QRectF(1920, 720, 640, 360));

    xrandr({"--delmonitor", "C"});
    EXPECT_EQ(Screen::screens().size(), 2u);
    EXPECT_EQ(named("C"), nullptr);
    // A rectangle drawn on the removed display no longer finds one.
    EXPECT_EQ((SelectionRect{QPointF(), QSizeF(10, 10), *ScreenExt::displayID(c)}).screen(), nullptr);
}

TEST_F(DisplayListTest, PrimaryMonitorComesFirstAndFramesCountFromIt) {
    xrandr({"--delmonitor", "B"});
    xrandr({"--setmonitor", "*B", "1920/508x1080/285+1920+0", "none"});
    const auto screens = Screen::screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0]->name(), "B");
    EXPECT_TRUE(screens[0]->isPrimary());
    EXPECT_FALSE(screens[1]->isPrimary());
    // B is now the origin display, so A lies to its left.
    EXPECT_EQ(screens[0]->frame(), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(screens[1]->frame(), QRectF(-1920, 0, 1920, 1080));
    movePointer(10, 10);
    EXPECT_EQ(Screen::mouseLocation(), QPointF(-1910, 1070));
    EXPECT_EQ(ScreenExt::screenWithMouse(), screens[1]);
}

TEST_F(DisplayListTest, VisibleFrameLeavesOutThePanelsOfTheCurrentDesktop) {
    // A 40-pixel panel along the top of the whole desktop, as a window manager would publish it.
    setCardinals("_NET_WORKAREA", {0, 40, 3840, 1040});
    const auto screens = Screen::screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0]->visibleFrame(), QRectF(0, 0, 1920, 1040));
    EXPECT_EQ(screens[1]->visibleFrame(), QRectF(1920, 0, 1920, 1040));

    // Two desktops, the second with a 100-pixel panel; a desktop number no list could hold reads
    // the first desktop's area.
    setCardinals("_NET_WORKAREA", {0, 40, 3840, 1040, 0, 100, 3840, 980});
    const std::pair<uint32_t, int> desktops[] = {{1, 980}, {2, 1040}, {0x40000000u, 1040}, {0xFFFFFFFFu, 1040}};
    for (const auto& [desktop, height] : desktops) {
        setCardinals("_NET_CURRENT_DESKTOP", {desktop});
        EXPECT_EQ(Screen::screens()[0]->visibleFrame(), QRectF(0, 0, 1920, height)) << desktop;
    }
    xcb_delete_property(conn, root, atom("_NET_WORKAREA"));
    sync();
    EXPECT_EQ(Screen::screens()[0]->visibleFrame(), QRectF(0, 0, 1920, 1080));
}
