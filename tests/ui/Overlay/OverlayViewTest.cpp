#include "OverlayFixture.h"

#include "Features/Overlay/ActionButton.h"
#include "Features/Overlay/CaptureTypeToggle.h"
#include "Features/Overlay/ControlBarView.h"
#include "Features/Overlay/ModeButton.h"
#include "Features/Overlay/OverlayStyle.h"
#include "Features/Overlay/SelectionRectView.h"
#include "Features/Overlay/WindowHighlightView.h"

#include <QGuiApplication>
#include <QStyleHints>

using namespace zentola;
using namespace overlay_test;

namespace {

using OverlayViewTest = OverlayFixture;

TEST_F(OverlayViewTest, ScreenModeVeilsOnlyTheOtherDisplaysAndOutlinesEvery_OtherModesHaveTheirEditorsInstead) {
    state->setMode(CaptureMode::screen);
    showOverlay();
    EXPECT_TRUE(view(0)->veilOpacity() == 0.0 && view(1)->veilOpacity() == 0.1);
    EXPECT_FALSE(view(1)->selectionView() || view(1)->windowHighlightView());
    const QImage a = picture(0), b = picture(1);
    EXPECT_TRUE(qAlpha(a.pixel(700, 300)) == 0 && std::abs(qAlpha(b.pixel(700, 300)) - 26) <= 1 && qRed(b.pixel(700, 300)) == 0);
    for (const QImage& image : {a, b}) {
        EXPECT_EQ(QColor(image.pixel(1, 500)).rgb(), OverlayStyle::accent().rgb());
        EXPECT_EQ(QColor(image.pixel(960, 1078)).rgb(), OverlayStyle::accent().rgb());
        EXPECT_NE(QColor(image.pixel(3, 500)).rgb(), OverlayStyle::accent().rgb());  // half of the 4-point stroke shows
    }

    // Other modes have no veil and no outline, but an editor on every display.
    state->setMode(CaptureMode::window);
    EXPECT_TRUE(view(1)->windowHighlightView() && view(1)->windowHighlightView()->geometry() == view(1)->rect());
    state->setMode(CaptureMode::rect);
    EXPECT_TRUE(view(1)->selectionView() && !view(1)->windowHighlightView());
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
    EXPECT_TRUE(state->captureType() == CaptureType::video && bar()->captureButton()->iconName() == "record.circle");
    EXPECT_TRUE(bar()->captureButton()->label() == "Record" && bar()->captureButton()->color() == OverlayStyle::red());
    EXPECT_EQ(toggle->selectionFill(CaptureType::video), OverlayStyle::withOpacity(OverlayStyle::red(), 0.2));
    EXPECT_TRUE(toggle->symbolColor(CaptureType::photo) == OverlayStyle::secondary() && !toggle->selectionFill(CaptureType::photo));
    click(0, centreOf(toggle, toggle->photoRect()));
    EXPECT_TRUE(state->captureType() == CaptureType::photo && bar()->captureButton()->label() == "Capture");
    EXPECT_TRUE(bar()->captureButton()->color() == OverlayStyle::accent() && toggle->symbolColor(CaptureType::photo) == OverlayStyle::primary());

    click(0, centreOf(bar()->modeButton(CaptureMode::window)));
    EXPECT_TRUE(settings.lastCaptureMode() == CaptureMode::window && bar()->modeButton(CaptureMode::window)->isSelected());
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
    std::optional<quint32> hovered(int index) const {
        const auto w = picker(index)->hoveredWindow();
        return w ? std::optional<quint32>(w->id) : std::nullopt;
    }

    // The desktop's pointer at a window-list point, reported to the display's view.
    void hover(int index, QPointF at) {
        const platform::ScreenRef first = display(0);
        screens->mouse = QPointF(at.x(), first->frame().height() - at.y());
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
    EXPECT_FALSE(hovered(1) || state->highlightedWindow());
    EXPECT_EQ(hovered(0), 2u);

    // The list is fetched once per appearance.
    windowList.clear();
    EXPECT_EQ(picker(0)->windows().size(), 3u);
    state->setMode(CaptureMode::rect);
    state->setMode(CaptureMode::window);
    EXPECT_TRUE(fetches == 4 && picker(0)->windows().empty());
}

TEST_F(WindowHighlightViewTest, APrimaryClickConfirmsWithTheHoveredWindowOrNone) {
    auto env = fakeEnvironment();
    std::vector<std::optional<quint32>> captured;
    env.performCaptureWorkflow = [&](CaptureMode mode, std::optional<SelectionRect>, std::optional<WindowInfo> w,
                                     platform::ScreenRef) -> QCoro::Task<void> {
        EXPECT_EQ(mode, CaptureMode::window);
        captured.push_back(w ? std::optional<quint32>(w->id) : std::nullopt);
        co_return;
    };
    showOverlay(env);
    for (Qt::MouseButton other : {Qt::RightButton, Qt::MiddleButton})
        QTest::mouseClick(window(0), other, {}, QPoint(300, 300));
    EXPECT_TRUE(controller->hasPanels());
    // The press confirms; its release would go to a panel already hidden.
    press(0, {300, 300});
    EXPECT_FALSE(controller->hasPanels());
    QTestPrivate::qtestMouseButtons = Qt::NoButton;
    controller->show();
    hover(1, {2100, -200});
    press(1, {180, 100});
    EXPECT_EQ(captured, (std::vector<std::optional<quint32>>{std::nullopt, 3u}));
}

}  // namespace
