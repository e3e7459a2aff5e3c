#include "OverlayFixture.h"

#include "Features/Overlay/WindowHighlightView.h"

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
    EXPECT_EQ(hovered(0), 1u);
    EXPECT_EQ(state->highlightedWindow()->id, 1u);
    EXPECT_EQ(picker(0)->localFrame(*picker(0)->hoveredWindow()), QRectF(100, 100, 400, 300));
    hover(0, {700, 600});
    EXPECT_EQ(hovered(0), 2u);
    hover(1, {2100, -200});
    EXPECT_EQ(hovered(1), 3u);
    EXPECT_EQ(picker(1)->localFrame(*picker(1)->hoveredWindow()), QRectF(80, 60, 800, 600));

    // Over the desktop the outline goes where the pointer is; the display it left keeps its own.
    hover(1, {4000, 1000});
    EXPECT_FALSE(hovered(1) || state->highlightedWindow());
    EXPECT_EQ(hovered(0), 2u);

    // The list is fetched once per appearance.
    windowList.clear();
    EXPECT_EQ(picker(0)->windows().size(), 3u);
    state->setMode(CaptureMode::rect);
    state->setMode(CaptureMode::window);
    EXPECT_EQ(fetches, 4);
    EXPECT_TRUE(picker(0)->windows().empty());
}

TEST_F(WindowHighlightViewTest, DisplaysAboveLeftAndBelowThePrimaryPickAndOutlineInTheirOwnSpace) {
    useDisplays({platform::FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11),
                 platform::FakeScreenProvider::display("B", QRect(-1280, -1024, 1280, 1024), 22),
                 platform::FakeScreenProvider::display("C", QRect(0, 1080, 1920, 1080), 33)});
    windowList = {listed(1, QRectF(-1200, -1000, 300, 200)), listed(2, QRectF(100, 1200, 400, 300))};
    showOverlay();
    hover(1, {-1100, -950});
    EXPECT_EQ(hovered(1), 1u);
    EXPECT_EQ(picker(1)->localFrame(*picker(1)->hoveredWindow()), QRectF(80, 24, 300, 200));
    hover(2, {300, 1300});
    EXPECT_EQ(hovered(2), 2u);
    EXPECT_EQ(picker(2)->localFrame(*picker(2)->hoveredWindow()), QRectF(100, 120, 400, 300));
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
