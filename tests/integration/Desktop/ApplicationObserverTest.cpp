#include "platform/desktop/Workspace.h"
#include "support/WaitUntil.h"
#include "support/XClient.h"

#include <gtest/gtest.h>

#include <malloc.h>

namespace {

using Event = platform::Workspace::ApplicationEvent;

// Freed memory is scribbled over while it lives, so using an object after it was freed fails here
// at once rather than by chance.
struct ScribbledFrees {
    ScribbledFrees() { mallopt(M_PERTURB, 0xa5); }
    ~ScribbledFrees() { mallopt(M_PERTURB, 0); }
};

// As the Video tab's observer does: the last observer removes itself in its own callback, which ends
// the watch of the active window while it is still reporting. Then again, with a new watch.
TEST(ApplicationObservers, TheLastOneRemovedInItsOwnCallback_LaterOnesStillHearOfChanges) {
    ScribbledFrees scribbled;
    XClient x;
    const xcb_window_t editor = x.window("gedit"), terminal = x.window("xterm");
    x.activate(editor);
    for (const Event event : {Event::didDeactivate, Event::didActivate}) {
        std::vector<QString> heard;
        platform::Workspace::ObserverToken token = 0;
        token = platform::Workspace::addApplicationObserver(event, [&](const platform::RunningApplication& app) {
            heard.push_back(app.bundleIdentifier);
            platform::Workspace::removeApplicationObserver(token);
        });
        const xcb_window_t other = x.focus() == editor ? terminal : editor;
        x.activate(other);
        ASSERT_TRUE(waitUntil([&] { return !heard.empty(); }, 5000));
        EXPECT_EQ(heard.size(), 1u);

        // Gone with its observer: a new observer starts a watch of its own and hears the next switch.
        std::vector<QString> later;
        const auto next = platform::Workspace::addApplicationObserver(
            Event::didActivate, [&](const platform::RunningApplication& app) { later.push_back(app.bundleIdentifier); });
        x.activate(other == editor ? terminal : editor);
        EXPECT_TRUE(waitUntil([&] { return !later.empty(); }, 5000));
        EXPECT_EQ(later, std::vector<QString>{other == editor ? "xterm" : "gedit"});
        platform::Workspace::removeApplicationObserver(next);
        EXPECT_EQ(heard.size(), 1u);
    }
    xcb_destroy_window(x.c, editor);
    xcb_destroy_window(x.c, terminal);
    x.sync();
}

}  // namespace
