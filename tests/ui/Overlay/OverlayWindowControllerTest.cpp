#include "OverlayFixture.h"

#include "Features/Capture/CaptureManager.h"
#include "Features/Capture/VideoRecordingManager.h"

#include "FakeHotKeyCenter.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"
#include "platform/core/MainThread.h"

#include <QKeyEvent>
#include <QWidget>

using namespace zentola;
using namespace overlay_test;

namespace {

// Counts the key presses that get through to it, leaving out the modifier keys themselves.
class KeyProbe : public QWidget {
public:
    int presses = 0;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() != Qt::Key_Control && e->key() != Qt::Key_Shift)
            ++presses;
    }
};

class OverlayWindowControllerTest : public OverlayFixture {
protected:
    // Global bottom-left points over display B.
    static constexpr QPointF overB{2500, 500};

    void key(int display, int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(panel(display), Qt::Key(key), modifiers);
    }
};

TEST_F(OverlayWindowControllerTest, OnePanelPerDisplayOverItsWholeArea_KeyboardOnTheDisplayUnderThePointer) {
    screens->mouse = overB;
    state->setHighlightedWindow(WindowInfo{7, {}, {}, 1, QRectF(0, 0, 100, 100), 0, true});
    auto& c = showOverlay();

    ASSERT_EQ(c.panels().size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(panel(i)->isVisible());
        EXPECT_EQ(panel(i)->geometry(), display(i)->nativeGeometry());
        EXPECT_TRUE(panel(i)->windowFlags() & Qt::X11BypassWindowManagerHint);
        EXPECT_TRUE(panel(i)->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(panel(i)->testAttribute(Qt::WA_TranslucentBackground));
        EXPECT_EQ(view(i)->size(), panel(i)->size());
    }
    EXPECT_EQ(QWidget::keyboardGrabber(), panel(1));
    EXPECT_TRUE(c.hasPanels());
    EXPECT_TRUE(c.hasKeyMonitor());
    EXPECT_TRUE(state->isOverlayVisible());
    EXPECT_EQ(state->activeScreen(), display(1));
    EXPECT_FALSE(state->highlightedWindow().has_value());
}

TEST_F(OverlayWindowControllerTest, PointerOnNoDisplayMakesTheMainDisplayActive) {
    screens->mouse = QPointF(-5000, 9000);
    showOverlay();
    EXPECT_EQ(state->activeScreen(), display(0));
    EXPECT_EQ(QWidget::keyboardGrabber(), panel(0));
}

TEST_F(OverlayWindowControllerTest, WithoutDisplaysNothingShowsAndKeysStillPass) {
    useDisplays({});
    auto& c = showOverlay();
    EXPECT_FALSE(c.hasPanels());
    EXPECT_FALSE(c.hasKeyMonitor());
    EXPECT_FALSE(state->isOverlayVisible());
    KeyProbe probe;
    QTest::keyClick(&probe, Qt::Key_Escape);
    EXPECT_EQ(probe.presses, 1);
}

TEST_F(OverlayWindowControllerTest, EscapeHidesSavesAndTakesTheKey_OtherKeysPass) {
    auto& c = showOverlay();
    KeyProbe probe;
    QTest::keyClick(&probe, Qt::Key_A);
    QTest::keyClick(&probe, Qt::Key_4);
    EXPECT_EQ(probe.presses, 2);
    EXPECT_TRUE(c.hasPanels());

    state->setControlBarPosition(QPointF(5, 6));
    QTest::keyClick(&probe, Qt::Key_Escape);
    EXPECT_EQ(probe.presses, 2);
    EXPECT_FALSE(c.hasPanels());
    EXPECT_TRUE(c.panels().empty());
    EXPECT_FALSE(c.hasKeyMonitor());
    EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
    EXPECT_FALSE(state->isOverlayVisible());
    EXPECT_EQ(settings.controlBarPosition(), QPointF(5, 6));
    EXPECT_EQ(settings.lastCaptureMode(), state->currentMode());

    // Hidden: keys are no longer the overlay's.
    QTest::keyClick(&probe, Qt::Key_Escape);
    QTest::keyClick(&probe, Qt::Key_1);
    EXPECT_EQ(probe.presses, 4);
    EXPECT_TRUE(calls.empty());
}

TEST_F(OverlayWindowControllerTest, DigitsPickModesWhateverModifiersAreHeld_TabCycles) {
    showOverlay();
    state->setMode(CaptureMode::rect);
    key(0, Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(state->currentMode(), CaptureMode::window);
    EXPECT_EQ(settings.lastCaptureMode(), CaptureMode::window);
    key(0, Qt::Key_1, Qt::AltModifier);
    EXPECT_EQ(state->currentMode(), CaptureMode::screen);
    key(0, Qt::Key_3, Qt::MetaModifier);
    EXPECT_EQ(state->currentMode(), CaptureMode::rect);
    EXPECT_EQ(settings.lastCaptureMode(), CaptureMode::rect);

    key(0, Qt::Key_Tab);
    EXPECT_EQ(state->currentMode(), CaptureMode::screen);
    key(0, Qt::Key_Tab);
    EXPECT_EQ(state->currentMode(), CaptureMode::window);
    // Shift+Tab arrives as a key of its own; it is still Tab.
    key(0, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(state->currentMode(), CaptureMode::rect);
    EXPECT_EQ(settings.lastCaptureMode(), CaptureMode::rect);
    EXPECT_TRUE(controller->hasPanels());
}

TEST_F(OverlayWindowControllerTest, ReturnAndKeypadEnterConfirm) {
    state->setMode(CaptureMode::screen);
    showOverlay();
    key(0, Qt::Key_Return);
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "capture screen"}));
    EXPECT_FALSE(controller->hasPanels());

    calls.clear();
    showOverlay();
    key(1, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "capture screen"}));
}

TEST_F(OverlayWindowControllerTest, CaptureUsesTheStateAtConfirmationAfterHidingAndPausing) {
    screens->mouse = overB;
    showOverlay();
    state->setMode(CaptureMode::window);
    const WindowInfo picked{42, QStringLiteral("Doc"), QStringLiteral("Editor"), 9, QRectF(10, 10, 300, 200), 0, true};
    state->setHighlightedWindow(picked);
    state->updateSelectionRect(QRectF(1, 2, 30, 40), display(1));

    auto env = fakeEnvironment();
    bool visibleAtPause = true, panelsAtPause = true;
    env.pause = [&]() -> QCoro::Task<void> {
        visibleAtPause = state->isOverlayVisible();
        panelsAtPause = controller->hasPanels();
        calls.push_back("pause");
        co_return;
    };
    std::optional<WindowInfo> gotWindow;
    std::optional<SelectionRect> gotRect;
    platform::ScreenRef gotScreen;
    env.performCaptureWorkflow = [&](CaptureMode mode, std::optional<SelectionRect> rect,
                                     std::optional<WindowInfo> window, platform::ScreenRef screen) -> QCoro::Task<void> {
        calls.push_back("capture " + mode.rawValue().toStdString());
        gotRect = rect;
        gotWindow = window;
        gotScreen = screen;
        co_return;
    };
    controller = std::make_unique<OverlayWindowController>(*state, env);
    controller->show();
    calls.clear();
    state->setHighlightedWindow(picked);  // show() cleared it

    controller->executeCapture();
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "capture window"}));
    EXPECT_FALSE(visibleAtPause);
    EXPECT_FALSE(panelsAtPause);
    ASSERT_TRUE(gotWindow.has_value());
    EXPECT_EQ(gotWindow->id, 42u);
    EXPECT_EQ(gotRect, state->selectionRect());
    EXPECT_EQ(gotScreen, display(1));
    EXPECT_FALSE(state->highlightedWindow().has_value());
}

TEST_F(OverlayWindowControllerTest, VideoCountsDownThenRecordsAndLogsTheOutcome) {
    state->setCaptureType(CaptureType::video);
    state->setMode(CaptureMode::screen);
    showOverlay();
    testing::internal::CaptureStdout();
    controller->executeCapture();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Zentola] Video recording started\n");
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "countdown", "record screen"}));

    auto env = fakeEnvironment();
    env.startRecording = [](CaptureMode, std::optional<SelectionRect>, std::optional<WindowInfo>,
                            platform::ScreenRef) -> QCoro::Task<void> {
        throw VideoRecordingManager::RecordingError(VideoRecordingManager::RecordingErrorCase::recordingInProgress);
        co_return;
    };
    controller = std::make_unique<OverlayWindowController>(*state, env);
    controller->show();
    testing::internal::CaptureStdout();
    controller->executeCapture();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Zentola] Failed to start recording: recordingInProgress\n");
    EXPECT_FALSE(controller->hasPanels());
}

TEST_F(OverlayWindowControllerTest, ScreenshotFailureIsLoggedByCaseName) {
    auto env = fakeEnvironment();
    env.performCaptureWorkflow = [](CaptureMode, std::optional<SelectionRect>, std::optional<WindowInfo>,
                                    platform::ScreenRef) -> QCoro::Task<void> {
        throw CaptureManager::CaptureError(CaptureManager::CaptureErrorCase::windowNotFound);
        co_return;
    };
    controller = std::make_unique<OverlayWindowController>(*state, env);
    controller->show();
    testing::internal::CaptureStdout();
    controller->executeCapture();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Capture failed: windowNotFound\n");
}

TEST_F(OverlayWindowControllerTest, ACaptureOutlivesItsController) {
    // The recording starts after the countdown even when the controller was dropped meanwhile.
    state->setCaptureType(CaptureType::video);
    auto env = fakeEnvironment();
    platform::Completion<void> countdownOver;
    env.countdown = [&](platform::ScreenRef) -> QCoro::Task<void> {
        calls.push_back("countdown");
        co_await countdownOver;
    };
    controller = std::make_unique<OverlayWindowController>(*state, env);
    controller->show();
    controller->executeCapture();
    controller.reset();
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "countdown"}));
    countdownOver.resolve();
    ASSERT_TRUE(waitUntil([&] { return calls.size() == 3u; }));
    EXPECT_EQ(calls.back(), "record rect");
}

TEST_F(OverlayWindowControllerTest, HasPanelsOnlyWhileEveryPanelShows) {
    auto& c = showOverlay();
    EXPECT_TRUE(c.hasPanels());
    panel(1)->hide();
    EXPECT_FALSE(c.hasPanels());
    c.hide();
    EXPECT_FALSE(c.hasPanels());
    // Hiding twice is harmless and stores the state again.
    state->setMode(CaptureMode::window);
    store.set(QStringLiteral("zentola.lastCaptureMode"), QVariant());
    c.hide();
    EXPECT_EQ(settings.lastCaptureMode(), CaptureMode::window);
}

TEST_F(OverlayWindowControllerTest, ShowingAgainReplacesThePanels) {
    auto& c = showOverlay();
    QPointer<KeyablePanel> first = panel(0);
    c.show();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(c.panels().size(), 2u);
    EXPECT_TRUE(c.hasPanels());
    // One monitor: a single Tab moves one step.
    state->setMode(CaptureMode::screen);
    key(0, Qt::Key_Tab);
    EXPECT_EQ(state->currentMode(), CaptureMode::window);
}

TEST_F(OverlayWindowControllerTest, ADroppedControllerTakesItsPanelsAndKeysAlong) {
    showOverlay();
    QPointer<KeyablePanel> p = panel(0);
    controller.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(p.isNull());
    KeyProbe probe;
    QTest::keyClick(&probe, Qt::Key_Escape);
    QTest::keyClick(&probe, Qt::Key_Return);
    EXPECT_EQ(probe.presses, 2);
    EXPECT_TRUE(calls.empty());
}

// The keyboard is the overlay's while it shows, so the desktop cannot fire the global shortcuts;
// their keys come here and still reach the shortcut package.
class OverlayShortcutTest : public OverlayWindowControllerTest {
protected:
    FakeHotKeyCenter hotKeys;
    std::vector<std::string> fired;

    void SetUp() override {
        OverlayWindowControllerTest::SetUp();
        platform::HotKeyCenter::setShared(&hotKeys);
        GlobalShortcuts::SystemGlobalShortcuts::registerShortcut(
            GlobalShortcuts::Shortcut(22, 0x100 | 0x200),  // command-shift-6
            [this](const GlobalShortcuts::Shortcut&) { fired.push_back("down"); },
            [this](const GlobalShortcuts::Shortcut&) {
                fired.push_back("up");
                controller.reset();  // what the application does to a visible overlay
            });
    }
    void TearDown() override {
        GlobalShortcuts::resetForTesting();
        platform::HotKeyCenter::setShared(nullptr);
        OverlayWindowControllerTest::TearDown();
    }
};

TEST_F(OverlayShortcutTest, AGlobalShortcutStillFiresOnceWhileTheOverlayHoldsTheKeyboard) {
    showOverlay();
    KeyProbe probe;
    QTest::keyClick(&probe, Qt::Key_6, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(fired, (std::vector<std::string>{"down", "up"}));
    EXPECT_EQ(probe.presses, 0);
    EXPECT_EQ(controller, nullptr);
    // Other combinations of the key are the focused window's.
    QTest::keyClick(&probe, Qt::Key_6, Qt::ControlModifier);
    EXPECT_EQ(probe.presses, 1);

    // The release counts even when the modifiers went up first.
    showOverlay();
    QTest::keyPress(&probe, Qt::Key_6, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyRelease(&probe, Qt::Key_6, Qt::NoModifier);
    EXPECT_EQ(fired, (std::vector<std::string>{"down", "up", "down", "up"}));
}

TEST_F(OverlayShortcutTest, NothingFiresWhileShortcutsAreSwitchedOff) {
    showOverlay();
    GlobalShortcuts::setIsEnabled(false);
    KeyProbe probe;
    QTest::keyClick(&probe, Qt::Key_6, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(fired.empty());
    EXPECT_EQ(probe.presses, 1);
}

}  // namespace
