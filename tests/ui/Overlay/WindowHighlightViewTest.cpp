#include "OverlayFixture.h"

#include "Features/Overlay/WindowHighlightView.h"

#include <algorithm>

using namespace zentola;
using namespace overlay_test;

namespace {

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

    // Moves the desktop's pointer to a window-list point over a display and tells that display.
    void hover(int index, QPointF windowListPoint) {
        screens->mouse = QPointF(windowListPoint.x(), 1080 - windowListPoint.y());
        const QRectF local = picker(index)->localFrame(WindowInfo{0, {}, {}, 0, QRectF(windowListPoint, QSizeF()), 0, true});
        moveTo(index, local.topLeft());
    }

    long fetches() const { return std::count(calls.begin(), calls.end(), "windows"); }
};

TEST_F(WindowHighlightViewTest, TheListIsFetchedOncePerAppearance) {
    showOverlay();
    ASSERT_NE(picker(0), nullptr);
    EXPECT_EQ(fetches(), 2);
    windowList.clear();
    hover(0, {200, 200});
    EXPECT_EQ(picker(0)->windows().size(), 3u);
    EXPECT_EQ(fetches(), 2);
    state->setMode(CaptureMode::rect);
    EXPECT_EQ(picker(0), nullptr);
    state->setMode(CaptureMode::window);
    EXPECT_EQ(fetches(), 4);
    EXPECT_TRUE(picker(0)->windows().empty());
}

TEST_F(WindowHighlightViewTest, TheFrontmostWindowUnderThePointerIsOutlinedAndShared) {
    showOverlay();
    hover(0, {200, 200});
    ASSERT_TRUE(picker(0)->hoveredWindow().has_value());
    EXPECT_EQ(picker(0)->hoveredWindow()->id, 1u);
    EXPECT_EQ(state->highlightedWindow()->id, 1u);
    EXPECT_EQ(picker(0)->localFrame(*picker(0)->hoveredWindow()), QRectF(100, 100, 400, 300));

    hover(0, {700, 600});
    EXPECT_EQ(picker(0)->hoveredWindow()->id, 2u);
    EXPECT_EQ(state->highlightedWindow()->id, 2u);
}

TEST_F(WindowHighlightViewTest, AWindowOnTheSecondDisplayIsOutlinedInItsLocalSpace) {
    showOverlay();
    hover(1, {2100, -200});
    ASSERT_TRUE(picker(1)->hoveredWindow().has_value());
    EXPECT_EQ(picker(1)->hoveredWindow()->id, 3u);
    EXPECT_EQ(picker(1)->localFrame(*picker(1)->hoveredWindow()), QRectF(80, 60, 800, 600));
}

TEST_F(WindowHighlightViewTest, DisplaysAboveLeftAndBelowThePrimaryPickAndOutlineInTheirOwnSpace) {
    // B above and left of the primary A, C below it.
    useDisplays({platform::FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11),
                 platform::FakeScreenProvider::display("B", QRect(-1280, -1024, 1280, 1024), 22),
                 platform::FakeScreenProvider::display("C", QRect(0, 1080, 1920, 1080), 33)});
    windowList = {listed(1, QRectF(-1200, -1000, 300, 200)), listed(2, QRectF(100, 1200, 400, 300))};
    showOverlay();

    // Pointer at (-1100, -950) of the window list: 1080 + 950 up from A's bottom.
    screens->mouse = QPointF(-1100, 2030);
    moveTo(1, {180, 74});
    ASSERT_TRUE(picker(1)->hoveredWindow().has_value());
    EXPECT_EQ(picker(1)->hoveredWindow()->id, 1u);
    EXPECT_EQ(picker(1)->localFrame(*picker(1)->hoveredWindow()), QRectF(80, 24, 300, 200));

    // Pointer at (300, 1300): 220 below A's bottom.
    screens->mouse = QPointF(300, -220);
    moveTo(2, {300, 220});
    ASSERT_TRUE(picker(2)->hoveredWindow().has_value());
    EXPECT_EQ(picker(2)->hoveredWindow()->id, 2u);
    EXPECT_EQ(state->highlightedWindow()->id, 2u);
    EXPECT_EQ(picker(2)->localFrame(*picker(2)->hoveredWindow()), QRectF(100, 120, 400, 300));
}

TEST_F(WindowHighlightViewTest, TheDesktopClearsTheOutlineOnlyWhereThePointerIs) {
    showOverlay();
    hover(0, {200, 200});
    hover(1, {4000, 1000});
    EXPECT_FALSE(picker(1)->hoveredWindow().has_value());
    EXPECT_FALSE(state->highlightedWindow().has_value());
    // The display the pointer left keeps its outline.
    ASSERT_TRUE(picker(0)->hoveredWindow().has_value());
    EXPECT_EQ(picker(0)->hoveredWindow()->id, 1u);
    hover(0, {1800, 1000});
    EXPECT_FALSE(picker(0)->hoveredWindow().has_value());
}

TEST_F(WindowHighlightViewTest, AClickConfirmsWithTheHoveredWindowOrNone) {
    auto env = fakeEnvironment();
    std::vector<std::optional<quint32>> captured;
    env.performCaptureWorkflow = [&](CaptureMode mode, std::optional<SelectionRect>, std::optional<WindowInfo> w,
                                     platform::ScreenRef) -> QCoro::Task<void> {
        EXPECT_EQ(mode, CaptureMode::window);
        captured.push_back(w ? std::optional<quint32>(w->id) : std::nullopt);
        co_return;
    };
    controller = std::make_unique<OverlayWindowController>(*state, env);
    controller->show();
    // Other buttons pick nothing.
    for (Qt::MouseButton other : {Qt::RightButton, Qt::MiddleButton}) {
        QTest::mouseClick(window(0), other, {}, QPoint(300, 300));
        EXPECT_TRUE(controller->hasPanels());
    }
    EXPECT_TRUE(captured.empty());
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
