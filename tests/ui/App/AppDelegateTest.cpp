#include "DelegateFixture.h"

#include "App/HotkeyManager.h"
#include "Features/Capture/CaptureManager.h"
#include "platform/core/Error.h"

using namespace zentola;
using Lines = std::vector<std::string>;

namespace {

const std::string stopping = "[Zentola] Recording active, stopping...";

class Triggers : public DelegateFixture {};

TEST_F(Triggers, OverlayTriggerStopsARunningRecordingBeforeLookingAtAnythingElse) {
    state = RecordingState::recording;
    screenPermission = false;
    secureInput = true;
    stopResult = QUrl::fromLocalFile("/tmp/Rec 1.mov");
    const Lines lines = run([&] { delegate->triggerCapture(); });
    EXPECT_EQ(lines, (Lines{"[Zentola] triggerCapture called", stopping, "[Zentola] Stopping recording...",
                            "[Zentola] Recording saved to: /tmp/Rec 1.mov"}));
    EXPECT_EQ(events, (std::vector<std::string>{"recorder.stop", "sound"}));
}

TEST_F(Triggers, SecureInputOnlyWarnsThenPermissionDecides) {
    secureInput = true;
    screenPermission = false;
    const Lines lines = run([&] { delegate->triggerCapture(); });
    EXPECT_EQ(lines, (Lines{"[Zentola] triggerCapture called",
                            "[Zentola] WARNING: SecureEventInput is enabled by another app - hotkeys may be blocked",
                            "[Zentola] No screen recording permission, showing onboarding"}));
    EXPECT_EQ(events, std::vector<std::string>{"onboarding"});
    EXPECT_EQ(delegate->overlayController(), nullptr);
}

TEST_F(Triggers, OverlayTriggerTogglesTheOverlay) {
    appState->setIsOverlayVisible(true);
    Lines lines = run([&] { delegate->triggerCapture(); });
    EXPECT_EQ(lines, (Lines{"[Zentola] triggerCapture called", "[Zentola] Creating overlay",
                            "[Zentola] Overlay show() called"}));
    ASSERT_NE(delegate->overlayController(), nullptr);
    EXPECT_FALSE(appState->isOverlayVisible());  // the clean-up before a new overlay

    appState->setIsOverlayVisible(true);
    appState->setHighlightedWindow(window(7, "Editor", "a.txt"));
    lines = run([&] { delegate->triggerCapture(); });
    EXPECT_EQ(lines, (Lines{"[Zentola] triggerCapture called", "[Zentola] Overlay already visible, hiding"}));
    EXPECT_EQ(delegate->overlayController(), nullptr);
    EXPECT_FALSE(appState->isOverlayVisible());
    EXPECT_FALSE(appState->highlightedWindow());
    EXPECT_EQ(events, (std::vector<std::string>{"overlay.make", "overlay.show", "overlay.hide"}));
}

TEST_F(Triggers, OverlayThatHidItselfIsReplacedAtTheNextTrigger) {
    delegate->triggerCapture();
    overlayPanels = false;  // captured or cancelled with Escape meanwhile
    events.clear();
    const Lines lines = run([&] { delegate->triggerCapture(); });
    EXPECT_EQ(lines.at(1), "[Zentola] Creating overlay");
    EXPECT_EQ(events, (std::vector<std::string>{"overlay.hide", "overlay.make", "overlay.show"}));
}

TEST_F(Triggers, InstantCaptureAndQuickRecordStopARecordingInsteadOfStarting) {
    for (auto trigger : {&AppDelegate::instantCapture, &AppDelegate::quickRecord}) {
        state = RecordingState::recording;
        const Lines lines = run([&] { (delegate.get()->*trigger)(); });
        EXPECT_EQ(lines, (Lines{stopping, "[Zentola] Stopping recording..."}));
    }
    EXPECT_TRUE(captures.empty());
    EXPECT_TRUE(recordings.empty());
}

TEST_F(Triggers, InstantCaptureAndQuickRecordWithoutPermissionOpenOnboardingSilently) {
    screenPermission = false;
    appState->setIsOverlayVisible(true);
    const Lines lines = run([&] {
        delegate->instantCapture();
        delegate->quickRecord();
    });
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(events, (std::vector<std::string>{"onboarding", "onboarding"}));
    EXPECT_TRUE(captures.empty());
    EXPECT_TRUE(recordings.empty());
}

TEST_F(Triggers, StopWhileStoppingOrWithoutAMovieDoesNothingMore) {
    state = RecordingState::stopping;
    EXPECT_TRUE(run([&] { delegate->stopRecording(); }).empty());
    EXPECT_TRUE(events.empty());

    state = RecordingState::recording;
    persistence->setPlaySounds(true);
    const Lines lines = run([&] { delegate->stopRecording(); });
    EXPECT_EQ(lines, Lines{"[Zentola] Stopping recording..."});
    EXPECT_EQ(events, std::vector<std::string>{"recorder.stop"});  // no movie, no sound
}

TEST_F(Triggers, SavedMovieWithSoundsOffPlaysNothing) {
    state = RecordingState::recording;
    persistence->setPlaySounds(false);
    stopResult = QUrl::fromLocalFile("/videos/a.mp4");
    const Lines lines = run([&] { delegate->stopRecording(); });
    EXPECT_EQ(lines.back(), "[Zentola] Recording saved to: /videos/a.mp4");
    EXPECT_EQ(events, std::vector<std::string>{"recorder.stop"});
}

class Targets : public DelegateFixture {
protected:
    void remember(const QString& mode) { store->setString("zentola.lastCaptureMode", mode); }
};

TEST_F(Targets, ScreenModeAndUnknownModesCaptureTheMainDisplay) {
    for (const char* mode : {"", "screen", "Window", "bogus"}) {
        if (*mode)
            remember(mode);
        run([&] { delegate->instantCapture(); });
    }
    ASSERT_EQ(captures.size(), 4u);
    for (const Call& c : captures) {
        EXPECT_EQ(c.mode, CaptureMode::screen);
        EXPECT_FALSE(c.rect);
        EXPECT_FALSE(c.window);
        EXPECT_EQ(c.screen, screen(0));
    }
}

TEST_F(Targets, WindowModeFindsOwnerAndTitleThenOwnerAlone) {
    remember("window");
    windows = {window(1, "Term", "build"), window(2, std::nullopt, "notes"), window(3, "Editor", "old.txt"),
               window(4, "Editor", "notes"), window(5, "Editor", std::nullopt)};
    store->setString("zentola.lastWindowOwnerName", "Editor");
    store->setString("zentola.lastWindowTitle", "notes");
    run([&] { delegate->instantCapture(); });
    store->setString("zentola.lastWindowTitle", "renamed");
    run([&] { delegate->quickRecord(); });
    store->remove("zentola.lastWindowTitle");
    run([&] { delegate->instantCapture(); });

    ASSERT_EQ(captures.size(), 2u);
    ASSERT_EQ(recordings.size(), 1u);
    EXPECT_EQ(captures[0].window->id, 4u);
    EXPECT_EQ(recordings[0].window->id, 3u);
    EXPECT_EQ(captures[1].window->id, 3u);
    for (const Call& c : {captures[0], captures[1], recordings[0]}) {
        EXPECT_EQ(c.mode, CaptureMode::window);
        EXPECT_FALSE(c.rect);
        EXPECT_EQ(c.screen, screen(0));
    }
}

TEST_F(Targets, WindowModeWithoutOwnerOrMatchFallsBackToTheScreen) {
    remember("window");
    windows = {window(1, "Term", "build")};
    run([&] { delegate->instantCapture(); });
    EXPECT_EQ(windowFetches, 0);  // no owner stored: the list is not asked
    store->setString("zentola.lastWindowOwnerName", "Editor");
    run([&] { delegate->instantCapture(); });
    EXPECT_EQ(windowFetches, 1);
    ASSERT_EQ(captures.size(), 2u);
    for (const Call& c : captures) {
        EXPECT_EQ(c.mode, CaptureMode::screen);
        EXPECT_FALSE(c.window);
        EXPECT_EQ(c.screen, screen(0));
    }
}

TEST_F(Targets, RectModeUsesTheSavedRectangleOnItsOwnDisplayWhileConnected) {
    remember("rect");
    run([&] { delegate->instantCapture(); });  // nothing saved yet
    const SelectionRect saved{QPointF(10, 20), QSizeF(300, 200), 22};
    persistence->setSavedRect(saved);
    run([&] { delegate->quickRecord(); });
    screens->setDisplays({platform::FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11)});
    run([&] { delegate->instantCapture(); });  // display 22 is gone

    ASSERT_EQ(captures.size(), 2u);
    ASSERT_EQ(recordings.size(), 1u);
    EXPECT_EQ(recordings[0].mode, CaptureMode::rect);
    EXPECT_EQ(recordings[0].rect, saved);
    EXPECT_EQ(recordings[0].screen->name(), "B");
    for (const Call& c : captures) {
        EXPECT_EQ(c.mode, CaptureMode::screen);
        EXPECT_FALSE(c.rect);
        EXPECT_EQ(c.screen->name(), "A");
    }
}

TEST_F(Targets, FailuresAreLoggedByTheirPlainText) {
    failure = std::make_exception_ptr(CaptureManager::CaptureError(CaptureManager::CaptureErrorCase::windowNotFound));
    EXPECT_EQ(run([&] { delegate->instantCapture(); }), Lines{"Instant capture failed: windowNotFound"});
    failure = std::make_exception_ptr(platform::PlatformError("X11", 3, "The display went away"));
    EXPECT_EQ(run([&] { delegate->quickRecord(); }), Lines{"[Zentola] Quick record failed: The display went away"});
    failure = nullptr;
    EXPECT_EQ(run([&] { delegate->quickRecord(); }), Lines{"[Zentola] Quick record started"});
    EXPECT_TRUE(run([&] { delegate->instantCapture(); }).empty());
}

TEST_F(Targets, NoDisplayMeansNoCaptureAndALogLine) {
    screens->setDisplays({});
    const Lines lines = run([&] {
        delegate->instantCapture();
        delegate->quickRecord();
    });
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_TRUE(captures.empty());
    EXPECT_TRUE(recordings.empty());
}

class Lifecycle : public DelegateFixture {};

TEST_F(Lifecycle, LaunchWithBothPermissionsSetsUpMenuAndShortcuts) {
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(events, std::vector<std::string>{"permission.check"});
    EXPECT_EQ(menuBars, 1);
    ASSERT_NE(delegate->hotkeyManager(), nullptr);
    EXPECT_TRUE(delegate->hotkeyManager()->hasCallbacks());
    EXPECT_EQ(center.live.size(), 3u);
}

class MissingPermission : public DelegateFixture, public testing::WithParamInterface<std::pair<bool, bool>> {};

TEST_P(MissingPermission, LaunchShowsOnlyOnboardingUntilItCompletes) {
    std::tie(screenPermission, accessibility) = GetParam();
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(events, (std::vector<std::string>{"permission.check", "onboarding"}));
    EXPECT_EQ(menuBars, 0);
    EXPECT_EQ(delegate->hotkeyManager(), nullptr);
    EXPECT_TRUE(center.live.empty());
    onboardingCompletion();
    EXPECT_EQ(menuBars, 1);
    EXPECT_NE(delegate->hotkeyManager(), nullptr);
    EXPECT_EQ(center.live.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(ScreenOrKeyboard, MissingPermission,
                         testing::Values(std::pair{false, true}, std::pair{true, false}));

TEST_F(Lifecycle, MenuCallbacksReachTheDelegateAndQuit) {
    delegate->startApp();
    ASSERT_EQ(menuCallbacks.size(), 4u);
    menuCallbacks[0]();  // Capture Screen
    ASSERT_NE(delegate->overlayController(), nullptr);
    menuCallbacks[1]();  // Cancel Capture
    EXPECT_EQ(delegate->overlayController(), nullptr);
    menuCallbacks[3]();
    EXPECT_EQ(events.back(), "quit");
    delegate.reset();
    menuCallbacks[0]();  // a released delegate is not called
}

TEST_F(Lifecycle, QuitReleasesShortcutsThenFinishesTheRecording) {
    delegate->startApp();
    state = RecordingState::recording;
    stopResult = QUrl::fromLocalFile("/tmp/x.mov");
    ASSERT_EQ(center.live.size(), 3u);
    QCoro::waitFor(delegate->applicationWillTerminate());
    EXPECT_TRUE(center.live.empty());
    EXPECT_EQ(events, std::vector<std::string>{"recorder.stop"});
    EXPECT_EQ(state, RecordingState::idle);
    EXPECT_EQ(GlobalShortcuts::getShortcut(GlobalShortcuts::Name::openOverlay()).has_value(), true);
}

}  // namespace
