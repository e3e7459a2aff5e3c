#include "OverlayFixture.h"

#include "Features/Overlay/ControlBarView.h"
#include "Features/Overlay/OverlayStyle.h"

#include "FakeHotKeyCenter.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"
#include "platform/core/Error.h"
#include "platform/core/MainThread.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <qcoro/qcorotimer.h>

#include <chrono>
#include <map>

using namespace zentola;
using namespace overlay_test;
using namespace std::chrono_literals;

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

TEST_F(OverlayWindowControllerTest, OnePanelPerDisplay_TheKeysAndTheActiveDisplayFollowThePointer) {
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
    }
    EXPECT_EQ(QWidget::keyboardGrabber(), panel(1));
    EXPECT_TRUE(c.hasPanels() && c.hasKeyMonitor() && state->isOverlayVisible());
    EXPECT_EQ(state->activeScreen(), display(1));
    EXPECT_FALSE(state->highlightedWindow().has_value());

    // The pointer between displays: the main one.
    screens->mouse = QPointF(-5000, 9000);
    c.show();
    EXPECT_EQ(state->activeScreen(), display(0));
    EXPECT_EQ(QWidget::keyboardGrabber(), panel(0));

    // No display at all: nothing shows and every key still passes.
    useDisplays({});
    c.show();
    EXPECT_FALSE(c.hasPanels() || c.hasKeyMonitor());
    KeyProbe probe;
    QTest::keyClick(&probe, Qt::Key_Escape);
    EXPECT_EQ(probe.presses, 1);
}

TEST_F(OverlayWindowControllerTest, KeysActWhateverModifiersAreHeld_EscapeHidesAndOthersPass) {
    auto& c = showOverlay();
    state->setMode(CaptureMode::rect);
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        CaptureMode mode;
    } steps[] = {{Qt::Key_2, Qt::ControlModifier, CaptureMode::window}, {Qt::Key_1, Qt::AltModifier, CaptureMode::screen},
                 {Qt::Key_3, Qt::MetaModifier, CaptureMode::rect},      {Qt::Key_Tab, {}, CaptureMode::screen},
                 {Qt::Key_Tab, {}, CaptureMode::window},                 {Qt::Key_Backtab, Qt::ShiftModifier, CaptureMode::rect}};
    for (const auto& step : steps) {
        key(0, step.key, step.modifiers);
        EXPECT_EQ(state->currentMode(), step.mode) << step.key;
        EXPECT_EQ(settings.lastCaptureMode(), step.mode);
    }
    KeyProbe probe;
    QTest::keyClick(&probe, Qt::Key_A);
    QTest::keyClick(&probe, Qt::Key_4);
    EXPECT_EQ(probe.presses, 2);

    state->setControlBarPosition(QPointF(5, 6));
    QTest::keyClick(&probe, Qt::Key_Escape);
    EXPECT_EQ(probe.presses, 2);
    EXPECT_FALSE(c.hasPanels() || c.hasKeyMonitor() || state->isOverlayVisible());
    EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
    EXPECT_EQ(settings.controlBarPosition(), QPointF(5, 6));
    // Hidden: the keys are no longer the overlay's.
    QTest::keyClick(&probe, Qt::Key_Escape);
    QTest::keyClick(&probe, Qt::Key_Return);
    EXPECT_EQ(probe.presses, 4);
    EXPECT_TRUE(calls.empty());

    for (int confirm : {Qt::Key_Return, Qt::Key_Enter}) {
        state->setMode(CaptureMode::screen);
        showOverlay();
        key(1, confirm, confirm == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_FALSE(controller->hasPanels());
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "capture screen A", "pause", "capture screen A"}));
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
        state->updateSelectionRect(QRectF(1, 2, 30, 40), display(1));
        testing::internal::CaptureStdout();
        controller->executeCapture();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.log);
        EXPECT_EQ(calls, c.calls);
        EXPECT_FALSE(state->highlightedWindow().has_value());
        if (!c.fails)
            EXPECT_TRUE(lastWindow->id == 42u && lastRect == state->selectionRect());
    }
}

TEST_F(OverlayWindowControllerTest, ARecordingStartsAfterTheCountdownEvenWhenTheControllerIsGone) {
    state->setCaptureType(CaptureType::video);
    auto env = fakeEnvironment();
    platform::Completion<void> countdownOver;
    env.countdown = [&](platform::ScreenRef) -> QCoro::Task<void> {
        calls.push_back("countdown");
        co_await countdownOver;
    };
    showOverlay(env).executeCapture();
    controller.reset();
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "countdown"}));
    countdownOver.resolve();
    ASSERT_TRUE(waitUntil([&] { return calls.size() == 3u; }));
    EXPECT_EQ(calls.back(), "record rect A");
}

TEST_F(OverlayWindowControllerTest, PanelsAreNewEachShowing_HasPanelsNeedsEveryOne_ADroppedControllerLetsKeysPass) {
    auto& c = showOverlay();
    QPointer<KeyablePanel> first = panel(0);
    c.show();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    ASSERT_TRUE(c.hasPanels());
    panel(1)->hide();
    EXPECT_FALSE(c.hasPanels());
    c.hide();
    // Hiding again stores the state again.
    state->setMode(CaptureMode::window);
    store.set(QStringLiteral("zentola.lastCaptureMode"), QVariant());
    c.hide();
    EXPECT_EQ(settings.lastCaptureMode(), CaptureMode::window);

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

TEST_F(OverlayWindowControllerTest, ARemovedDisplayTakesItsPanelAlongAndTheBarAndKeysMoveOn) {
    screens->mouse = overB;
    state->setMode(CaptureMode::screen);
    auto& c = showOverlay();
    const platform::ScreenRef a = display(0);
    QPointer<KeyablePanel> onB = panel(1);
    ASSERT_NE(view(1)->controlBar(), nullptr);
    // A display that stays changes nothing.
    c.displaysChanged();
    EXPECT_EQ(c.panels().size(), 2u);

    screens->list = {a};
    c.displaysChanged();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(onB.isNull());
    ASSERT_EQ(c.panels().size(), 1u);
    EXPECT_TRUE(c.hasPanels());
    EXPECT_EQ(state->activeScreen(), a);
    EXPECT_NE(view(0)->controlBar(), nullptr);
    EXPECT_EQ(view(0)->veilOpacity(), 0.0);
    EXPECT_EQ(QWidget::keyboardGrabber(), panel(0));
    key(0, Qt::Key_Return);
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "capture screen A"}));

    // With the last display gone the overlay goes.
    showOverlay();
    screens->list.clear();
    controller->displaysChanged();
    EXPECT_FALSE(controller->hasPanels() || state->isOverlayVisible() || controller->hasKeyMonitor());
}

// Without a compositing manager the panels paint the displays' pictures, which the environment
// hands out here.
class OverlaySnapshotTest : public OverlayWindowControllerTest {
protected:
    std::map<QString, QRgb> desktop{{"A", qRgb(200, 100, 50)}, {"B", qRgb(40, 160, 220)}};
    int grabs = 0;
    bool panelShownAtGrab = false, fails = false;
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
            if (fails)
                throw platform::PlatformError("X11", 5, "Cannot read the screen's pixels");
            std::vector<platform::BitmapRef> out;
            for (const auto& s : list) {
                QImage shot(s->nativeGeometry().size(), QImage::Format_RGB32);
                shot.fill(desktop.at(s->name()));
                out.push_back(platform::Bitmap::fromQImage(shot));
            }
            co_return out;
        };
        return env;
    }

    static void expectColour(QRgb actual, QRgb expected, const char* where) {
        EXPECT_EQ(qAlpha(actual), 255) << where;
        EXPECT_NEAR(qRed(actual), qRed(expected), 2) << where;
        EXPECT_NEAR(qGreen(actual), qGreen(expected), 2) << where;
        EXPECT_NEAR(qBlue(actual), qBlue(expected), 2) << where;
    }
    // The colour under black at the given opacity.
    static QRgb veiled(QRgb c, double opacity) {
        const double keep = 1 - opacity;
        return qRgb(qRound(qRed(c) * keep), qRound(qGreen(c) * keep), qRound(qBlue(c) * keep));
    }
};

TEST_F(OverlaySnapshotTest, OpaquePanelsPaintTheirDisplaysBeneathTheVeil_WithACompositorNothingIsGrabbed) {
    state->setMode(CaptureMode::rect);
    state->updateSelectionRect(QRectF(100, 100, 200, 100), display(0));
    showOverlay(overDesktop(false));
    ASSERT_TRUE(controller->hasPanels());
    EXPECT_EQ(grabs, 1);
    EXPECT_FALSE(panelShownAtGrab) << "a picture must not show the overlay itself";
    EXPECT_FALSE(panel(0)->testAttribute(Qt::WA_TranslucentBackground));
    expectColour(picture(0).pixel(50, 50), veiled(desktop["A"], 0.3), "outside the selection");
    expectColour(picture(0).pixel(200, 140), desktop["A"], "inside the selection");
    EXPECT_EQ(QColor(picture(0).pixel(150, 100)).rgb(), OverlayStyle::accent().rgb());
    expectColour(picture(1).pixel(1900, 1070), desktop["B"], "the display without the selection");
    state->setMode(CaptureMode::screen);
    expectColour(picture(1).pixel(700, 300), veiled(desktop["B"], 0.1), "the veiled display");
    expectColour(picture(0).pixel(700, 300), desktop["A"], "the active display");

    // A grab that fails still shows the overlay.
    fails = true;
    controller->show();
    ASSERT_TRUE(controller->hasPanels());
    EXPECT_EQ(view(0)->snapshot(), nullptr);

    showOverlay(overDesktop(true));
    EXPECT_EQ(grabs, 2);
    EXPECT_TRUE(panel(0)->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_NEAR(qAlpha(picture(1).pixel(700, 300)), 26, 1);
}

TEST_F(OverlaySnapshotTest, KeysPressedWhileThePicturesAreTakenAreTheOverlays) {
    grabTime = 30ms;
    screens->mouse = overB;
    state->setMode(CaptureMode::screen);
    for (int confirm : {Qt::Key_Escape, Qt::Key_Return}) {
        calls.clear();
        showOverlay(overDesktop(false));
        EXPECT_FALSE(controller->hasPanels());
        QWidget* holder = QWidget::keyboardGrabber();
        ASSERT_NE(holder, nullptr);
        EXPECT_EQ(state->activeScreen(), display(1));
        QTest::keyClick(holder, Qt::Key(confirm));
        spinFor(150);
        EXPECT_FALSE(controller->hasPanels() || state->isOverlayVisible());
        EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
        const std::vector<std::string> confirmed{"pause", "capture screen B"};
        EXPECT_EQ(calls, confirm == Qt::Key_Return ? confirmed : std::vector<std::string>());
    }
    // Untouched, the panels come and take the keyboard over.
    showOverlay(overDesktop(false));
    ASSERT_TRUE(waitUntil([&] { return controller->hasPanels(); }));
    EXPECT_EQ(QWidget::keyboardGrabber(), panel(1));
}

TEST_F(OverlaySnapshotTest, APictureThatArrivesLateShowsNothingOnceTheOverlayWasHiddenShownAgainOrDropped) {
    grabTime = 30ms;
    auto& c = showOverlay(overDesktop(false));
    c.hide();
    spinFor(100);
    EXPECT_TRUE(c.panels().empty());
    EXPECT_FALSE(state->isOverlayVisible());

    c.show();
    c.show();
    ASSERT_TRUE(waitUntil([&] { return c.hasPanels(); }));
    spinFor(100);
    EXPECT_EQ(grabs, 3);
    EXPECT_EQ(c.panels().size(), 2u);

    c.show();
    controller.reset();
    spinFor(100);
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<KeyablePanel*>(w) && w->isVisible());
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
        [&](const GlobalShortcuts::Shortcut&) {
            fired.push_back("up");
            controller.reset();  // what the application does to a visible overlay
        });
    showOverlay();
    KeyProbe probe;
    QTest::keyClick(&probe, Qt::Key_6, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(fired, (std::vector<std::string>{"down", "up"}));
    EXPECT_EQ(probe.presses, 0);
    EXPECT_EQ(controller, nullptr);
    // The release counts even when the modifiers went up first.
    showOverlay();
    QTest::keyPress(&probe, Qt::Key_6, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyRelease(&probe, Qt::Key_6, Qt::NoModifier);
    EXPECT_EQ(fired.size(), 4u);
    // Other combinations, and every key while shortcuts are off, are the focused window's.
    showOverlay();
    QTest::keyClick(&probe, Qt::Key_6, Qt::ControlModifier);
    GlobalShortcuts::setIsEnabled(false);
    QTest::keyClick(&probe, Qt::Key_6, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(probe.presses, 2);
    EXPECT_EQ(fired.size(), 4u);
    GlobalShortcuts::resetForTesting();
    platform::HotKeyCenter::setShared(nullptr);
}

}  // namespace
