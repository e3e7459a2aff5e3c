#include "OverlayFixture.h"

#include "Features/Overlay/ActionButton.h"
#include "Features/Overlay/CaptureTypeToggle.h"
#include "Features/Overlay/ControlBarView.h"
#include "Features/Overlay/ModeButton.h"
#include "Features/Overlay/OverlayStyle.h"

using namespace zentola;
using namespace overlay_test;

namespace {

class ControlBarViewTest : public OverlayFixture {
protected:
    ControlBarView* bar() const { return view(0)->controlBar(); }

    // The centre of a widget of the bar, in display A's panel.
    QPointF centreOf(QWidget* w) const { return QPointF(w->mapTo(panel(0), w->rect().center())); }
    QPointF centreOf(QWidget* w, QRectF part) const { return QPointF(w->mapTo(panel(0), part.center().toPoint())); }

    void click(QPointF at) {
        press(0, at);
        release(0, at);
    }
};

TEST_F(ControlBarViewTest, SitsCentredAboveTheBottomOfTheActiveDisplayOnly) {
    showOverlay();
    ASSERT_NE(bar(), nullptr);
    EXPECT_EQ(view(1)->controlBar(), nullptr);
    const QRect g = bar()->geometry();
    EXPECT_EQ(g.left() * 2 + g.width(), 1920);
    EXPECT_EQ(g.bottom() + 1, 1080 - 60);
    EXPECT_EQ(g.height(), 62);  // 50-point buttons and 6 points above and below

    state->setActiveScreen(nullptr);
    EXPECT_EQ(OverlayView::controlBarScreen(*state), display(0));
    state->setActiveScreen(display(1));
    EXPECT_EQ(OverlayView::controlBarScreen(*state), display(1));
    EXPECT_EQ(view(0)->controlBar(), nullptr);
    EXPECT_NE(view(1)->controlBar(), nullptr);
}

TEST_F(ControlBarViewTest, TheTypeToggleTurnsTheCaptureButtonIntoRecord) {
    showOverlay();
    CaptureTypeToggle* toggle = bar()->typeToggle();
    click(centreOf(toggle, toggle->videoRect()));
    EXPECT_EQ(state->captureType(), CaptureType::video);
    EXPECT_TRUE(bar()->isVideoMode());
    EXPECT_EQ(bar()->captureButton()->iconName(), "record.circle");
    EXPECT_EQ(bar()->captureButton()->label(), "Record");
    EXPECT_EQ(bar()->captureButton()->color(), OverlayStyle::red());
    EXPECT_EQ(toggle->symbolColor(CaptureType::video), OverlayStyle::red());
    EXPECT_EQ(toggle->selectionFill(CaptureType::video), OverlayStyle::withOpacity(OverlayStyle::red(), 0.2));
    EXPECT_EQ(toggle->symbolColor(CaptureType::photo), OverlayStyle::secondary());
    EXPECT_FALSE(toggle->selectionFill(CaptureType::photo).has_value());

    click(centreOf(toggle, toggle->photoRect()));
    EXPECT_EQ(state->captureType(), CaptureType::photo);
    EXPECT_EQ(bar()->captureButton()->iconName(), "camera.fill");
    EXPECT_EQ(bar()->captureButton()->label(), "Capture");
    EXPECT_EQ(bar()->captureButton()->color(), OverlayStyle::accent());
    EXPECT_EQ(toggle->symbolColor(CaptureType::photo), OverlayStyle::primary());
    EXPECT_EQ(toggle->selectionFill(CaptureType::photo), OverlayStyle::withOpacity(OverlayStyle::accent(), 0.2));
    EXPECT_EQ(bar()->cancelButton()->label(), "Cancel");
    EXPECT_EQ(bar()->cancelButton()->iconName(), "xmark");
}

TEST_F(ControlBarViewTest, ModeButtonsSetAndStoreTheMode) {
    state->setMode(CaptureMode::rect);
    showOverlay();
    click(centreOf(bar()->modeButton(CaptureMode::window)));
    EXPECT_EQ(state->currentMode(), CaptureMode::window);
    EXPECT_EQ(settings.lastCaptureMode(), CaptureMode::window);
    EXPECT_TRUE(bar()->modeButton(CaptureMode::window)->isSelected());
    EXPECT_FALSE(bar()->modeButton(CaptureMode::rect)->isSelected());
    EXPECT_NE(view(1)->windowHighlightView(), nullptr);
    click(centreOf(bar()->modeButton(CaptureMode::screen)));
    EXPECT_EQ(state->currentMode(), CaptureMode::screen);
    EXPECT_TRUE(controller->hasPanels());
}

TEST_F(ControlBarViewTest, TheSelectedModeReportsAgain) {
    std::vector<CaptureMode> reported;
    ControlBarView standalone(*state, [&](CaptureMode m) { reported.push_back(m); }, nullptr, nullptr);
    state->setMode(CaptureMode::rect);
    standalone.modeButton(CaptureMode::rect)->click();
    standalone.modeButton(CaptureMode::rect)->click();
    EXPECT_EQ(reported, (std::vector<CaptureMode>{CaptureMode::rect, CaptureMode::rect}));
}

TEST_F(ControlBarViewTest, CaptureAndCancelButtons) {
    state->setMode(CaptureMode::screen);
    showOverlay();
    click(centreOf(bar()->cancelButton()));
    EXPECT_FALSE(controller->hasPanels());
    EXPECT_TRUE(calls.empty());

    calls.clear();
    showOverlay();
    click(centreOf(bar()->captureButton()));
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "capture screen"}));
}

TEST_F(ControlBarViewTest, ADragFollowsThePointerAndSpringsBack) {
    showOverlay();
    QPointer<ControlBarView> b = bar();
    const QPoint home = b->pos();
    const QPointF start = QPointF(b->geometry().topLeft()) + QPointF(200, 3);  // the bar's own background

    press(0, start);
    moveTo(0, start + QPointF(6, 5));
    EXPECT_FALSE(b->isDragging());
    EXPECT_EQ(b->pos(), home);
    moveTo(0, start + QPointF(-300, -400));
    EXPECT_TRUE(b->isDragging());
    EXPECT_EQ(b->dragOffset(), QPointF(-300, -400));
    EXPECT_EQ(b->pos(), home + QPoint(-300, -400));
    release(0, start + QPointF(-300, -400));
    EXPECT_FALSE(b->isDragging());
    EXPECT_EQ(b->dragOffset(), QPointF());
    EXPECT_TRUE(waitUntil([&] { return b->pos() == home; }));
    // With no stored place nothing is stored.
    EXPECT_FALSE(state->controlBarPosition().has_value());
    EXPECT_TRUE(controller->hasPanels());
}

TEST_F(ControlBarViewTest, AStoredPlaceMovesByTheDragButTheBarDoesNot) {
    state->setControlBarPosition(QPointF(500, 500));
    showOverlay();
    const QPoint home = bar()->pos();
    const QPointF start = centreOf(bar()->modeButton(CaptureMode::screen));
    state->setMode(CaptureMode::rect);
    // Begun on a button: a drag, not a click.
    press(0, start);
    moveTo(0, start + QPointF(40, -30));
    moveTo(0, start + QPointF(80, -60));
    release(0, start + QPointF(80, -60));
    EXPECT_EQ(state->currentMode(), CaptureMode::rect);
    EXPECT_EQ(state->controlBarPosition(), QPointF(580, 440));
    EXPECT_TRUE(waitUntil([&] { return bar()->pos() == home; }));
}

}  // namespace
