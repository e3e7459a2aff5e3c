#include "OverlayFixture.h"

#include "FakeHotKeyCenter.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"
#include "platform/core/MainThread.h"
#include "support/Printed.h"

#include <QKeyEvent>
#include <QWidget>
#include <qcoro/qcorotimer.h>

#include <chrono>

using namespace zentola;
using namespace overlay_test;
using namespace std::chrono_literals;

namespace {

// Counts the key presses that get through to it, leaving out the modifier keys themselves.
struct KeyProbe : QWidget {
    int presses = 0;
    void keyPressEvent(QKeyEvent* e) override { presses += e->key() < Qt::Key_Shift || e->key() > Qt::Key_Alt; }
};

class OverlayWindowControllerTest : public OverlayFixture {
protected:
    static constexpr QPointF overB{2500, 500};  // global bottom-left points
    KeyProbe probe;
    void key(int k, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(&probe, Qt::Key(k), modifiers); }
};

TEST_F(OverlayWindowControllerTest, ThePointersDisplayIsActiveAndTakesTheKeys_KeysActWhateverModifiersAreHeld) {
    screens->mouse = overB;
    state->setHighlightedWindow(WindowInfo{7, {}, {}, 1, QRectF(0, 0, 100, 100), 0, true});
    auto& c = showOverlay();
    EXPECT_TRUE(panel(1)->isOnScreen() && panel(1)->testAttribute(Qt::WA_TranslucentBackground) &&
                panel(1)->geometry() == display(1)->nativeGeometry());
    EXPECT_TRUE(QWidget::keyboardGrabber() == panel(1) && state->activeScreen() == display(1));
    EXPECT_TRUE(c.hasPanels() && c.hasKeyMonitor() && state->isOverlayVisible() && !state->highlightedWindow());

    state->setMode(CaptureMode::rect);
    const std::pair<int, CaptureMode> steps[] = {{Qt::Key_2, CaptureMode::window}, {Qt::Key_1, CaptureMode::screen},
                                                 {Qt::Key_3, CaptureMode::rect},   {Qt::Key_Tab, CaptureMode::screen},
                                                 {Qt::Key_Tab, CaptureMode::window}, {Qt::Key_Backtab, CaptureMode::rect}};
    for (const auto& [k, mode] : steps) {
        key(k, k == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        EXPECT_TRUE(state->currentMode() == mode && settings.lastCaptureMode() == mode) << k;
    }
    key(Qt::Key_A), key(Qt::Key_4);
    EXPECT_EQ(probe.presses, 2);
    state->setControlBarPosition(QPointF(5, 6));
    key(Qt::Key_Escape);
    EXPECT_FALSE(c.hasPanels() || c.hasKeyMonitor() || state->isOverlayVisible() || QWidget::keyboardGrabber());
    EXPECT_EQ(settings.controlBarPosition(), QPointF(5, 6));
    // Hidden: the keys are no longer the overlay's.
    key(Qt::Key_Escape), key(Qt::Key_Return);
    EXPECT_TRUE(probe.presses == 4 && calls.empty());

    for (int confirm : {Qt::Key_Return, Qt::Key_Enter}) {
        showOverlay();
        key(confirm);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "capture rect B", "pause", "capture rect B"}));
    // The pointer between displays: the main one; no display at all: nothing, and keys pass.
    screens->mouse = QPointF(-5000, 9000);
    showOverlay();
    EXPECT_TRUE(state->activeScreen() == display(0) && QWidget::keyboardGrabber() == panel(0));
    useDisplays({});
    controller->show();
    EXPECT_FALSE(controller->hasPanels() || controller->hasKeyMonitor());
    key(Qt::Key_Escape);
    EXPECT_EQ(probe.presses, 5);
}

TEST_F(OverlayWindowControllerTest, ACaptureTakesTheStateOfItsConfirmationAfterHidingAndLogsItsOutcome) {
    screens->mouse = overB;
    const struct {
        CaptureType type;
        bool fails, overtaken;
        std::vector<std::string> calls;
        std::string log;
    } cases[] = {
        {CaptureType::photo, false, false, {"pause", "capture window B"}, ""},
        {CaptureType::photo, true, false, {"pause"}, "Capture failed: refused\n"},
        {CaptureType::video, false, false, {"pause", "countdown", "record window B"}, "[Zentola] Video recording started\n"},
        {CaptureType::video, true, false, {"pause", "countdown"}, "[Zentola] Failed to start recording: refused\n"},
        // A recording started by another way during the countdown: this one is not started.
        {CaptureType::video, false, true, {"pause", "countdown"}, "[Zentola] Countdown ended: another recording started\n"},
    };
    for (const auto& c : cases) {
        calls.clear();
        failing = c.fails;
        overtaken = c.overtaken;
        state->setCaptureType(c.type);
        showOverlay();
        state->setMode(CaptureMode::window);
        state->setHighlightedWindow(WindowInfo{42, {}, {}, 9, QRectF(10, 10, 300, 200), 0, true});
        CapturedStdout printed;
        controller->executeCapture();
        EXPECT_EQ(printed.text(), c.log);
        EXPECT_TRUE(calls == c.calls && !state->highlightedWindow() && (c.fails || lastWindow->id == 42u));
    }
}

TEST_F(OverlayWindowControllerTest, PanelsAreNewEachShowing_OneHiddenIsNoOverlay_ACaptureOutlivesItsController) {
    auto& c = showOverlay();
    // A display's window is used again, what it shows is new.
    QPointer<KeyablePanel> first = panel(0);
    QPointer<OverlayView> firstView = view(0);
    c.show();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(firstView.isNull() && c.hasPanels());
    EXPECT_EQ(panel(0), first.data());
    panel(1)->hide();
    EXPECT_FALSE(c.hasPanels());
    // Hiding again stores the state again.
    c.hide();
    state->setMode(CaptureMode::window);
    store.set(QStringLiteral("zentola.lastCaptureMode"), QVariant());
    c.hide();
    EXPECT_EQ(settings.lastCaptureMode(), CaptureMode::window);

    // A recording starts after the countdown even when the controller is dropped meanwhile, and a
    // dropped controller's panels and keys go with it.
    state->setCaptureType(CaptureType::video);
    auto env = fakeEnvironment();
    platform::Completion<void> countdownOver;
    env.countdown = [&](platform::ScreenRef) -> QCoro::Task<bool> {
        co_await countdownOver;
        co_return true;
    };
    showOverlay(env).executeCapture();
    showOverlay();
    QPointer<KeyablePanel> p = panel(0);
    QPointer<OverlayView> v = view(0);
    controller.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    key(Qt::Key_Escape), key(Qt::Key_Return);
    EXPECT_TRUE(v.isNull() && !p->isOnScreen() && probe.presses == 2);
    countdownOver.resolve();
    EXPECT_TRUE(waitUntil([&] { return calls.size() == 2u && calls.back() == "record window A"; }));
}

// The integration test removes a monitor for real and follows the bar and the keys.
TEST_F(OverlayWindowControllerTest, ARemovedDisplayTakesItsPanelAlong_WithTheLastOneTheOverlayGoes) {
    screens->mouse = overB;
    state->setMode(CaptureMode::screen);
    auto& c = showOverlay();
    QPointer<KeyablePanel> onB = panel(1);
    c.displaysChanged();
    EXPECT_EQ(c.panels().size(), 2u);
    screens->list = {display(0)};
    c.displaysChanged();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(onB.isNull() && c.panels().size() == 1u && c.hasPanels() && view(0)->veilOpacity() == 0.0);
    screens->list.clear();
    c.displaysChanged();
    EXPECT_FALSE(c.hasPanels() || state->isOverlayVisible() || c.hasKeyMonitor());
}

// Without a compositing manager the panels paint the displays' pictures, which the environment
// hands out here: flat colours, or a failure.
class OverlaySnapshotTest : public OverlayWindowControllerTest {
protected:
    int grabs = 0;
    bool panelShownAtGrab = false, grabFails = false;
    std::chrono::milliseconds grabTime{0};

    OverlayWindowController::Environment overDesktop(bool compositor) {
        auto env = fakeEnvironment();
        env.compositorRunning = [compositor] { return compositor; };
        env.snapshot = [this](std::vector<platform::ScreenRef> list) -> QCoro::Task<std::vector<platform::BitmapRef>> {
            ++grabs;
            for (const auto& [s, p] : controller->panels())
                panelShownAtGrab = panelShownAtGrab || (p && p->isOnScreen());
            if (grabTime.count() > 0)
                co_await QCoro::sleepFor(grabTime);
            if (grabFails)
                throw platform::PlatformError("X11", 5, "Cannot read the screen's pixels");
            std::vector<platform::BitmapRef> out;
            for (const auto& s : list) {
                QImage shot(s->nativeGeometry().size(), QImage::Format_RGB32);
                shot.fill(s->name() == "A" ? qRgb(200, 100, 50) : qRgb(40, 160, 220));
                out.push_back(platform::Bitmap::fromQImage(shot));
            }
            co_return out;
        };
        return env;
    }
};

// Keys pressed while the pictures are taken are the integration test's, on the real X server.
TEST_F(OverlaySnapshotTest, OpaquePanelsPaintTheirDisplaysBeneathTheVeil_OnlyTheLastShowingAppears_WithACompositorNothingIsGrabbed) {
    state->setMode(CaptureMode::rect);
    state->updateSelectionRect(QRectF(100, 100, 200, 100), display(0));
    // Shown again while the pictures are taken: only the last showing appears, and takes the keyboard.
    grabTime = 30ms;
    auto& c = showOverlay(overDesktop(false));
    ASSERT_TRUE(QWidget::keyboardGrabber() && !panel(0)->isOnScreen());
    // Already up as far as the shortcut goes, which then closes it.
    EXPECT_TRUE(c.hasPanels());
    c.show();
    ASSERT_TRUE(waitUntil([&] { return panel(0)->isOnScreen() && panel(1)->isOnScreen(); }));
    spinFor(100);
    EXPECT_TRUE(grabs == 2 && !panelShownAtGrab && QWidget::keyboardGrabber() == panel(0) &&
                !panel(0)->testAttribute(Qt::WA_TranslucentBackground));
    // Inside the selection the display's own colour; the X server's pixels are the integration test's.
    EXPECT_EQ(picture(0).pixel(200, 140), qRgb(200, 100, 50));
    // A grab that fails still shows the overlay.
    grabFails = true, grabTime = 0ms;
    c.show();
    EXPECT_TRUE(c.hasPanels() && !view(0)->snapshot());
    showOverlay(overDesktop(true));
    EXPECT_TRUE(grabs == 3 && panel(0)->testAttribute(Qt::WA_TranslucentBackground));
}

// The overlay holds the keyboard while it shows, so the desktop cannot fire the global shortcuts;
// their keys come here and still reach the shortcut package.
TEST_F(OverlayWindowControllerTest, AGlobalShortcutStillFiresOnceWhileTheOverlayHoldsTheKeyboard) {
    FakeHotKeyCenter hotKeys;
    platform::HotKeyCenter::setShared(&hotKeys);
    std::vector<std::string> fired;
    GlobalShortcuts::SystemGlobalShortcuts::registerShortcut(
        GlobalShortcuts::Shortcut(22, 0x100 | 0x200),  // Ctrl+Shift+6
        [&](const GlobalShortcuts::Shortcut&) { fired.push_back("down"); },
        [&](const GlobalShortcuts::Shortcut&) { fired.push_back("up"), controller.reset(); });
    showOverlay();
    key(Qt::Key_6, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(fired.size() == 2u && probe.presses == 0 && !controller);
    // The release counts even when the modifiers went up first.
    showOverlay();
    QTest::keyPress(&probe, Qt::Key_6, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyRelease(&probe, Qt::Key_6, Qt::NoModifier);
    EXPECT_EQ(fired, (std::vector<std::string>{"down", "up", "down", "up"}));
    // Other combinations, and every key while shortcuts are off, are the focused window's.
    showOverlay();
    key(Qt::Key_6, Qt::ControlModifier);
    GlobalShortcuts::setIsEnabled(false);
    key(Qt::Key_6, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(probe.presses == 2 && fired.size() == 4u);
    GlobalShortcuts::resetForTesting();
    platform::HotKeyCenter::setShared(nullptr);
}

}  // namespace
