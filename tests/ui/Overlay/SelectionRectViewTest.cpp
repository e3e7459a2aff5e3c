#include "OverlayFixture.h"

#include "Features/Overlay/CursorTrackingLayer.h"
#include "Features/Overlay/SelectionRectView.h"

using namespace zentola;
using namespace overlay_test;

namespace {

class SelectionRectViewTest : public OverlayFixture {
protected:
    void SetUp() override {
        OverlayFixture::SetUp();
        state->setMode(CaptureMode::rect);
    }

    SelectionRectView* editor(int index) const { return view(index)->selectionView(); }

    std::optional<QRectF> stored() const {
        const auto saved = settings.savedRect();
        return saved ? std::optional<QRectF>(saved->rect()) : std::nullopt;
    }

    void select(const QRectF& r, int index = 0) { state->updateSelectionRect(r, display(index)); }
};

TEST_F(SelectionRectViewTest, DrawingStoresTheStandardisedRectangleOnTheDisplayDrawnOn) {
    showOverlay();
    ASSERT_NE(editor(0), nullptr);
    ASSERT_NE(editor(1), nullptr);
    EXPECT_TRUE(editor(0)->isActive());
    EXPECT_FALSE(editor(1)->isActive());

    press(0, {300, 200});
    moveTo(0, {250, 150});
    EXPECT_TRUE(editor(0)->isCreatingNewRect());
    moveTo(0, {100, 50});
    release(0, {100, 50});
    EXPECT_FALSE(editor(0)->isCreatingNewRect());

    ASSERT_TRUE(state->selectionRect().has_value());
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(100, 50, 200, 150));
    EXPECT_EQ(state->selectionRect()->screenDisplayID, 11u);
    EXPECT_EQ(stored(), QRectF(100, 50, 200, 150));
    EXPECT_EQ(editor(0)->currentRect(), QRectF(100, 50, 200, 150));
    EXPECT_FALSE(editor(1)->currentRect().has_value());
}

TEST_F(SelectionRectViewTest, EveryStepOfADragIsWrittenAtOnce) {
    showOverlay();
    press(0, {10, 10});
    for (int i = 1; i <= 4; ++i) {
        moveTo(0, QPointF(10, 10) + QPointF(10, 20) * i);
        const QRectF expected(10, 10, 10 * i, 20 * i);
        EXPECT_EQ(state->selectionRect()->rect(), expected);
        EXPECT_EQ(stored(), expected);
    }
    release(0, {50, 90});
}

TEST_F(SelectionRectViewTest, OnlyTheActiveOrOwningDisplayTakesDrags) {
    showOverlay();
    drag(1, {100, 100}, {400, 300});
    EXPECT_FALSE(state->selectionRect().has_value());

    // B owns the selection: it takes drags although A is active, and A drawing takes it over.
    select(QRectF(100, 100, 200, 100), 1);
    drag(1, {300, 200}, {340, 230});  // bottom-right handle
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(100, 100, 240, 130));
    EXPECT_EQ(state->selectionRect()->screenDisplayID, 22u);
    drag(0, {500, 500}, {600, 650});
    EXPECT_EQ(state->selectionRect()->screenDisplayID, 11u);
    EXPECT_FALSE(editor(1)->currentRect().has_value());
    drag(1, {300, 200}, {340, 230});
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(500, 500, 100, 150));
}

TEST_F(SelectionRectViewTest, DraggingInsideDrawsAfreshButWithAltMovesTheRectangle) {
    select(QRectF(100, 100, 200, 100));
    showOverlay();
    drag(0, {150, 150}, {180, 170});
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(150, 150, 30, 20));

    select(QRectF(100, 100, 200, 100));
    press(0, {150, 150}, Qt::AltModifier);
    moveTo(0, {170, 160}, Qt::AltModifier);
    EXPECT_TRUE(editor(0)->isDraggingRect());
    EXPECT_EQ(editor(0)->dragStartRect(), QRectF(100, 100, 200, 100));
    EXPECT_EQ(editor(0)->cursorLayer()->currentCursor(), OverlayCursor::closedHand);
    // Letting go of Alt does not end the move, and the rectangle may leave the display.
    moveTo(0, {-150, 120});
    release(0, {-150, 120});
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(-200, 70, 200, 100));
    EXPECT_FALSE(editor(0)->isDraggingRect());
    EXPECT_FALSE(editor(0)->dragStartRect().has_value());
    EXPECT_EQ(editor(0)->cursorLayer()->currentCursor(), OverlayCursor::crosshair);

    // Alt outside the rectangle draws.
    drag(0, {600, 600}, {620, 640}, Qt::AltModifier);
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(600, 600, 20, 40));
}

TEST_F(SelectionRectViewTest, EachHandleMovesItsOwnEdges) {
    const QRectF start(400, 300, 200, 100);
    const QPointF by(20, 15);
    const std::vector<std::pair<QPointF, QRectF>> cases = {
        {{400, 300}, QRectF(420, 315, 180, 85)},  {{500, 300}, QRectF(400, 315, 200, 85)},
        {{600, 300}, QRectF(400, 315, 220, 85)},  {{400, 350}, QRectF(420, 300, 180, 100)},
        {{600, 350}, QRectF(400, 300, 220, 100)}, {{400, 400}, QRectF(420, 300, 180, 115)},
        {{500, 400}, QRectF(400, 300, 200, 115)}, {{600, 400}, QRectF(400, 300, 220, 115)},
    };
    showOverlay();
    for (const auto& [handle, expected] : cases) {
        select(start);
        press(0, handle);
        moveTo(0, handle + by / 2);
        EXPECT_TRUE(editor(0)->isDraggingHandle());
        EXPECT_EQ(editor(0)->dragStartRect(), start);
        moveTo(0, handle + by);
        release(0, handle + by);
        EXPECT_EQ(state->selectionRect()->rect(), expected) << handle.x() << "," << handle.y();
        EXPECT_FALSE(editor(0)->isDraggingHandle());
        EXPECT_FALSE(editor(0)->dragStartRect().has_value());
    }
}

TEST_F(SelectionRectViewTest, ResizingKeepsTheMinimumSizeThenCrossesOver) {
    showOverlay();
    select(QRectF(100, 100, 50, 50));
    drag(0, {100, 100}, {145, 100});
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(140, 100, 10, 50));

    select(QRectF(100, 100, 50, 50));
    drag(0, {100, 100}, {180, 100});
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(180, 100, -30, 50));

    select(QRectF(100, 100, 50, 50));
    drag(0, {150, 150}, {105, 105});
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(100, 100, 10, 10));

    select(QRectF(100, 100, 50, 50));
    drag(0, {125, 100}, {125, 148});
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(100, 140, 50, 10));
}

TEST_F(SelectionRectViewTest, OnASmallRectangleThePressedKnobIsTheNearestOne) {
    showOverlay();
    // Every hit circle of a 10-point square overlaps its neighbours'.
    select(QRectF(100, 100, 10, 10));
    drag(0, {100, 100}, {80, 90});
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(80, 90, 30, 20));

    select(QRectF(100, 100, 10, 10));
    drag(0, {110, 110}, {130, 140});
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(100, 100, 30, 40));
}

TEST_F(SelectionRectViewTest, AMirroredRectangleIsResizedByTheEdgesOnScreen) {
    showOverlay();
    // Shown from x 150 to 180; its left handle sits at 150.
    select(QRectF(180, 100, -30, 50));
    drag(0, {150, 100}, {160, 100});
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(160, 100, 20, 50));
}

TEST_F(SelectionRectViewTest, ShortDragsChangeNothing) {
    select(QRectF(100, 100, 50, 50));
    showOverlay();
    const auto before = state->selectionRect();
    drag(0, {150, 150}, {156, 152});  // under the handle's 10 points
    drag(0, {400, 400}, {403, 402});  // under drawing's 5 points
    EXPECT_EQ(state->selectionRect(), before);
    EXPECT_FALSE(editor(0)->isCreatingNewRect());
    EXPECT_FALSE(editor(0)->isDraggingHandle());
}

TEST_F(SelectionRectViewTest, APlainDragOfFivePointsGivesAFlatRectangle) {
    showOverlay();
    drag(0, {400, 400}, {405, 400});
    EXPECT_EQ(state->selectionRect()->rect(), QRectF(400, 400, 5, 0));
}

TEST_F(SelectionRectViewTest, TheEditorGoesWithRectMode) {
    showOverlay();
    QPointer<SelectionRectView> e = editor(0);
    state->setMode(CaptureMode::screen);
    EXPECT_EQ(editor(0), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(e.isNull());
    state->setMode(CaptureMode::rect);
    EXPECT_NE(editor(0), nullptr);
}

}  // namespace
