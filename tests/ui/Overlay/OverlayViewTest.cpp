#include "OverlayFixture.h"

#include "Features/Overlay/ActionButton.h"
#include "Features/Overlay/CaptureTypeToggle.h"
#include "Features/Overlay/ControlBarView.h"
#include "Features/Overlay/CursorTrackingLayer.h"
#include "Features/Overlay/ModeButton.h"
#include "Features/Overlay/OverlayStyle.h"
#include "Features/Overlay/SelectionRectView.h"
#include "Features/Overlay/WindowHighlightView.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QStyleHints>

#include <map>

using namespace zentola;
using namespace overlay_test;

namespace {

using OverlayViewTest = OverlayFixture;

TEST_F(OverlayViewTest, ScreenModeVeilsOnlyTheOtherDisplaysAndOutlinesEvery_OtherModesHaveTheirEditorsInstead) {
    state->setMode(CaptureMode::screen);
    showOverlay();
    EXPECT_TRUE(view(0)->veilOpacity() == 0.0 && view(1)->veilOpacity() == 0.1 && !view(1)->selectionView() && !view(1)->windowHighlightView());
    const QImage a = picture(0), b = picture(1);
    const QRgb accent = OverlayStyle::accent().rgb();
    EXPECT_TRUE(qAlpha(a.pixel(700, 300)) == 0 && std::abs(qAlpha(b.pixel(700, 300)) - 26) <= 1 && qRed(b.pixel(700, 300)) == 0);
    // Half of the 4-point stroke shows.
    for (const QImage& image : {a, b})
        EXPECT_TRUE(image.pixel(1, 500) == accent && image.pixel(960, 1078) == accent && image.pixel(3, 500) != accent);

    // Other modes have no veil and no outline, but an editor on every display.
    state->setMode(CaptureMode::window);
    EXPECT_TRUE(view(1)->windowHighlightView() && view(1)->windowHighlightView()->geometry() == view(1)->rect());
    state->setMode(CaptureMode::rect);
    EXPECT_TRUE(view(1)->selectionView() && !view(1)->windowHighlightView());
    EXPECT_TRUE(qAlpha(picture(1).pixel(700, 300)) == 0 && picture(1).pixel(1, 500) != accent);
    state->updateSelectionRect(QRectF(100, 100, 200, 100), display(0));
    // Outside black at 0.3, inside clear, the accent edge, the white middle-right knob; nothing on B.
    const QImage dimmed = picture(0);
    EXPECT_TRUE(std::abs(qAlpha(dimmed.pixel(50, 50)) - 77) <= 1 && qAlpha(dimmed.pixel(200, 140)) == 0 && dimmed.pixel(150, 100) == accent);
    EXPECT_TRUE(dimmed.pixel(300, 150) == qRgb(255, 255, 255) && qAlpha(picture(1).pixel(50, 50)) == 0);
}

// Counts the paintings of each overlay view and panel.
struct PaintCounter : QObject {
    std::map<QObject*, int> paints;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && (qobject_cast<OverlayView*>(watched) || qobject_cast<KeyablePanel*>(watched)))
            ++paints[watched];
        return false;
    }
};

// The second showing uses the panels kept from the first; kept panels paint nothing until then.
TEST_F(OverlayViewTest, ShowingPaintsEachDisplayOnceAlsoWhenThePanelTakesTheKeyboard) {
    for (const CaptureMode mode : {CaptureMode::screen, CaptureMode::window}) {
        state->setMode(mode);
        PaintCounter counter;
        qApp->installEventFilter(&counter);
        // From the event loop, as the shortcut shows it.
        controller = std::make_unique<OverlayWindowController>(*state, fakeEnvironment());
        QMetaObject::invokeMethod(controller.get(), &OverlayWindowController::show, Qt::QueuedConnection);
        ASSERT_TRUE(waitUntil([&] { return controller->hasPanels() && counter.paints[view(0)] > 0 && counter.paints[view(1)] > 0; }));
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == panel(0); }));
        // Whatever showing and activating asked for is in the queue by now.
        for (int i = 0; i < 3; ++i)
            QCoreApplication::sendPostedEvents();
        EXPECT_EQ(counter.paints[view(0)], 1) << mode.rawValue().toStdString();
        EXPECT_EQ(counter.paints[view(1)], 1) << mode.rawValue().toStdString();
        const std::vector<QPointer<KeyablePanel>> kept{panel(0), panel(1)};
        counter.paints.clear();
        controller->hide();
        for (int i = 0; i < 3; ++i)
            QCoreApplication::sendPostedEvents();
        for (const auto& p : kept)
            EXPECT_EQ(counter.paints[p.data()], 0) << mode.rawValue().toStdString();
        qApp->removeEventFilter(&counter);
    }
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
    EXPECT_TRUE(!controller->hasPanels() && calls.size() == 4u);

    calls.clear();
    state->setMode(CaptureMode::rect);
    showOverlay();
    click(1, {800, 300});
    EXPECT_TRUE(calls.empty() && controller->hasPanels());
}

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
    const QRect g = bar()->geometry();
    // 50-point buttons with 6 points above and below, 60 points above the bottom.
    EXPECT_TRUE(!view(1)->controlBar() && g.left() * 2 + g.width() == 1920 && g.bottom() + 1 == 1020 && g.height() == 62);
    state->setActiveScreen(nullptr);
    EXPECT_EQ(OverlayView::controlBarScreen(*state), display(0));
    state->setActiveScreen(display(1));
    EXPECT_TRUE(!view(0)->controlBar() && view(1)->controlBar());
}

TEST_F(ControlBarViewTest, TheButtonsSetTypeAndModeConfirmAndCancel) {
    state->setMode(CaptureMode::rect);
    showOverlay();
    CaptureTypeToggle* toggle = bar()->typeToggle();
    click(0, centreOf(toggle, toggle->videoRect()));
    EXPECT_TRUE(state->captureType() == CaptureType::video && bar()->captureButton()->label() == "Record");
    click(0, centreOf(toggle, toggle->photoRect()));
    EXPECT_TRUE(state->captureType() == CaptureType::photo && bar()->captureButton()->label() == "Capture");

    click(0, centreOf(bar()->modeButton(CaptureMode::window)));
    EXPECT_TRUE(settings.lastCaptureMode() == CaptureMode::window && bar()->modeButton(CaptureMode::window)->isSelected() &&
                !bar()->modeButton(CaptureMode::rect)->isSelected());
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
    click(0, centreOf(bar()->cancelButton()));
    EXPECT_TRUE(!controller->hasPanels() && calls.size() == 2u);
}

TEST_F(ControlBarViewTest, ADragFollowsThePointerSpringsBackAndMovesOnlyAStoredPlace) {
    showOverlay();
    QPointer<ControlBarView> b = bar();
    const QPoint home = b->pos();
    const QPointF start = QPointF(b->geometry().topLeft()) + QPointF(200, 3);  // the bar's own background
    press(0, start);
    moveTo(0, start + QPointF(6, 5));
    EXPECT_TRUE(!b->isDragging() && b->pos() == home);
    moveTo(0, start + QPointF(-300, -400));
    EXPECT_TRUE(b->isDragging() && b->pos() == home + QPoint(-300, -400));
    release(0, start + QPointF(-300, -400));
    EXPECT_TRUE(!b->isDragging() && b->dragOffset().isNull() && !state->controlBarPosition());
    EXPECT_TRUE(waitUntil([&] { return b->pos() == home; }));

    // Begun on a button, it is a drag and not a click; a stored place moves by it.
    state->setControlBarPosition(QPointF(500, 500));
    state->setMode(CaptureMode::rect);
    const QPointF onButton = centreOf(bar()->modeButton(CaptureMode::screen));
    drag(0, onButton, onButton + QPointF(80, -60));
    EXPECT_TRUE(state->currentMode() == CaptureMode::rect && state->controlBarPosition() == QPointF(580, 440));
    EXPECT_TRUE(waitUntil([&] { return b->pos() == home; }));
}

WindowInfo listed(quint32 id, QRectF frame, int layer = 0) {
    return WindowInfo{id, QStringLiteral("w%1").arg(id), QStringLiteral("App"), 100, frame, layer, true};
}

class WindowHighlightViewTest : public OverlayFixture {
protected:
    void SetUp() override {
        OverlayFixture::SetUp();
        // A 1920 x 1080 first display and a taller 2560 x 1440 one to its right, bottoms aligned.
        useDisplays({platform::FakeScreenProvider::display("A", QRect(0, 360, 1920, 1080), 11),
                     platform::FakeScreenProvider::display("B", QRect(1920, 0, 2560, 1440), 22)});
        state->setMode(CaptureMode::window);
        // Frontmost layer first, as the window list gives them.
        windowList = {listed(1, QRectF(100, 100, 400, 300), 3), listed(2, QRectF(50, 50, 800, 600)),
                      listed(3, QRectF(2000, -300, 800, 600))};
    }

    WindowHighlightView* picker(int index) const { return view(index)->windowHighlightView(); }
    quint32 hovered(int index) const { return picker(index)->hoveredWindow() ? picker(index)->hoveredWindow()->id : 0; }

    // The desktop's pointer at a window-list point, reported to the display's view.
    void hover(int index, QPointF at) {
        screens->mouse = QPointF(at.x(), display(0)->frame().height() - at.y());
        moveTo(index, picker(index)->localFrame(WindowInfo{0, {}, {}, 0, QRectF(at, QSizeF()), 0, true}).topLeft());
    }
};

TEST_F(WindowHighlightViewTest, TheFrontmostWindowUnderThePointerIsOutlinedInEachDisplaysSpace) {
    showOverlay();
    EXPECT_EQ(fetches, 2);
    hover(0, {200, 200});
    EXPECT_TRUE(hovered(0) == 1u && state->highlightedWindow()->id == 1u);
    EXPECT_EQ(picker(0)->localFrame(*picker(0)->hoveredWindow()), QRectF(100, 100, 400, 300));
    hover(0, {700, 600});
    EXPECT_EQ(hovered(0), 2u);
    hover(1, {2100, -200});
    EXPECT_TRUE(hovered(1) == 3u && picker(1)->localFrame(*picker(1)->hoveredWindow()) == QRectF(80, 60, 800, 600));

    // Over the desktop the outline goes where the pointer is; the display it left keeps its own.
    hover(1, {4000, 1000});
    EXPECT_TRUE(!hovered(1) && !state->highlightedWindow() && hovered(0) == 2u);

    // The list is fetched once per appearance.
    windowList.clear();
    EXPECT_EQ(picker(0)->windows().size(), 3u);
    state->setMode(CaptureMode::rect);
    state->setMode(CaptureMode::window);
    EXPECT_TRUE(fetches == 4 && picker(0)->windows().empty());
}

TEST_F(WindowHighlightViewTest, APrimaryClickConfirmsWithTheHoveredWindowOrNone) {
    showOverlay();
    for (Qt::MouseButton other : {Qt::RightButton, Qt::MiddleButton})
        QTest::mouseClick(window(0), other, {}, QPoint(300, 300));
    EXPECT_TRUE(controller->hasPanels());
    // The press confirms; its release would go to a panel already hidden.
    press(0, {300, 300});
    EXPECT_TRUE(!controller->hasPanels() && calls == (std::vector<std::string>{"pause", "capture window A"}) && !lastWindow);
    QTestPrivate::qtestMouseButtons = Qt::NoButton;
    controller->show();
    hover(1, {2100, -200});
    press(1, {180, 100});
    EXPECT_TRUE(calls.size() == 4u && lastWindow && lastWindow->id == 3u);
}

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
        EXPECT_TRUE(editor(0)->isCreatingNewRect() && selection() == QRectF(300 - 50 * i, 200 - 40 * i, 50 * i, 40 * i) &&
                    settings.savedRect()->rect() == selection());
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
    EXPECT_TRUE(editor(0)->isDraggingRect() && editor(0)->dragStartRect() == QRectF(100, 100, 200, 100) &&
                editor(0)->cursorLayer()->currentCursor() == OverlayCursor::closedHand);
    moveTo(0, {-150, 120});
    release(0, {-150, 120});
    EXPECT_TRUE(selection() == QRectF(-200, 70, 200, 100) && !editor(0)->isDraggingRect() && !editor(0)->dragStartRect() &&
                editor(0)->cursorLayer()->currentCursor() == OverlayCursor::crosshair);
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
        EXPECT_TRUE(c.expected == c.start || (editor(0)->isDraggingHandle() && editor(0)->dragStartRect() == c.start.normalized()));
        release(0, c.to);
        EXPECT_EQ(selection(), c.expected) << c.from.x() << "," << c.from.y() << " to " << c.to.x() << "," << c.to.y();
        EXPECT_FALSE(editor(0)->isDraggingHandle() || editor(0)->dragStartRect().has_value());
    }
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
        // Inside without Alt and outside with it; a handle and inside with Alt are the pointer test's below.
        {{200, 150}, r, false, OverlayCursor::crosshair}, {{350, 150}, r, true, OverlayCursor::crosshair},
        // The hit circle's edge counts, no further.
        {{312, 150}, r, false, OverlayCursor::resizeLeftRight}, {{312.1, 150}, r, false, OverlayCursor::crosshair},
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
    const OverlayCursor held = layer->currentCursor();
    QTest::keyRelease(panel(0), Qt::Key_Alt, Qt::AltModifier);
    EXPECT_TRUE(held == OverlayCursor::openHand && layer->currentCursor() == OverlayCursor::crosshair);
    moveTo(0, {110, 105});
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(editor(0), &leave);
    EXPECT_EQ(layer->currentCursor(), OverlayCursor::crosshair);
}

}  // namespace
