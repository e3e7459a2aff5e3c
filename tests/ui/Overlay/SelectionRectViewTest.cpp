#include "OverlayFixture.h"

#include "Features/Overlay/CursorTrackingLayer.h"
#include "Features/Overlay/ResizeHandle.h"
#include "Features/Overlay/SelectionRectView.h"

#include <QCursor>

#include <cmath>

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
    QRectF selection() const { return state->selectionRect() ? state->selectionRect()->rect() : QRectF(); }
    void select(const QRectF& r, int index = 0) { state->updateSelectionRect(r, display(index)); }
};

TEST_F(SelectionRectViewTest, DrawingStoresEveryStepOnTheActiveOrOwningDisplay_AltMovesTheRectangleEvenOffIt) {
    showOverlay();
    drag(1, {100, 100}, {400, 300});
    EXPECT_FALSE(state->selectionRect().has_value());
    press(0, {300, 200});
    for (int i = 1; i <= 4; ++i) {
        moveTo(0, QPointF(300, 200) - QPointF(50, 40) * i);
        EXPECT_TRUE(editor(0)->isCreatingNewRect() && selection() == QRectF(300 - 50 * i, 200 - 40 * i, 50 * i, 40 * i));
        EXPECT_EQ(settings.savedRect()->rect(), selection());
    }
    release(0, {100, 40});
    EXPECT_TRUE(!editor(0)->isCreatingNewRect() && state->selectionRect()->screenDisplayID == 11u && !editor(1)->currentRect());
    // Five points along one axis draw a flat rectangle; fewer draw nothing.
    drag(0, {400, 400}, {405, 400});
    drag(0, {600, 600}, {603, 602});
    EXPECT_EQ(selection(), QRectF(400, 400, 5, 0));
    // B owns the selection: it takes drags although A is active, until A draws one of its own.
    select(QRectF(100, 100, 200, 100), 1);
    drag(1, {300, 200}, {340, 230});  // bottom-right handle
    EXPECT_TRUE(selection() == QRectF(100, 100, 240, 130) && state->selectionRect()->screenDisplayID == 22u);
    drag(0, {500, 500}, {600, 650});
    drag(1, {300, 200}, {340, 230});
    EXPECT_TRUE(selection() == QRectF(500, 500, 100, 150) && state->selectionRect()->screenDisplayID == 11u);

    // Inside without Alt draws afresh; with Alt it moves, and letting go of Alt does not end that.
    drag(0, {550, 550}, {580, 570});
    EXPECT_EQ(selection(), QRectF(550, 550, 30, 20));
    select(QRectF(100, 100, 200, 100));
    press(0, {150, 150}, Qt::AltModifier);
    moveTo(0, {170, 160}, Qt::AltModifier);
    EXPECT_TRUE(editor(0)->isDraggingRect() && editor(0)->dragStartRect() == QRectF(100, 100, 200, 100));
    EXPECT_EQ(editor(0)->cursorLayer()->currentCursor(), OverlayCursor::closedHand);
    moveTo(0, {-150, 120});
    release(0, {-150, 120});
    EXPECT_EQ(selection(), QRectF(-200, 70, 200, 100));
    EXPECT_FALSE(editor(0)->isDraggingRect() || editor(0)->dragStartRect().has_value());
    EXPECT_EQ(editor(0)->cursorLayer()->currentCursor(), OverlayCursor::crosshair);
    drag(0, {600, 600}, {620, 640}, Qt::AltModifier);  // Alt outside the rectangle draws
    EXPECT_EQ(selection(), QRectF(600, 600, 20, 40));
}

TEST_F(SelectionRectViewTest, HandlesMoveTheirOwnEdges_KeepTheMinimumAndCrossOver_TheNearestKnobIsPressed) {
    showOverlay();
    const struct {
        QRectF start;
        QPointF from, to;
        QRectF expected;
    } cases[] = {
        {{400, 300, 200, 100}, {400, 300}, {420, 315}, {420, 315, 180, 85}}, {{400, 300, 200, 100}, {500, 300}, {520, 315}, {400, 315, 200, 85}},
        {{400, 300, 200, 100}, {600, 300}, {620, 315}, {400, 315, 220, 85}}, {{400, 300, 200, 100}, {400, 350}, {420, 365}, {420, 300, 180, 100}},
        {{400, 300, 200, 100}, {600, 350}, {620, 365}, {400, 300, 220, 100}}, {{400, 300, 200, 100}, {400, 400}, {420, 415}, {420, 300, 180, 115}},
        {{400, 300, 200, 100}, {500, 400}, {520, 415}, {400, 300, 200, 115}}, {{400, 300, 200, 100}, {600, 400}, {620, 415}, {400, 300, 220, 115}},
        {{100, 100, 50, 50}, {100, 100}, {145, 100}, {140, 100, 10, 50}},    // minimum width
        {{100, 100, 50, 50}, {100, 100}, {180, 100}, {180, 100, -30, 50}},   // past the fixed edge
        {{100, 100, 50, 50}, {150, 150}, {105, 105}, {100, 100, 10, 10}}, {{100, 100, 50, 50}, {125, 100}, {125, 148}, {100, 140, 50, 10}},
        {{100, 100, 50, 50}, {150, 150}, {156, 152}, {100, 100, 50, 50}},    // under 10 points: nothing
        {{100, 100, 10, 10}, {100, 100}, {80, 90}, {80, 90, 30, 20}},        // overlapping circles
        {{100, 100, 10, 10}, {110, 110}, {130, 140}, {100, 100, 30, 40}},
        {{180, 100, -30, 50}, {150, 100}, {160, 100}, {160, 100, 20, 50}},   // mirrored: the edge on screen
    };
    for (const auto& c : cases) {
        select(c.start);
        press(0, c.from);
        moveTo(0, c.to);
        if (c.expected != c.start) {
            EXPECT_TRUE(editor(0)->isDraggingHandle());
            EXPECT_EQ(editor(0)->dragStartRect(), c.start.normalized());
        }
        release(0, c.to);
        EXPECT_EQ(selection(), c.expected) << c.from.x() << "," << c.from.y() << " to " << c.to.x() << "," << c.to.y();
        EXPECT_FALSE(editor(0)->isDraggingHandle() || editor(0)->dragStartRect().has_value());
    }
    // The remaining handles and edges of the rule itself.
    const QRectF r(100, 100, 50, 50);
    EXPECT_EQ(ResizeHandle(ResizeHandle::bottomLeft).resize(r, {48, 48}, 10), QRectF(140, 100, 10, 98));
    EXPECT_EQ(ResizeHandle(ResizeHandle::topRight).resize(r, {-48, 48}, 10), QRectF(100, 140, 10, 10));
    EXPECT_EQ(ResizeHandle(ResizeHandle::middleRight).resize(r, {-45, 99}, 10), QRectF(100, 100, 10, 50));
    EXPECT_EQ(ResizeHandle(ResizeHandle::bottomCenter).resize(r, {0, -70}, 10), QRectF(100, 100, 50, -20));
    EXPECT_EQ(ResizeHandle(ResizeHandle::topCenter).resize(r, {0, 65}, 10), QRectF(100, 165, 50, -15));
}

TEST(CursorTrackingLayerTest, HandlesThenInsideThenEverywhereElse) {
    constexpr double hit = 24;
    const QRectF r(100, 100, 200, 100), small(100, 100, 10, 10);
    const struct {
        QPointF at;
        QRectF rect;
        bool alt;
        OverlayCursor expected;
    } cases[] = {
        {{110, 105}, r, false, OverlayCursor::diagonalNWSE},   {{200, 150}, r, false, OverlayCursor::crosshair},
        {{200, 150}, r, true, OverlayCursor::openHand},        {{350, 150}, r, true, OverlayCursor::crosshair},
        {{312, 150}, r, false, OverlayCursor::resizeLeftRight},  // the hit circle's edge counts
        {{312.1, 150}, r, false, OverlayCursor::crosshair},
        {{200, 100 - 12 / std::sqrt(2.0) * 1.01}, r, false, OverlayCursor::resizeUpDown},
        // Overlapping circles: the nearest handle, the earlier in order on a tie.
        {{110, 110}, small, false, OverlayCursor::diagonalNWSE},  {{110, 100}, small, false, OverlayCursor::diagonalNESW},
        {{100, 105}, small, false, OverlayCursor::resizeLeftRight}, {{105, 105}, small, false, OverlayCursor::resizeUpDown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CursorTrackingLayer::cursorAt(c.at, c.rect, hit, c.alt), c.expected) << c.at.x() << "," << c.at.y();
    EXPECT_EQ(CursorTrackingLayer::cursorAt({200, 150}, std::nullopt, hit, true), OverlayCursor::crosshair);

}

TEST_F(SelectionRectViewTest, TheCursorFollowsThePointerAndAltButNotADrag) {
    select(QRectF(100, 100, 200, 100));
    showOverlay();
    // The first pointer event brings the window's enter event after it; have that done with.
    moveTo(0, {700, 700});
    QCoreApplication::processEvents();
    CursorTrackingLayer* layer = editor(0)->cursorLayer();
    moveTo(0, {110, 105});
    EXPECT_TRUE(layer->currentCursor() == OverlayCursor::diagonalNWSE && editor(0)->cursor().shape() == Qt::BitmapCursor);
    moveTo(0, {200, 150}, Qt::AltModifier);
    EXPECT_EQ(editor(0)->cursor().shape(), Qt::OpenHandCursor);
    // A drag keeps its cursor.
    press(0, {300, 150});
    moveTo(0, {320, 150});
    moveTo(0, {200, 150}, Qt::AltModifier);
    EXPECT_TRUE(layer->isDragging() && layer->currentCursor() == OverlayCursor::resizeLeftRight);
    release(0, {200, 150});
    moveTo(0, {700, 700});
    EXPECT_TRUE(!layer->isDragging() && editor(0)->cursor().shape() == Qt::CrossCursor);
    // Alt alone turns the crosshair inside the rectangle into the hand and back; leaving sets the crosshair.
    QCursor::setPos(panel(0)->mapToGlobal(QPoint(150, 150)));
    moveTo(0, {150, 150});
    QTest::keyPress(panel(0), Qt::Key_Alt);
    EXPECT_EQ(layer->currentCursor(), OverlayCursor::openHand);
    QTest::keyRelease(panel(0), Qt::Key_Alt, Qt::AltModifier);
    EXPECT_EQ(layer->currentCursor(), OverlayCursor::crosshair);
    moveTo(0, {110, 105});
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(editor(0), &leave);
    EXPECT_EQ(layer->currentCursor(), OverlayCursor::crosshair);
}

}  // namespace
