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
    // The centre of a widget of the bar (or of a part of it), in display A's panel.
    QPointF centreOf(QWidget* w, std::optional<QRectF> part = {}) const {
        return QPointF(w->mapTo(panel(0), part ? part->center().toPoint() : w->rect().center()));
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
    EXPECT_EQ(view(0)->controlBar(), nullptr);
    EXPECT_NE(view(1)->controlBar(), nullptr);
}

TEST_F(ControlBarViewTest, TheButtonsSetTypeAndModeConfirmAndCancel) {
    state->setMode(CaptureMode::rect);
    showOverlay();
    CaptureTypeToggle* toggle = bar()->typeToggle();
    click(0, centreOf(toggle, toggle->videoRect()));
    EXPECT_EQ(state->captureType(), CaptureType::video);
    EXPECT_EQ(bar()->captureButton()->iconName(), "record.circle");
    EXPECT_EQ(bar()->captureButton()->label(), "Record");
    EXPECT_EQ(bar()->captureButton()->color(), OverlayStyle::red());
    EXPECT_EQ(toggle->selectionFill(CaptureType::video), OverlayStyle::withOpacity(OverlayStyle::red(), 0.2));
    EXPECT_EQ(toggle->symbolColor(CaptureType::photo), OverlayStyle::secondary());
    EXPECT_FALSE(toggle->selectionFill(CaptureType::photo).has_value());
    click(0, centreOf(toggle, toggle->photoRect()));
    EXPECT_EQ(state->captureType(), CaptureType::photo);
    EXPECT_EQ(bar()->captureButton()->label(), "Capture");
    EXPECT_EQ(bar()->captureButton()->color(), OverlayStyle::accent());
    EXPECT_EQ(toggle->symbolColor(CaptureType::photo), OverlayStyle::primary());

    click(0, centreOf(bar()->modeButton(CaptureMode::window)));
    EXPECT_EQ(settings.lastCaptureMode(), CaptureMode::window);
    EXPECT_TRUE(bar()->modeButton(CaptureMode::window)->isSelected());
    EXPECT_FALSE(bar()->modeButton(CaptureMode::rect)->isSelected());
    click(0, centreOf(bar()->modeButton(CaptureMode::screen)));
    EXPECT_EQ(state->currentMode(), CaptureMode::screen);
    // The selected mode reports again.
    std::vector<CaptureMode> reported;
    ControlBarView standalone(*state, [&](CaptureMode m) { reported.push_back(m); }, nullptr, nullptr);
    standalone.modeButton(CaptureMode::screen)->click();
    EXPECT_EQ(reported, std::vector<CaptureMode>{CaptureMode::screen});

    click(0, centreOf(bar()->captureButton()));
    EXPECT_EQ(calls, (std::vector<std::string>{"pause", "capture screen A"}));
    showOverlay();
    EXPECT_EQ(bar()->cancelButton()->label(), "Cancel");
    click(0, centreOf(bar()->cancelButton()));
    EXPECT_FALSE(controller->hasPanels());
    EXPECT_EQ(calls.size(), 2u);
}

TEST_F(ControlBarViewTest, ADragFollowsThePointerSpringsBackAndMovesOnlyAStoredPlace) {
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
    EXPECT_EQ(b->pos(), home + QPoint(-300, -400));
    release(0, start + QPointF(-300, -400));
    EXPECT_FALSE(b->isDragging());
    EXPECT_EQ(b->dragOffset(), QPointF());
    EXPECT_TRUE(waitUntil([&] { return b->pos() == home; }));
    EXPECT_FALSE(state->controlBarPosition().has_value());

    // Begun on a button, it is a drag and not a click; a stored place moves by it.
    state->setControlBarPosition(QPointF(500, 500));
    state->setMode(CaptureMode::rect);
    const QPointF onButton = centreOf(bar()->modeButton(CaptureMode::screen));
    drag(0, onButton, onButton + QPointF(80, -60));
    EXPECT_EQ(state->currentMode(), CaptureMode::rect);
    EXPECT_EQ(state->controlBarPosition(), QPointF(580, 440));
    EXPECT_TRUE(waitUntil([&] { return b->pos() == home; }));
    EXPECT_TRUE(controller->hasPanels());
}

}  // namespace
