#include "OverlayFixture.h"

#include "Features/Overlay/OverlayStyle.h"
#include "platform/core/Error.h"

#include <QApplication>
#include <QImage>
#include <qcoro/qcorotimer.h>

#include <chrono>
#include <map>

using namespace zentola;
using namespace overlay_test;
using namespace std::chrono_literals;

namespace {

// Panels over a desktop whose compositor answer and display pictures the test decides.
class OverlaySnapshotTest : public OverlayFixture {
protected:
    bool compositor = false;
    std::map<QString, QRgb> desktop{{"A", qRgb(200, 100, 50)}, {"B", qRgb(40, 160, 220)}};
    std::map<QString, int> snapshots;
    bool panelVisibleAtSnapshot = false;
    std::chrono::milliseconds grabTime{0};
    // Displays whose grab fails: by throwing, or with a null picture.
    QString throwsOn, nullOn;

    void showOverDesktop() {
        auto env = fakeEnvironment();
        env.compositorRunning = [this] { return compositor; };
        env.snapshot = [this](platform::ScreenRef screen) -> QCoro::Task<QImage> {
            const QString name = screen->name();
            ++snapshots[name];
            if (controller)
                for (const auto& [s, p] : controller->panels())
                    panelVisibleAtSnapshot = panelVisibleAtSnapshot || (p && p->isVisible());
            if (grabTime.count() > 0)
                co_await QCoro::sleepFor(grabTime);
            if (name == throwsOn)
                throw platform::PlatformError("X11", 3, "The screen cannot be read");
            if (name == nullOn)
                co_return QImage();
            QImage shot(screen->nativeGeometry().size(), QImage::Format_RGB32);
            shot.fill(desktop.at(name));
            co_return shot;
        };
        controller = std::make_unique<OverlayWindowController>(*state, env);
        controller->show();
    }

    // The colour under black at the given opacity, opaque.
    static QRgb veiled(QRgb colour, double opacity) {
        const double keep = 1 - opacity;
        return qRgb(qRound(qRed(colour) * keep), qRound(qGreen(colour) * keep), qRound(qBlue(colour) * keep));
    }

    static void expectColour(QRgb actual, QRgb expected, const char* where) {
        EXPECT_EQ(qAlpha(actual), 255) << where;
        EXPECT_NEAR(qRed(actual), qRed(expected), 2) << where;
        EXPECT_NEAR(qGreen(actual), qGreen(expected), 2) << where;
        EXPECT_NEAR(qBlue(actual), qBlue(expected), 2) << where;
    }
};

TEST_F(OverlaySnapshotTest, WithoutACompositorEachPanelPaintsItsDisplayBeneathTheVeilAndSelection) {
    state->setMode(CaptureMode::rect);
    state->updateSelectionRect(QRectF(100, 100, 200, 100), display(0));
    showOverDesktop();

    ASSERT_TRUE(controller->hasPanels());
    EXPECT_TRUE(state->isOverlayVisible());
    EXPECT_EQ(snapshots, (std::map<QString, int>{{"A", 1}, {"B", 1}}));
    EXPECT_FALSE(panelVisibleAtSnapshot) << "a snapshot must not show the overlay itself";

    const QImage a = picture(0), b = picture(1);
    expectColour(a.pixel(50, 50), veiled(desktop["A"], 0.3), "outside the selection");
    expectColour(a.pixel(200, 140), desktop["A"], "inside the selection");
    EXPECT_EQ(QColor(a.pixel(150, 100)).rgb(), OverlayStyle::accent().rgb());
    expectColour(b.pixel(50, 50), desktop["B"], "the display without the selection");
    expectColour(b.pixel(1900, 1070), desktop["B"], "its far corner");

    // Screen mode: the other display under its light veil, the outline still on top.
    state->setMode(CaptureMode::screen);
    const int veiledIndex = view(0)->veilOpacity() > 0 ? 0 : 1;
    const QString veiledName = display(veiledIndex)->name(), clearName = display(1 - veiledIndex)->name();
    expectColour(picture(veiledIndex).pixel(700, 300), veiled(desktop[veiledName], 0.1), "veiled display");
    expectColour(picture(1 - veiledIndex).pixel(700, 300), desktop[clearName], "active display");
    EXPECT_EQ(QColor(picture(0).pixel(1, 500)).rgb(), OverlayStyle::accent().rgb());

    // The pictures go with the overlay, and the next showing takes new ones.
    QPointer<OverlayView> first = view(0);
    controller->hide();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->snapshot().isNull());
    desktop["A"] = qRgb(10, 20, 30);
    controller->show();
    EXPECT_EQ(snapshots["A"], 2);
    expectColour(picture(0).pixel(700, 300), desktop["A"], "the second showing");
}

TEST_F(OverlaySnapshotTest, WithACompositorNothingIsGrabbedAndThePanelsStayTranslucent) {
    compositor = true;
    state->setMode(CaptureMode::rect);
    state->updateSelectionRect(QRectF(100, 100, 200, 100), display(0));
    showOverDesktop();

    ASSERT_TRUE(controller->hasPanels());
    EXPECT_TRUE(snapshots.empty());
    EXPECT_TRUE(view(0)->snapshot().isNull());
    const QImage a = picture(0);
    EXPECT_NEAR(qAlpha(a.pixel(50, 50)), 77, 1);
    EXPECT_EQ(qAlpha(a.pixel(200, 140)), 0);
}

TEST_F(OverlaySnapshotTest, AFailedSnapshotLeavesOnlyThatPanelTranslucent) {
    state->setMode(CaptureMode::rect);
    state->updateSelectionRect(QRectF(100, 100, 200, 100), display(0));
    throwsOn = "A";
    showOverDesktop();
    ASSERT_TRUE(controller->hasPanels());
    EXPECT_TRUE(state->isOverlayVisible());
    EXPECT_EQ(qAlpha(picture(0).pixel(200, 140)), 0);
    EXPECT_NEAR(qAlpha(picture(0).pixel(50, 50)), 77, 1);
    expectColour(picture(1).pixel(50, 50), desktop["B"], "the display whose grab worked");

    throwsOn.clear();
    nullOn = "B";
    controller->show();
    ASSERT_TRUE(controller->hasPanels());
    expectColour(picture(0).pixel(200, 140), desktop["A"], "the display whose grab worked");
    EXPECT_EQ(qAlpha(picture(1).pixel(50, 50)), 0);
}

TEST_F(OverlaySnapshotTest, ASlowSnapshotShowsThePanelsOnlyWhenDone_NotAfterAHideOrAnotherShow) {
    state->setMode(CaptureMode::rect);
    grabTime = 30ms;
    showOverDesktop();
    EXPECT_FALSE(controller->hasPanels());
    EXPECT_FALSE(state->isOverlayVisible());
    EXPECT_FALSE(controller->hasKeyMonitor());
    ASSERT_TRUE(waitUntil([&] { return controller->hasPanels(); }));
    EXPECT_TRUE(state->isOverlayVisible());
    EXPECT_TRUE(controller->hasKeyMonitor());
    expectColour(picture(1).pixel(5, 5), desktop["B"], "once shown");

    // Hidden while grabbing: the grab that comes back shows nothing.
    controller->show();
    controller->hide();
    QTest::qWait(150);
    EXPECT_TRUE(controller->panels().empty());
    EXPECT_FALSE(state->isOverlayVisible());
    EXPECT_FALSE(controller->hasKeyMonitor());

    // Shown twice: only the second showing's panels appear, each once.
    controller->show();
    controller->show();
    ASSERT_TRUE(waitUntil([&] { return controller->hasPanels(); }));
    QTest::qWait(150);
    EXPECT_EQ(controller->panels().size(), 2u);
    for (int i = 0; i < 2; ++i)
        EXPECT_FALSE(view(i)->snapshot().isNull());

    // Released while grabbing: the late grab touches nothing.
    controller->hide();
    controller->show();
    controller.reset();
    QTest::qWait(150);
    EXPECT_FALSE(state->isOverlayVisible());
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<KeyablePanel*>(w) && w->isVisible());
}

TEST_F(OverlaySnapshotTest, DisplaysReplacedWhileGrabbingStillLeaveOnePanelWithTheKeysAndTheBar) {
    grabTime = 30ms;
    showOverDesktop();
    const auto before = controller->panels().size();
    // The same two monitors come back as new displays before the grabs are done.
    useDisplays({platform::FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11),
                 platform::FakeScreenProvider::display("B", QRect(1920, 0, 1920, 1080), 22)});
    ASSERT_TRUE(waitUntil([&] { return controller->hasPanels(); }));
    ASSERT_EQ(controller->panels().size(), before);
    ASSERT_EQ(controller->panels().count(state->activeScreen()), 1u);
    const auto keyPanel = controller->panels().at(state->activeScreen());
    EXPECT_EQ(QWidget::keyboardGrabber(), keyPanel.data());
    EXPECT_NE(keyPanel->contentView()->controlBar(), nullptr);
}

}  // namespace
