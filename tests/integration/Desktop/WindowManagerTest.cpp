#include "Features/Onboarding/OnboardingWindowController.h"
#include "Features/Settings/SettingsWindowController.h"
#include "support/SettingsFixture.h"
#include "support/WaitUntil.h"
#include "support/XClient.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

using namespace zentola;

namespace {

// Our windows as a window manager (openbox) takes them: what it lists, and what it offers on them.
class WindowManagerTest : public SettingsFixture {
protected:
    void SetUp() override {
        SettingsFixture::SetUp();
        before = rootProperties();
        windowManager.start("openbox", {});
        // Up once it manages a window of another client.
        const xcb_window_t probe = x.window("probe");
        ASSERT_TRUE(waitUntil([&] { return managed(probe); }, 10000));
        xcb_destroy_window(x.c, probe);
        x.sync();
    }
    void TearDown() override {
        windowManager.terminate();
        windowManager.waitForFinished(3000);
        // What it leaves on the root would make later tests see a window manager.
        for (xcb_atom_t left : rootProperties())
            if (!before.count(left))
                xcb_delete_property(x.c, x.root, left);
        x.sync();
    }

    std::vector<xcb_atom_t> atoms(xcb_window_t w, const char* property, xcb_atom_t type = XCB_ATOM_ATOM) const {
        auto p = freed(xcb_get_property_reply(x.c, xcb_get_property(x.c, 0, w, x.atom(property), type, 0, 1024), nullptr));
        if (!p || p->format != 32)
            return {};
        const auto* v = static_cast<const xcb_atom_t*>(xcb_get_property_value(p.get()));
        return {v, v + xcb_get_property_value_length(p.get()) / 4};
    }
    bool has(xcb_window_t w, const char* property, const char* atom, xcb_atom_t type = XCB_ATOM_ATOM) const {
        const auto list = atoms(w, property, type);
        return std::find(list.begin(), list.end(), x.atom(atom)) != list.end();
    }
    std::set<xcb_atom_t> rootProperties() const {
        auto r = freed(xcb_list_properties_reply(x.c, xcb_list_properties(x.c, x.root), nullptr));
        return {xcb_list_properties_atoms(r.get()), xcb_list_properties_atoms(r.get()) + xcb_list_properties_atoms_length(r.get())};
    }
    // Managed: the window manager lists it among its clients.
    bool managed(xcb_window_t w) const {
        const auto clients = atoms(x.root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW);
        return std::find(clients.begin(), clients.end(), w) != clients.end();
    }

    XClient x;
    std::set<xcb_atom_t> before;
    QProcess windowManager;
};

TEST_F(WindowManagerTest, TheSettingsWindowIsAnOrdinaryWindow_InTheTaskbarAndWindowSwitcher) {
    SettingsWindowController::shared().setDependencies(dependencies());
    SettingsWindowController::shared().show();
    QWidget* window = SettingsWindowController::shared().window();
    ASSERT_NE(window, nullptr);
    const auto id = xcb_window_t(window->winId());
    ASSERT_TRUE(waitUntil([&] { return managed(id); }, 5000));
    const auto types = atoms(id, "_NET_WM_WINDOW_TYPE");
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types.front(), x.atom("_NET_WM_WINDOW_TYPE_NORMAL"));
    EXPECT_FALSE(has(id, "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_FALSE(has(id, "_NET_WM_STATE", "_NET_WM_STATE_SKIP_PAGER"));
    EXPECT_TRUE(has(id, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_MINIMIZE"));
    window->close();
}

// The window asks for a title and a close button only. Window managers that follow the Motif hints
// show just that; openbox keeps its minimise button whatever a window asks (by its own policy), but
// takes the fixed size: no maximising, no resizing.
TEST_F(WindowManagerTest, TheOnboardingWindowAsksForItsCloseButtonOnly) {
    OnboardingView::Environment env;
    env.preflightScreenCapture = env.isAccessibilityTrusted = env.hasMicrophonePermission = [] { return false; };
    OnboardingWindowController onboarding(env, [] {});
    onboarding.show([] {});
    const auto id = xcb_window_t(onboarding.window()->winId());
    ASSERT_TRUE(waitUntil([&] { return managed(id); }, 5000));
    // flags, functions, decorations: functions and decorations given, close and move among the
    // functions, neither minimise (8) nor maximise (16) in either.
    const auto motif = atoms(id, "_MOTIF_WM_HINTS", x.atom("_MOTIF_WM_HINTS"));
    ASSERT_GE(motif.size(), 3u);
    EXPECT_EQ(motif[0] & 3u, 3u);
    EXPECT_EQ(motif[1] & 0x24u, 0x24u);
    EXPECT_EQ(motif[1] & 0x18u, 0u);
    EXPECT_EQ(motif[2] & 0x61u, 0u);  // no "all", no minimise or maximise button
    ASSERT_TRUE(waitUntil([&] { return has(id, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_CLOSE"); }, 5000));
    for (const char* action : {"_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT", "_NET_WM_ACTION_RESIZE"})
        EXPECT_FALSE(has(id, "_NET_WM_ALLOWED_ACTIONS", action)) << action;
    onboarding.hide();
}

}  // namespace
