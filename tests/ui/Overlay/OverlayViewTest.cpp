#include "OverlayFixture.h"

#include "Features/Overlay/OverlayStyle.h"
#include "Features/Overlay/SelectionRectView.h"
#include "Features/Overlay/WindowHighlightView.h"

#include <QGuiApplication>
#include <QImage>
#include <QStyleHints>

using namespace zentola;
using namespace overlay_test;

namespace {

using OverlayViewTest = OverlayFixture;

TEST_F(OverlayViewTest, ScreenModeVeilsOnlyTheOtherDisplaysAndOutlinesEvery) {
    state->setMode(CaptureMode::screen);
    showOverlay();
    EXPECT_EQ(view(0)->veilOpacity(), 0.0);
    EXPECT_EQ(view(1)->veilOpacity(), 0.1);
    const QImage a = picture(0), b = picture(1);
    EXPECT_EQ(qAlpha(a.pixel(700, 300)), 0);
    EXPECT_NEAR(qAlpha(b.pixel(700, 300)), 26, 1);
    EXPECT_EQ(qRed(b.pixel(700, 300)), 0);
    for (const QImage& image : {a, b}) {
        EXPECT_EQ(QColor(image.pixel(1, 500)).rgb(), OverlayStyle::accent().rgb());
        EXPECT_EQ(QColor(image.pixel(960, 1078)).rgb(), OverlayStyle::accent().rgb());
        EXPECT_NE(QColor(image.pixel(3, 500)).rgb(), OverlayStyle::accent().rgb());  // half of the 4-point stroke shows
    }

    // Other modes have no veil and no outline.
    state->setMode(CaptureMode::rect);
    EXPECT_EQ(qAlpha(picture(1).pixel(700, 300)), 0);
    EXPECT_NE(QColor(picture(1).pixel(1, 500)).rgb(), OverlayStyle::accent().rgb());
    state->updateSelectionRect(QRectF(100, 100, 200, 100), display(0));
    const QImage dimmed = picture(0);
    EXPECT_NEAR(qAlpha(dimmed.pixel(50, 50)), 77, 1);  // outside: black at 0.3
    EXPECT_EQ(qAlpha(dimmed.pixel(200, 140)), 0);      // inside: clear
    EXPECT_EQ(QColor(dimmed.pixel(150, 100)).rgb(), OverlayStyle::accent().rgb());
    EXPECT_EQ(dimmed.pixel(300, 150), qRgb(255, 255, 255));  // middle-right knob
    EXPECT_EQ(qAlpha(picture(1).pixel(50, 50)), 0);          // not B's selection
}

TEST_F(OverlayViewTest, ATapOnEitherDisplayCapturesTheActiveOne_ADragOrAnotherModeDoesNot) {
    state->setMode(CaptureMode::screen);
    showOverlay();
    click(1, {800, 300});
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "capture screen A"}));

    // Moved past the desktop's drag distance before the release: no tap.
    const int distance = QGuiApplication::styleHints()->startDragDistance();
    showOverlay();
    drag(0, {500, 500}, {500.0 + distance, 500});
    press(1, {10, 10});
    moveTo(1, {10.0 + distance + 20, 10});
    moveTo(1, {10, 10});
    release(1, {10, 10});
    EXPECT_TRUE(controller->hasPanels());
    // A small wobble is still a tap.
    press(0, {10, 10});
    moveTo(0, {10.0 + distance - 1, 10});
    release(0, {10.0 + distance - 1, 10});
    EXPECT_FALSE(controller->hasPanels());
    EXPECT_EQ(calls.size(), 4u);

    calls.clear();
    state->setMode(CaptureMode::rect);
    showOverlay();
    click(1, {800, 300});
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(controller->hasPanels());
}

TEST_F(OverlayViewTest, EditorsFollowTheModeOnEveryDisplay) {
    state->setMode(CaptureMode::rect);
    showOverlay();
    const struct {
        CaptureMode mode;
        bool selection, picker;
    } steps[] = {{CaptureMode::rect, true, false}, {CaptureMode::window, false, true}, {CaptureMode::screen, false, false}};
    for (const auto& step : steps) {
        state->setMode(step.mode);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(view(i)->selectionView() != nullptr, step.selection);
            EXPECT_EQ(view(i)->windowHighlightView() != nullptr, step.picker);
            if (step.picker)
                EXPECT_EQ(view(i)->windowHighlightView()->geometry(), view(i)->rect());
        }
    }
}

}  // namespace
