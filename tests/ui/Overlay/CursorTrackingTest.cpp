#include "OverlayFixture.h"

#include "Features/Overlay/CursorTrackingLayer.h"
#include "Features/Overlay/ResizeHandle.h"
#include "Features/Overlay/SelectionRectView.h"

#include <QCursor>
#include <QPixmap>

#include <cmath>

using namespace zentola;
using namespace overlay_test;

namespace {

constexpr double hitArea = 24;

TEST(ResizeHandleTest, MinimumSizeKeepsTheOppositeEdge) {
    const QRectF r(100, 100, 50, 50);
    EXPECT_EQ(ResizeHandle(ResizeHandle::bottomLeft).resize(r, {48, 48}, 10), QRectF(140, 100, 10, 98));
    EXPECT_EQ(ResizeHandle(ResizeHandle::topRight).resize(r, {-48, 48}, 10), QRectF(100, 140, 10, 10));
    EXPECT_EQ(ResizeHandle(ResizeHandle::middleRight).resize(r, {-45, 99}, 10), QRectF(100, 100, 10, 50));
    EXPECT_EQ(ResizeHandle(ResizeHandle::bottomCenter).resize(r, {99, -55}, 10), QRectF(100, 100, 50, 10));
    // Past the fixed edge by more than the minimum the size turns negative.
    EXPECT_EQ(ResizeHandle(ResizeHandle::bottomCenter).resize(r, {0, -70}, 10), QRectF(100, 100, 50, -20));
    EXPECT_EQ(ResizeHandle(ResizeHandle::topCenter).resize(r, {0, 65}, 10), QRectF(100, 165, 50, -15));
}

TEST(OverlayCursorTest, DiagonalsAreArrowsAcrossTheirOwnDiagonal) {
    const QCursor nwse = cursorFor(OverlayCursor::diagonalNWSE);
    const QCursor nesw = cursorFor(OverlayCursor::diagonalNESW);
    EXPECT_EQ(nwse.hotSpot(), QPoint(9, 9));
    const QImage a = nwse.pixmap().toImage(), b = nesw.pixmap().toImage();
    ASSERT_EQ(a.size(), QSize(18, 18));
    // Black ink along the shaft of each, none in the other's far corners.
    EXPECT_LT(qGray(a.pixel(9, 9)), 64);
    EXPECT_GT(qAlpha(a.pixel(3, 3)), 0);  // top-left end of the NW-SE shaft
    EXPECT_EQ(qAlpha(a.pixel(16, 1)), 0);
    EXPECT_GT(qAlpha(b.pixel(15, 3)), 0);  // top-right end of the NE-SW shaft
    EXPECT_EQ(qAlpha(b.pixel(1, 1)), 0);
}

TEST(CursorTrackingLayerTest, HandlesThenInsideThenEverywhereElse) {
    const QRectF r(100, 100, 200, 100);
    EXPECT_EQ(CursorTrackingLayer::cursorAt({110, 105}, r, hitArea, false), OverlayCursor::diagonalNWSE);
    EXPECT_EQ(CursorTrackingLayer::cursorAt({200, 150}, r, hitArea, false), OverlayCursor::crosshair);
    EXPECT_EQ(CursorTrackingLayer::cursorAt({200, 150}, r, hitArea, true), OverlayCursor::openHand);
    EXPECT_EQ(CursorTrackingLayer::cursorAt({350, 150}, r, hitArea, true), OverlayCursor::crosshair);
    EXPECT_EQ(CursorTrackingLayer::cursorAt({200, 150}, std::nullopt, hitArea, true), OverlayCursor::crosshair);
    // The hit circle's edge counts.
    EXPECT_EQ(CursorTrackingLayer::cursorAt({312, 150}, r, hitArea, false), OverlayCursor::resizeLeftRight);
    EXPECT_EQ(CursorTrackingLayer::cursorAt({312.1, 150}, r, hitArea, false), OverlayCursor::crosshair);
    EXPECT_EQ(CursorTrackingLayer::cursorAt({200, 100 - 12 / std::sqrt(2.0) * 1.01}, r, hitArea, false),
              OverlayCursor::resizeUpDown);
    // Overlapping circles of a small rectangle: the nearest handle wins, the first in order on a tie.
    const QRectF small(100, 100, 10, 10);
    EXPECT_EQ(CursorTrackingLayer::cursorAt({110, 110}, small, hitArea, false), OverlayCursor::diagonalNWSE);
    EXPECT_EQ(CursorTrackingLayer::cursorAt({110, 100}, small, hitArea, false), OverlayCursor::diagonalNESW);
    EXPECT_EQ(CursorTrackingLayer::cursorAt({100, 105}, small, hitArea, false), OverlayCursor::resizeLeftRight);
    EXPECT_EQ(CursorTrackingLayer::cursorAt({105, 105}, small, hitArea, false), OverlayCursor::resizeUpDown);
}

class CursorOverEditorTest : public OverlayFixture {
protected:
    void SetUp() override {
        OverlayFixture::SetUp();
        state->setMode(CaptureMode::rect);
        state->updateSelectionRect(QRectF(100, 100, 200, 100), display(0));
        showOverlay();
        // The first pointer event brings the window's enter event after it; have that done with.
        moveTo(0, {700, 700});
        QCoreApplication::processEvents();
    }
    CursorTrackingLayer* layer() const { return view(0)->selectionView()->cursorLayer(); }
    OverlayCursor shown() const { return layer()->currentCursor(); }
};

TEST_F(CursorOverEditorTest, PointerMovesPickTheCursorAndItsShapeIsSet) {
    moveTo(0, {110, 105});
    EXPECT_EQ(shown(), OverlayCursor::diagonalNWSE);
    EXPECT_EQ(view(0)->selectionView()->cursor().shape(), Qt::BitmapCursor);
    moveTo(0, {200, 150}, Qt::AltModifier);
    EXPECT_EQ(shown(), OverlayCursor::openHand);
    EXPECT_EQ(view(0)->selectionView()->cursor().shape(), Qt::OpenHandCursor);
    moveTo(0, {201, 150});
    EXPECT_EQ(shown(), OverlayCursor::crosshair);
    EXPECT_EQ(view(0)->selectionView()->cursor().shape(), Qt::CrossCursor);
}

TEST_F(CursorOverEditorTest, DragsKeepTheirCursor) {
    moveTo(0, {300, 150});
    press(0, {300, 150});
    moveTo(0, {320, 150});
    EXPECT_TRUE(layer()->isDragging());
    moveTo(0, {200, 150}, Qt::AltModifier);
    EXPECT_EQ(shown(), OverlayCursor::resizeLeftRight);
    release(0, {200, 150});
    EXPECT_FALSE(layer()->isDragging());
    moveTo(0, {700, 700});
    EXPECT_EQ(shown(), OverlayCursor::crosshair);
}

TEST_F(CursorOverEditorTest, AltAloneTogglesTheHandInsideTheRectangle) {
    QCursor::setPos(panel(0)->mapToGlobal(QPoint(200, 150)));
    moveTo(0, {200, 150});
    EXPECT_EQ(shown(), OverlayCursor::crosshair);
    QTest::keyPress(panel(0), Qt::Key_Alt);
    EXPECT_EQ(shown(), OverlayCursor::openHand);
    QTest::keyRelease(panel(0), Qt::Key_Alt, Qt::AltModifier);
    EXPECT_EQ(shown(), OverlayCursor::crosshair);
}

TEST_F(CursorOverEditorTest, LeavingTheEditorSetsTheCrosshair) {
    moveTo(0, {110, 105});
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(view(0)->selectionView(), &leave);
    EXPECT_EQ(shown(), OverlayCursor::crosshair);
}

}  // namespace
