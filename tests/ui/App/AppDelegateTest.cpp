#include "App/AppDelegate.h"
#include "App/AppState.h"
#include "App/HotkeyManager.h"
#include "Features/Capture/CaptureManager.h"
#include "Services/PersistenceManager.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "platform/core/Error.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/desktop/UserNotice.h"
#include "platform/display/FakeScreenProvider.h"
#include "support/Printed.h"
#include "unit/GlobalShortcuts/FakeHotKeyCenter.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

using namespace zentola;
using Lines = std::vector<std::string>;
using Events = Lines;

namespace {

// A delegate over fakes, with a private defaults store and two displays: "A" (number 11, the main
// one) and "B" (22). What the delegate asks for lands in events, as text.
class DelegateFixture : public testing::Test {
protected:
    class FakeOverlay : public zentola::AppDelegate::Overlay {
    public:
        explicit FakeOverlay(DelegateFixture& f) : f_(f) {}
        void show() override { f_.events.push_back("overlay.show"), f_.overlayPanels = true; }
        void hide() override { f_.events.push_back("overlay.hide"), f_.overlayPanels = false; }
        bool hasPanels() const override { return f_.overlayPanels; }

    private:
        DelegateFixture& f_;
    };

    void SetUp() override {
        GlobalShortcuts::setDefaultsStore(&store);
        platform::HotKeyCenter::setShared(&center);
        GlobalShortcuts::resetForTesting();
        screens->setDisplays({platform::FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11),
                              platform::FakeScreenProvider::display("B", QRect(1920, 0, 1280, 1024), 22)});
        delegate = std::make_unique<zentola::AppDelegate>(appState, environment());
    }
    void TearDown() override {
        delegate.reset();
        GlobalShortcuts::resetForTesting();
        platform::HotKeyCenter::setShared(nullptr);
        GlobalShortcuts::setDefaultsStore(nullptr);
    }

    // "capture window 4 on A", "record rect 10,20 300x200 on B".
    zentola::AppDelegate::CaptureCall call(const char* what) {
        return [this, what](zentola::CaptureMode m, std::optional<zentola::SelectionRect> r,
                            std::optional<zentola::WindowInfo> w, platform::ScreenRef s) -> QCoro::Task<void> {
            std::string e = std::string(what) + " " + m.rawValue().toStdString();
            if (w)
                e += " " + std::to_string(w->id);
            if (r)
                e += QString(" %1,%2 %3x%4").arg(r->origin.x()).arg(r->origin.y()).arg(r->size.width()).arg(r->size.height()).toStdString();
            events.push_back(e + " on " + s->name().toStdString());
            if (failure)
                std::rethrow_exception(failure);
            co_return;
        };
    }

    zentola::AppDelegate::Environment environment() {
        using namespace zentola;
        AppDelegate::Environment env;
        env.recordingState = [this] { return state; };
        env.stopRecording = [this]() -> QCoro::Task<std::optional<QUrl>> {
            events.push_back("recorder.stop");
            state = RecordingState::idle;
            co_return stopResult;
        };
        env.startRecording = call("record");
        env.performCaptureWorkflow = call("capture");
        env.windows = [this] { return events.push_back("windows"), windows; };
        env.checkScreenRecordingPermission = [this] { events.push_back("permission.check"); };
        env.hasScreenRecordingPermission = [this] { return screenPermission; };
        env.isAccessibilityTrusted = [this] { return accessibility; };
        env.isSecureEventInputEnabled = [this] { return secureInput; };
        env.defaults = [this]() -> platform::DefaultsStore& { return store; };
        env.savedRect = [this] { return persistence.savedRect(); };
        env.playSounds = [this] { return persistence.playSounds(); };
        env.playShutterSound = [this] { events.push_back("sound"); };
        env.defaultScreen = [] { return platform::Screen::main(); };
        env.showOnboarding = [this](std::function<void()> done) {
            events.push_back("onboarding");
            onboardingCompletion = std::move(done);
        };
        env.makeOverlay = [this](AppState&) -> std::unique_ptr<AppDelegate::Overlay> {
            events.push_back("overlay.make");
            return std::make_unique<FakeOverlay>(*this);
        };
        env.makeMenuBar = [this](auto capture, auto cancel, auto stop, auto quit) {
            events.push_back("menubar");
            menuCallbacks = {capture, cancel, stop, quit};
            return std::unique_ptr<MenuBarController>();
        };
        env.quit = [this] { events.push_back("quit"); };
        return env;
    }

    static zentola::WindowInfo window(quint32 id, std::optional<QString> owner, std::optional<QString> title) {
        return zentola::WindowInfo{id, title, owner, 1, QRectF(0, 0, 400, 300), 0, true};
    }

    static Lines run(const std::function<void()>& action) { return printedBy(action); }

    QTemporaryDir dir;
    platform::DefaultsStore store{dir.filePath("defaults.json")};
    zentola::PersistenceManager persistence{store};
    zentola::AppState appState{persistence};
    FakeHotKeyCenter center;
    platform::FakeScreenProvider::Installation screens = platform::FakeScreenProvider::install();
    std::unique_ptr<zentola::AppDelegate> delegate;

    zentola::RecordingState state = zentola::RecordingState::idle;
    std::optional<QUrl> stopResult;
    bool screenPermission = true, accessibility = true, secureInput = false, overlayPanels = false;
    std::exception_ptr failure;
    std::vector<zentola::WindowInfo> windows;
    std::vector<zentola::MenuBarController::Callback> menuCallbacks;
    std::function<void()> onboardingCompletion;
    std::vector<std::string> events;
};

const std::string stopping = "[Zentola] Recording active, stopping...", stopLine = "[Zentola] Stopping recording...";

TEST_F(DelegateFixture, OverlayTriggerStopsARecordingWarnsAsksForPermissionThenToggles) {
    state = RecordingState::recording;
    secureInput = true;
    stopResult = QUrl::fromLocalFile("/tmp/Rec 1.mov");
    EXPECT_EQ(run([&] { delegate->triggerCapture(); }),
              (Lines{"[Zentola] triggerCapture called", stopping, stopLine, "[Zentola] Recording saved to: /tmp/Rec 1.mov"}));
    screenPermission = false;
    EXPECT_EQ(run([&] { delegate->triggerCapture(); }),
              (Lines{"[Zentola] triggerCapture called",
                     "[Zentola] WARNING: SecureEventInput is enabled by another app - hotkeys may be blocked",
                     "[Zentola] No screen recording permission, showing onboarding"}));
    screenPermission = true;
    secureInput = false;
    appState.setIsOverlayVisible(true);
    EXPECT_EQ(run([&] { delegate->triggerCapture(); }),
              (Lines{"[Zentola] triggerCapture called", "[Zentola] Creating overlay", "[Zentola] Overlay show() called"}));
    EXPECT_FALSE(appState.isOverlayVisible());  // the clean-up before a new overlay
    appState.setHighlightedWindow(window(7, "Editor", "a.txt"));
    EXPECT_EQ(run([&] { delegate->triggerCapture(); }),
              (Lines{"[Zentola] triggerCapture called", "[Zentola] Overlay already visible, hiding"}));
    EXPECT_EQ(delegate->overlayController(), nullptr);
    EXPECT_FALSE(appState.highlightedWindow());
    delegate->triggerCapture();
    overlayPanels = false;  // it captured or was cancelled with Escape meanwhile: replaced at the next trigger
    delegate->triggerCapture();
    EXPECT_EQ(events, (Events{"recorder.stop", "sound", "onboarding", "overlay.make", "overlay.show", "overlay.hide",
                              "overlay.make", "overlay.show", "overlay.hide", "overlay.make", "overlay.show"}));
}

TEST_F(DelegateFixture, InstantCaptureAndQuickRecordStopARecordingOrOpenOnboardingSilently) {
    for (auto trigger : {&AppDelegate::instantCapture, &AppDelegate::quickRecord}) {
        state = RecordingState::recording;
        EXPECT_EQ(run([&] { (delegate.get()->*trigger)(); }), (Lines{stopping, stopLine}));
    }
    screenPermission = false;
    EXPECT_TRUE(run([&] { delegate->instantCapture(), delegate->quickRecord(); }).empty());
    state = RecordingState::stopping;  // a stop under way is not repeated
    EXPECT_TRUE(run([&] { delegate->stopRecording(); }).empty());
    state = RecordingState::recording;
    persistence.setPlaySounds(false);
    stopResult = QUrl::fromLocalFile("/videos/a.mp4");
    EXPECT_EQ(run([&] { delegate->stopRecording(); }).back(), "[Zentola] Recording saved to: /videos/a.mp4");
    EXPECT_EQ(events, (Events{"recorder.stop", "recorder.stop", "onboarding", "onboarding", "recorder.stop"}));
}

TEST_F(DelegateFixture, TheLastModeChoosesTheTargetAndFallsBackToTheMainDisplay) {
    windows = {window(1, "Term", "build"), window(2, std::nullopt, "notes"), window(3, "Editor", "old.txt"),
               window(4, "Editor", "notes"), window(5, "Editor", std::nullopt)};
    const auto instant = [&](const char* mode) {
        store.setString("zentola.lastCaptureMode", mode);
        run([&] { delegate->instantCapture(); });
    };
    for (const char* mode : {"screen", "Window", "bogus", "window"})  // no window remembered yet
        instant(mode);
    store.setString("zentola.lastWindowOwnerName", "Editor");
    store.setString("zentola.lastWindowTitle", "notes");
    instant("window");
    store.setString("zentola.lastWindowTitle", "renamed");  // the first window of that owner
    instant("window");
    store.setString("zentola.lastWindowOwnerName", "Gone");
    instant("window");
    instant("rect");  // nothing saved
    persistence.setSavedRect(SelectionRect{QPointF(10, 20), QSizeF(300, 200), 22});
    store.setString("zentola.lastCaptureMode", "rect");
    run([&] { delegate->quickRecord(); });
    screens->setDisplays({platform::FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11)});
    instant("rect");  // display 22 is gone
    EXPECT_EQ(events, (Events{"capture screen on A", "capture screen on A", "capture screen on A", "capture screen on A",
                              "windows", "capture window 4 on A", "windows", "capture window 3 on A", "windows",
                              "capture screen on A", "capture screen on A", "record rect 10,20 300x200 on B",
                              "capture screen on A"}));
    screens->setDisplays({});
    EXPECT_EQ(run([&] { delegate->instantCapture(), delegate->quickRecord(); }).size(), 2u);  // no display: a line each
}

TEST_F(DelegateFixture, FailuresAreLoggedByTheirPlainText) {
    failure = std::make_exception_ptr(CaptureManager::CaptureError(CaptureManager::CaptureErrorCase::windowNotFound));
    EXPECT_EQ(run([&] { delegate->instantCapture(); }), Lines{"Instant capture failed: windowNotFound"});
    failure = std::make_exception_ptr(platform::PlatformError("X11", 3, "The display went away"));
    EXPECT_EQ(run([&] { delegate->quickRecord(); }), Lines{"[Zentola] Quick record failed: The display went away"});
    failure = nullptr;
    EXPECT_EQ(run([&] { delegate->quickRecord(); }), Lines{"[Zentola] Quick record started"});
}

// Pressed while a recording is being stopped: the recorder refuses the start, and no line says one began.
TEST_F(DelegateFixture, AQuickRecordTheRecorderRefusesIsNotToldAsStarted) {
    state = RecordingState::stopping;
    EXPECT_EQ(run([&] { delegate->quickRecord(); }), Lines{});
    EXPECT_EQ(events.back(), "record screen on A");
}

TEST_F(DelegateFixture, WithoutKeyboardAccessOnlyOnboardingRunsUntilItCompletes_ThenTheMenuReachesTheDelegate) {
    accessibility = false;
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(events, (Events{"permission.check", "onboarding"}));
    EXPECT_TRUE(center.live.empty());
    onboardingCompletion();
    EXPECT_EQ(center.live.size(), 3u);
    menuCallbacks[0]();  // Capture Screen
    menuCallbacks[1]();  // Cancel Capture
    menuCallbacks[3]();
    EXPECT_EQ(events, (Events{"permission.check", "onboarding", "menubar", "overlay.make", "overlay.show",
                              "overlay.hide", "quit"}));
    state = RecordingState::recording;  // quit: the shortcuts go, the recording is finished
    QCoro::waitFor(delegate->applicationWillTerminate());
    EXPECT_TRUE(center.live.empty());
    EXPECT_EQ(events.back(), "recorder.stop");
    delegate.reset();
    menuCallbacks[0]();  // a released delegate is not called
}

// Key code 26 is 7; 0x300 is command with shift.
constexpr quint32 seven = 26;

TEST_F(DelegateFixture, KeyReleasesReachTheTriggersOfTheCurrentManagerOnly) {
    delegate->setupHotkey();
    // A second set-up (onboarding completed later) replaces the manager: the old one only logs.
    delegate->setupHotkey();
    EXPECT_EQ(run([&] {
                  center.send(platform::HotKeyCenter::kindHotKeyReleased, seven, 0x300);
                  EXPECT_TRUE(events.empty());  // deferred past the key handling
              }),
              (Lines{"[Zentola] Instant capture shortcut triggered", "[Zentola] Instant capture shortcut triggered"}));
    EXPECT_EQ(events, Events{"capture screen on A"});
    delegate->hotkeyManager()->unregister();
    EXPECT_FALSE(delegate->hotkeyManager()->hasCallbacks());
    EXPECT_TRUE(center.live.empty());
}

TEST_F(DelegateFixture, AShortcutTheDesktopRefusesIsToldOnceWithItsReason) {
    std::vector<std::pair<QString, QString>> notices;
    platform::UserNotice::setFallback([&](const QString& title, const QString& body) {
        notices.emplace_back(title, body);
        return true;
    });
    std::shared_ptr<void> restore(nullptr, [](void*) { platform::UserNotice::setFallback(nullptr); });
    center.refused.insert({22, 0x300});  // another program holds Ctrl+Shift+6
    store.setString("GlobalShortcuts_instantCapture", R"({"carbonKeyCode":4294967296,"carbonModifiers":768})");
    run([&] {
        delegate->setupHotkey();
        GlobalShortcuts::setIsMenuOpen(true);
        GlobalShortcuts::setIsMenuOpen(false);  // both tried again, and refused again: nothing new to tell
    });
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].first, "Ctrl+Shift+6 is taken by another program");
    EXPECT_TRUE(notices[0].second.contains("“Open capture overlay” does not work")) << notices[0].second.toStdString();
    EXPECT_EQ(notices[1].first, "A shortcut cannot be used");
    EXPECT_TRUE(notices[1].second.contains("“Instant capture”")) << notices[1].second.toStdString();
}

}  // namespace
