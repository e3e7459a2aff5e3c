#include "Extensions/ScreenExt.h"
#include "Models/SelectionRect.h"

#include <QProcess>
#include <QScreen>

#include <xcb/randr.h>
#include <xcb/xtest.h>

#include <gtest/gtest.h>

#include <memory>

using namespace zentola;
using platform::Screen;
using platform::ScreenRef;

// Runs against the test X server: monitor "A" 1920x1080+0+0 on the screen's output and monitor "B"
// 1920x1080+1920+0 without an output, no window manager.
namespace {

template <typename Reply>
std::unique_ptr<Reply, decltype(&free)> owned(Reply* reply) {
    return {reply, &free};
}

ScreenRef named(const QString& name) {
    for (const ScreenRef& s : Screen::screens())
        if (s->name() == name)
            return s;
    return nullptr;
}

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
    void sync() { owned(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr)); }

    quint32 atom(const char* name) {
        const auto r = owned(xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, strlen(name), name), nullptr));
        return r ? r->atom : 0;
    }

    void setCardinals(const char* name, const std::vector<uint32_t>& v) {
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, root, atom(name), XCB_ATOM_CARDINAL, 32, v.size(), v.data());
        sync();
    }

    void xrandr(const QStringList& args) {
        changedMonitors = true;
        ASSERT_EQ(QProcess::execute("xrandr", args), 0) << args.join(' ').toStdString();
    }

    // Moves the pointer the way a real mouse would, through XTest, and reads it back.
    QPointF movePointer(int x, int y) {
        xcb_test_fake_input(conn, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, int16_t(x), int16_t(y), 0);
        sync();
        return Screen::mouseLocation();
    }

    xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
    bool changedMonitors = false;
};

}  // namespace

TEST_F(DisplayListTest, MonitorsWithNumbersBottomLeftFramesThePointerAndTheWorkArea) {
    const auto screens = Screen::screens();
    ASSERT_EQ(screens.size(), 2u);
    const ScreenRef a = screens[0], b = screens[1];
    EXPECT_EQ(a->name() + b->name(), "AB");
    EXPECT_TRUE(a->isPrimary() && !b->isPrimary());
    EXPECT_EQ(Screen::main(), a);
    EXPECT_EQ(a->frame(), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(b->frame(), QRectF(1920, 0, 1920, 1080));
    // Without a window manager nothing covers the displays.
    EXPECT_EQ(a->visibleFrame(), a->frame());
    // The same objects come back while the monitors stay connected.
    EXPECT_EQ(Screen::screens(), screens);

    // A is on the server's one output, "screen": its number is that output's id. B was made
    // without an output: its number is its name atom.
    const auto res = owned(xcb_randr_get_screen_resources_current_reply(
        conn, xcb_randr_get_screen_resources_current(conn, root), nullptr));
    ASSERT_EQ(xcb_randr_get_screen_resources_current_outputs_length(res.get()), 1);
    EXPECT_EQ(ScreenExt::displayID(a), xcb_randr_get_screen_resources_current_outputs(res.get())[0]);
    EXPECT_EQ(ScreenExt::displayID(b), atom("B"));
    EXPECT_EQ((SelectionRect{QPointF(10, 20), QSizeF(300, 200), atom("B")}).screen(), b);

    // Each display knows the toolkit's screen for placing windows.
    ASSERT_TRUE(a->qscreen() && b->qscreen());
    EXPECT_EQ(a->qscreen()->geometry(), QRect(0, 0, 1920, 1080));
    EXPECT_EQ(b->qscreen()->geometry(), QRect(1920, 0, 1920, 1080));

    // Corner pixels belong to the display they are on.
    EXPECT_EQ(movePointer(100, 100), QPointF(100, 980));
    EXPECT_EQ(ScreenExt::screenWithMouse(), a);
    EXPECT_EQ(movePointer(1919, 1079), QPointF(1919, 1));
    EXPECT_EQ(ScreenExt::screenWithMouse(), a);
    EXPECT_EQ(movePointer(1920, 0), QPointF(1920, 1080));
    EXPECT_EQ(ScreenExt::screenWithMouse(), b);

    // A 40-pixel panel along the top of the whole desktop, as a window manager would publish it.
    setCardinals("_NET_WORKAREA", {0, 40, 3840, 1040});
    EXPECT_EQ(Screen::screens()[0]->visibleFrame(), QRectF(0, 0, 1920, 1040));
    EXPECT_EQ(Screen::screens()[1]->visibleFrame(), QRectF(1920, 0, 1920, 1040));
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

TEST_F(DisplayListTest, ListFollowsMonitorChangesAndThePrimaryAndKeepsObjects) {
    const ScreenRef a = named("A"), b = named("B");
    ASSERT_TRUE(a && b);
    const auto idB = ScreenExt::displayID(b);

    // B shrinks and moves down (the server replaces a monitor by deleting it and adding it again);
    // then a third monitor appears.
    xrandr({"--delmonitor", "B"});
    xrandr({"--setmonitor", "B", "1280/339x720/190+2560+360", "none"});
    xrandr({"--setmonitor", "C", "640/169x360/95+1920+0", "none"});
    ASSERT_EQ(Screen::screens().size(), 3u);
    EXPECT_EQ(Screen::main(), a);
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

    // B made primary comes first and becomes the origin display, so A lies to its left.
    xrandr({"--delmonitor", "B"});
    xrandr({"--setmonitor", "*B", "1920/508x1080/285+1920+0", "none"});
    const auto screens = Screen::screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0]->name(), "B");
    EXPECT_TRUE(screens[0]->isPrimary() && !screens[1]->isPrimary());
    EXPECT_EQ(screens[0]->frame(), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(screens[1]->frame(), QRectF(-1920, 0, 1920, 1080));
    EXPECT_EQ(movePointer(10, 10), QPointF(-1910, 1070));
    EXPECT_EQ(ScreenExt::screenWithMouse(), screens[1]);
}
