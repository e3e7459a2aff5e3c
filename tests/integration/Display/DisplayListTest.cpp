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

using namespace zentola;
using platform::Screen;
using platform::ScreenRef;

// Runs against the test X server: monitor "A" 1920x1080+0+0 on the screen's output and monitor "B"
// 1920x1080+1920+0 without an output, no window manager.
namespace {

class DisplayListTest : public ::testing::Test {
protected:
    void SetUp() override {
        conn = xcb_connect(nullptr, nullptr);
        ASSERT_FALSE(xcb_connection_has_error(conn)) << "no X server";
        root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
    }
    void TearDown() override { xcb_disconnect(conn); }

    // Moves the pointer the way a real mouse would, through XTest.
    void movePointer(int x, int y) {
        xcb_test_fake_input(conn, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, static_cast<int16_t>(x),
                            static_cast<int16_t>(y), 0);
        free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));  // wait until it is done
    }

    quint32 atom(const char* name) {
        auto* r = xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 1, strlen(name), name), nullptr);
        quint32 a = r ? r->atom : 0;
        free(r);
        return a;
    }

    // The RandR output id of the output with the given name, 0 when there is none.
    quint32 outputNamed(const QByteArray& name) {
        auto* res = xcb_randr_get_screen_resources_current_reply(
            conn, xcb_randr_get_screen_resources_current(conn, root), nullptr);
        quint32 found = 0;
        const xcb_randr_output_t* outputs = res ? xcb_randr_get_screen_resources_current_outputs(res) : nullptr;
        for (int i = 0; res && i < xcb_randr_get_screen_resources_current_outputs_length(res); ++i) {
            auto* info = xcb_randr_get_output_info_reply(
                conn, xcb_randr_get_output_info(conn, outputs[i], res->config_timestamp), nullptr);
            if (info && QByteArray(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info)),
                                   xcb_randr_get_output_info_name_length(info)) == name)
                found = outputs[i];
            free(info);
        }
        free(res);
        return found;
    }

    static void xrandr(const QStringList& args) {
        ASSERT_EQ(QProcess::execute("xrandr", args), 0) << args.join(' ').toStdString();
    }

    static ScreenRef named(const QString& name) {
        for (const ScreenRef& s : Screen::screens())
            if (s->name() == name)
                return s;
        return nullptr;
    }

    xcb_connection_t* conn = nullptr;
    xcb_window_t root = 0;
};

}  // namespace

TEST_F(DisplayListTest, TwoMonitorsWithDistinctNumbersAndBottomLeftFrames) {
    const auto screens = Screen::screens();
    ASSERT_EQ(screens.size(), 2u);
    const ScreenRef a = screens[0], b = screens[1];
    EXPECT_EQ(a->name(), "A");
    EXPECT_EQ(b->name(), "B");
    EXPECT_TRUE(a->isPrimary());
    EXPECT_EQ(Screen::main(), a);
    EXPECT_EQ(a->frame(), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(b->frame(), QRectF(1920, 0, 1920, 1080));
    // Without a window manager nothing covers the displays.
    EXPECT_EQ(a->visibleFrame(), a->frame());
    EXPECT_EQ(b->backingScaleFactor(), 1.0);

    const auto idA = ScreenExt::displayID(a), idB = ScreenExt::displayID(b);
    ASSERT_TRUE(idA.has_value());
    ASSERT_TRUE(idB.has_value());
    EXPECT_NE(*idA, *idB);
    // B was made without an output: its number is its name atom.
    EXPECT_EQ(*idB, atom("B"));
    // A is on the server's output "screen": its number is that output's id.
    EXPECT_EQ(*idA, outputNamed("screen"));
    EXPECT_NE(*idA, 0u);

    // Each display knows the toolkit's screen for placing windows.
    ASSERT_NE(a->qscreen(), nullptr);
    ASSERT_NE(b->qscreen(), nullptr);
    EXPECT_NE(a->qscreen(), b->qscreen());
    EXPECT_EQ(b->qscreen()->geometry(), QRect(1920, 0, 1920, 1080));

    // The same objects come back while the monitors stay connected.
    const auto again = Screen::screens();
    EXPECT_EQ(again[0], a);
    EXPECT_EQ(again[1], b);
}

TEST_F(DisplayListTest, ScreenWithMouseFollowsThePointer) {
    const auto screens = Screen::screens();
    ASSERT_EQ(screens.size(), 2u);

    movePointer(100, 100);
    EXPECT_EQ(Screen::mouseLocation(), QPointF(100, 980));
    EXPECT_EQ(ScreenExt::screenWithMouse(), screens[0]);

    movePointer(2500, 700);
    EXPECT_EQ(Screen::mouseLocation(), QPointF(2500, 380));
    EXPECT_EQ(ScreenExt::screenWithMouse(), screens[1]);

    // Corner pixels belong to the display they are on.
    movePointer(1919, 1079);
    EXPECT_EQ(ScreenExt::screenWithMouse(), screens[0]);
    movePointer(1920, 0);
    EXPECT_EQ(Screen::mouseLocation(), QPointF(1920, 1080));
    EXPECT_EQ(ScreenExt::screenWithMouse(), screens[1]);
}

TEST_F(DisplayListTest, SelectionRectFindsItsDisplayByNumber) {
    const auto screens = Screen::screens();
    ASSERT_EQ(screens.size(), 2u);
    const SelectionRect onB{QPointF(10, 20), QSizeF(300, 200), *ScreenExt::displayID(screens[1])};
    EXPECT_EQ(onB.screen(), screens[1]);
    const SelectionRect nowhere{QPointF(10, 20), QSizeF(300, 200), 0xFFFFFFF0u};
    EXPECT_EQ(nowhere.screen(), nullptr);
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
    struct Restore {
        ~Restore() {
            QProcess::execute("xrandr", {"--delmonitor", "C"});
            QProcess::execute("xrandr", {"--delmonitor", "B"});
            QProcess::execute("xrandr", {"--setmonitor", "B", "1920/508x1080/285+1920+0", "none"});
        }
    } restore;

    const auto changed = Screen::screens();
    ASSERT_EQ(changed.size(), 3u);
    EXPECT_EQ(changed[0], a);
    EXPECT_EQ(named("B"), b);
    EXPECT_EQ(b->frame(), QRectF(2560, 0, 1280, 720));
    EXPECT_EQ(ScreenExt::displayID(b), idB);
    const ScreenRef c = named("C");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->frame(), QRectF(1920, 720, 640, 360));

    QProcess::execute("xrandr", {"--delmonitor", "C"});
    const auto after = Screen::screens();
    EXPECT_EQ(after.size(), 2u);
    EXPECT_EQ(named("C"), nullptr);
    // A rectangle drawn on the removed display no longer finds one.
    EXPECT_EQ((SelectionRect{QPointF(), QSizeF(10, 10), *ScreenExt::displayID(c)}).screen(), nullptr);
}

TEST_F(DisplayListTest, PrimaryMonitorComesFirstAndFramesCountFromIt) {
    xrandr({"--delmonitor", "B"});
    xrandr({"--setmonitor", "*B", "1920/508x1080/285+1920+0", "none"});
    struct Restore {
        ~Restore() {
            QProcess::execute("xrandr", {"--delmonitor", "B"});
            QProcess::execute("xrandr", {"--setmonitor", "B", "1920/508x1080/285+1920+0", "none"});
        }
    } restore;
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

TEST_F(DisplayListTest, VisibleFrameLeavesOutThePanelsOfTheWorkArea) {
    const quint32 workArea = atom("_NET_WORKAREA");
    ASSERT_NE(workArea, 0u);
    // A 40-pixel panel along the top of the whole desktop, as a window manager would publish it.
    const uint32_t area[4] = {0, 40, 3840, 1040};
    xcb_change_property(conn, XCB_PROP_MODE_REPLACE, root, workArea, XCB_ATOM_CARDINAL, 32, 4, area);
    xcb_flush(conn);
    free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
    const auto screens = Screen::screens();
    xcb_delete_property(conn, root, workArea);
    xcb_flush(conn);
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0]->frame(), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(screens[0]->visibleFrame(), QRectF(0, 0, 1920, 1040));
    EXPECT_EQ(screens[1]->visibleFrame(), QRectF(1920, 0, 1920, 1040));
    free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
    EXPECT_EQ(Screen::screens()[0]->visibleFrame(), QRectF(0, 0, 1920, 1080));
}

TEST_F(DisplayListTest, WorkAreaFollowsTheCurrentDesktopAndSurvivesABadIndex) {
    const quint32 workArea = atom("_NET_WORKAREA");
    const quint32 currentDesktop = atom("_NET_CURRENT_DESKTOP");
    auto publish = [&](std::uint32_t desktop) {
        // Two desktops: the first with a 40-pixel panel on top, the second with one of 100 pixels.
        const uint32_t areas[8] = {0, 40, 3840, 1040, 0, 100, 3840, 980};
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, root, workArea, XCB_ATOM_CARDINAL, 32, 8, areas);
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, root, currentDesktop, XCB_ATOM_CARDINAL, 32, 1, &desktop);
        free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
    };
    struct Restore {
        xcb_connection_t* c;
        xcb_window_t root;
        quint32 a, b;
        ~Restore() {
            xcb_delete_property(c, root, a);
            xcb_delete_property(c, root, b);
            free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        }
    } restore{conn, root, workArea, currentDesktop};

    publish(1);
    EXPECT_EQ(Screen::screens()[0]->visibleFrame(), QRectF(0, 0, 1920, 980));
    // A desktop number no list could hold falls back to the first desktop's area.
    for (std::uint32_t bad : {2u, 0x40000000u, 0xFFFFFFFFu}) {
        publish(bad);
        const auto screens = Screen::screens();
        ASSERT_EQ(screens.size(), 2u);
        EXPECT_EQ(screens[0]->visibleFrame(), QRectF(0, 0, 1920, 1040)) << bad;
    }
}
