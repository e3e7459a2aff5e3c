#include "OverlayFixture.h"

#include "Features/Overlay/OverlayStyle.h"
#include "Features/Overlay/SelectionRectView.h"
#include "Features/Overlay/WindowHighlightView.h"

#include <QImage>

using namespace zentola;
using namespace overlay_test;

namespace {

class OverlayViewTest : public OverlayFixture {
protected:
    platform::ScreenRef captured;
    int captures = 0;

    void showRecording() {
        auto env = fakeEnvironment();
        env.performCaptureWorkflow = [this](CaptureMode, std::optional<SelectionRect>, std::optional<WindowInfo>,
                                            platform::ScreenRef screen) -> QCoro::Task<void> {
            captured = screen;
            ++captures;
            co_return;
        };
        controller = std::make_unique<OverlayWindowController>(*state, env);
        controller->show();
    }
};

TEST_F(OverlayViewTest, ScreenModeVeilsOnlyTheOtherDisplaysAndOutlinesEvery) {
    state->setMode(CaptureMode::screen);
    showRecording();
    EXPECT_EQ(view(0)->veilOpacity(), 0.0);
    EXPECT_EQ(view(1)->veilOpacity(), 0.1);

    const QImage a = picture(0), b = picture(1);
    EXPECT_EQ(qAlpha(a.pixel(700, 300)), 0);
    EXPECT_NEAR(qAlpha(b.pixel(700, 300)), 26, 1);
    EXPECT_EQ(qRed(b.pixel(700, 300)), 0);
    const QColor accent = OverlayStyle::accent();
    for (const QImage& image : {a, b}) {
        EXPECT_EQ(QColor(image.pixel(1, 500)).rgb(), accent.rgb());
        EXPECT_EQ(QColor(image.pixel(960, 1078)).rgb(), accent.rgb());
        EXPECT_NE(QColor(image.pixel(3, 500)).rgb(), accent.rgb());  // half of the 4-point stroke shows
    }
}

TEST_F(OverlayViewTest, AClickOnEitherDisplayCapturesTheActiveOne) {
    state->setMode(CaptureMode::screen);
    showRecording();
    QPointer<QWindow> b = window(1);
    press(1, {800, 300});
    release(1, {800, 300});
    EXPECT_EQ(captures, 1);
    EXPECT_EQ(captured, display(0));

    controller->show();
    press(0, {10, 10});
    release(0, {10, 10});
    EXPECT_EQ(captures, 2);
    EXPECT_EQ(captured, display(0));
}

TEST_F(OverlayViewTest, OtherModesHaveNoVeilToClick) {
    state->setMode(CaptureMode::rect);
    showRecording();
    const QImage b = picture(1);
    EXPECT_EQ(qAlpha(b.pixel(700, 300)), 0);
    EXPECT_NE(QColor(b.pixel(1, 500)).rgb(), OverlayStyle::accent().rgb());
    press(1, {800, 300});
    release(1, {800, 300});
    EXPECT_EQ(captures, 0);
    EXPECT_TRUE(controller->hasPanels());
}

TEST_F(OverlayViewTest, EditorsFollowTheModeOnEveryDisplay) {
    state->setMode(CaptureMode::rect);
    showRecording();
    for (int i = 0; i < 2; ++i) {
        EXPECT_NE(view(i)->selectionView(), nullptr);
        EXPECT_EQ(view(i)->windowHighlightView(), nullptr);
    }
    state->setMode(CaptureMode::window);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(view(i)->selectionView(), nullptr);
        ASSERT_NE(view(i)->windowHighlightView(), nullptr);
        EXPECT_EQ(view(i)->windowHighlightView()->geometry(), view(i)->rect());
    }
    state->setMode(CaptureMode::screen);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(view(i)->selectionView(), nullptr);
        EXPECT_EQ(view(i)->windowHighlightView(), nullptr);
    }
}

TEST_F(OverlayViewTest, TheSelectionIsDimmedAroundAndOutlined) {
    state->setMode(CaptureMode::rect);
    state->updateSelectionRect(QRectF(100, 100, 200, 100), display(0));
    showRecording();
    const QImage a = picture(0), b = picture(1);
    EXPECT_NEAR(qAlpha(a.pixel(50, 50)), 77, 1);  // outside: black at 0.3
    EXPECT_EQ(qAlpha(a.pixel(200, 140)), 0);      // inside: clear
    EXPECT_EQ(QColor(a.pixel(150, 100)).rgb(), OverlayStyle::accent().rgb());
    EXPECT_EQ(a.pixel(300, 150), qRgb(255, 255, 255));  // middle-right knob
    EXPECT_EQ(qAlpha(b.pixel(50, 50)), 0);  // not B's selection
}

}  // namespace
