#include "OverlayFixture.h"

#include "Features/Overlay/ControlBarView.h"

#include "FakeHotKeyCenter.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"
#include "platform/core/MainThread.h"

#include <QKeyEvent>
#include <QWidget>
#include <qcoro/qcorotimer.h>

#include <chrono>

using namespace zentola;
using namespace overlay_test;
using namespace std::chrono_literals;

namespace {

// Counts the key presses that get through to it, leaving out the modifier keys themselves.
class KeyProbe : public QWidget {
public:
    int presses = 0;

protected:
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
    EXPECT_TRUE(panel(1)->isVisible() && panel(1)->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_EQ(panel(1)->geometry(), display(1)->nativeGeometry());
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
        bool fails;
        std::vector<std::string> calls;
        std::string log;
    } cases[] = {
        {CaptureType::photo, false, {"pause", "capture window B"}, ""},
        {CaptureType::photo, true, {"pause"}, "Capture failed: refused\n"},
        {CaptureType::video, false, {"pause", "countdown", "record window B"}, "[Zentola] Video recording started\n"},
        {CaptureType::video, true, {"pause", "countdown"}, "[Zentola] Failed to start recording: refused\n"},
    };
    for (const auto& c : cases) {
        calls.clear();
        failing = c.fails;
        state->setCaptureType(c.type);
        showOverlay();
        state->setMode(CaptureMode::window);
        state->setHighlightedWindow(WindowInfo{42, {}, {}, 9, QRectF(10, 10, 300, 200), 0, true});
        testing::internal::CaptureStdout();
        controller->executeCapture();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.log);
        EXPECT_EQ(calls, c.calls);
        EXPECT_TRUE(!state->highlightedWindow() && (c.fails || lastWindow->id == 42u));
    }
}

TEST_F(OverlayWindowControllerTest, PanelsAreNewEachShowing_OneHiddenIsNoOverlay_ACaptureOutlivesItsController) {
    auto& c = showOverlay();
    QPointer<KeyablePanel> first = panel(0);
    c.show();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull() && c.hasPanels());
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
    env.countdown = [&](platform::ScreenRef) -> QCoro::Task<void> { co_await countdownOver; };
    showOverlay(env).executeCapture();
    showOverlay();
    QPointer<KeyablePanel> p = panel(0);
    controller.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    key(Qt::Key_Escape), key(Qt::Key_Return);
    EXPECT_TRUE(p.isNull() && probe.presses == 2);
    countdownOver.resolve();
    ASSERT_TRUE(waitUntil([&] { return calls.size() == 2u; }));
    EXPECT_EQ(calls.back(), "record window A");
}

TEST_F(OverlayWindowControllerTest, ARemovedDisplayTakesItsPanelAlongAndTheBarAndKeysMoveOn) {
    screens->mouse = overB;
    state->setMode(CaptureMode::screen);
    auto& c = showOverlay();
    const platform::ScreenRef a = display(0);
    QPointer<KeyablePanel> onB = panel(1);
    c.displaysChanged();
    EXPECT_EQ(c.panels().size(), 2u);
    screens->list = {a};
    c.displaysChanged();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(onB.isNull() && c.panels().size() == 1u && c.hasPanels() && state->activeScreen() == a);
    EXPECT_TRUE(view(0)->controlBar() && view(0)->veilOpacity() == 0.0 && QWidget::keyboardGrabber() == panel(0));
    QTest::keyClick(panel(0), Qt::Key_Return);
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "capture screen A"}));
    // With the last display gone the overlay goes.
    showOverlay();
    screens->list.clear();
    controller->displaysChanged();
    EXPECT_FALSE(controller->hasPanels() || state->isOverlayVisible() || controller->hasKeyMonitor());
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
                panelShownAtGrab = panelShownAtGrab || (p && p->isVisible());
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
    static bool colour(QRgb actual, int r, int g, int b) {
        return qAlpha(actual) == 255 && std::abs(qRed(actual) - r) <= 2 && std::abs(qGreen(actual) - g) <= 2 &&
               std::abs(qBlue(actual) - b) <= 2;
    }
};

TEST_F(OverlaySnapshotTest, OpaquePanelsPaintTheirDisplaysBeneathTheVeil_WithACompositorNothingIsGrabbed) {
    state->setMode(CaptureMode::rect);
    state->updateSelectionRect(QRectF(100, 100, 200, 100), display(0));
    showOverlay(overDesktop(false));
    ASSERT_TRUE(controller->hasPanels());
    EXPECT_TRUE(grabs == 1 && !panelShownAtGrab && !panel(0)->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(colour(picture(0).pixel(50, 50), 140, 70, 35));      // outside the selection, black at 0.3
    EXPECT_TRUE(colour(picture(0).pixel(200, 140), 200, 100, 50));   // inside it
    EXPECT_TRUE(colour(picture(1).pixel(1900, 1070), 40, 160, 220));  // the display without it
    state->setMode(CaptureMode::screen);
    EXPECT_TRUE(colour(picture(1).pixel(700, 300), 36, 144, 198));  // the veiled display
    // A grab that fails still shows the overlay.
    grabFails = true;
    controller->show();
    EXPECT_TRUE(controller->hasPanels() && !view(0)->snapshot());
    showOverlay(overDesktop(true));
    EXPECT_TRUE(grabs == 2 && panel(0)->testAttribute(Qt::WA_TranslucentBackground));
}

TEST_F(OverlaySnapshotTest, KeysPressedWhileThePicturesAreTakenAreTheOverlays_ALatePictureShowsNothing) {
    grabTime = 30ms;
    screens->mouse = overB;
    state->setMode(CaptureMode::screen);
    for (int k : {Qt::Key_Escape, Qt::Key_Return}) {
        showOverlay(overDesktop(false));
        QWidget* holder = QWidget::keyboardGrabber();
        ASSERT_TRUE(holder && !controller->hasPanels() && state->activeScreen() == display(1));
        QTest::keyClick(holder, Qt::Key(k));
        spinFor(100);
        EXPECT_FALSE(controller->hasPanels() || state->isOverlayVisible() || QWidget::keyboardGrabber());
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "capture screen B"}));
    // Shown twice while the pictures come: only the last showing appears, and takes the keyboard.
    auto& c = showOverlay(overDesktop(false));
    c.show();
    ASSERT_TRUE(waitUntil([&] { return c.hasPanels(); }));
    spinFor(100);
    EXPECT_TRUE(grabs == 4 && c.panels().size() == 2u && QWidget::keyboardGrabber() == panel(1));
}

// The overlay holds the keyboard while it shows, so the desktop cannot fire the global shortcuts;
// their keys come here and still reach the shortcut package.
TEST_F(OverlayWindowControllerTest, AGlobalShortcutStillFiresOnceWhileTheOverlayHoldsTheKeyboard) {
    FakeHotKeyCenter hotKeys;
    platform::HotKeyCenter::setShared(&hotKeys);
    std::vector<std::string> fired;
    GlobalShortcuts::SystemGlobalShortcuts::registerShortcut(
        GlobalShortcuts::Shortcut(22, 0x100 | 0x200),  // command-shift-6
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
