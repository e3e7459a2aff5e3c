#include "platform/display/FakeScreenProvider.h"
#include "platform/display/Screen.h"

#include <gtest/gtest.h>

using platform::FakeScreenProvider;
using platform::Screen;

namespace {

struct Layout {
    const char* name;
    QRect primary;  // X11 pixels
    QRect other;
    double scale;
    QRectF otherFrame;  // expected, global bottom-left points
};

// The primary is never assumed to sit at (0, 0) nor to be the tallest.
const Layout kLayouts[] = {
    {"right, scale 1", QRect(0, 0, 1920, 1080), QRect(1920, 0, 2560, 1440), 1.0, QRectF(1920, -360, 2560, 1440)},
    {"left, scale 1", QRect(1280, 200, 1920, 1080), QRect(0, 0, 1280, 1024), 1.0, QRectF(-1280, 256, 1280, 1024)},
    {"above, scale 1", QRect(0, 1080, 1920, 1080), QRect(320, 0, 1280, 1080), 1.0, QRectF(320, 1080, 1280, 1080)},
    {"below, scale 1", QRect(0, 0, 1920, 1080), QRect(0, 1080, 3840, 2160), 1.0, QRectF(0, -2160, 3840, 2160)},
    {"right, scale 2", QRect(0, 0, 3840, 2160), QRect(3840, 0, 3840, 2160), 2.0, QRectF(1920, 0, 1920, 1080)},
    {"left, scale 2", QRect(2560, 0, 3840, 2160), QRect(0, 720, 2560, 1440), 2.0, QRectF(-1280, 0, 1280, 720)},
    {"above, scale 2", QRect(400, 2160, 3840, 2160), QRect(0, 0, 3840, 2160), 2.0, QRectF(-200, 1080, 1920, 1080)},
    {"below, scale 2", QRect(0, 0, 2880, 1800), QRect(1000, 1800, 3840, 2160), 2.0, QRectF(500, -1080, 1920, 1080)},
};

}  // namespace

TEST(ScreenConversionTest, FramesAroundThePrimaryAtScaleOneAndTwo) {
    for (const Layout& l : kLayouts) {
        SCOPED_TRACE(l.name);
        const QRectF primary = Screen::frameFromNative(l.primary, l.primary, l.scale);
        EXPECT_EQ(primary, QRectF(0, 0, l.primary.width() / l.scale, l.primary.height() / l.scale));
        EXPECT_EQ(Screen::frameFromNative(l.other, l.primary, l.scale), l.otherFrame);
    }
}

TEST(ScreenConversionTest, PointsRoundTripAndFollowTheFrames) {
    for (const Layout& l : kLayouts) {
        SCOPED_TRACE(l.name);
        const QRectF frame = Screen::frameFromNative(l.other, l.primary, l.scale);
        // The other display's top-left pixel is its frame's top-left corner (max y).
        EXPECT_EQ(Screen::pointFromNative(l.other.topLeft(), l.primary, l.scale), QPointF(frame.left(), frame.bottom()));
        // Its bottom-left corner (one past the last row) is the frame's origin.
        EXPECT_EQ(Screen::pointFromNative(QPointF(l.other.left(), l.other.top() + l.other.height()), l.primary, l.scale),
                  frame.topLeft());
        for (QPointF native : {QPointF(l.other.center()), QPointF(l.primary.topLeft()), QPointF(-17, 3001)}) {
            const QPointF p = Screen::pointFromNative(native, l.primary, l.scale);
            EXPECT_EQ(Screen::nativeFromPoint(p, l.primary, l.scale), native);
        }
    }
}

TEST(ScreenConversionTest, MakeScreensUsesTheFirstAsOriginAndClipsTheWorkArea) {
    auto a = FakeScreenProvider::display("A", QRect(1920, 0, 1920, 1080), 11);
    auto b = FakeScreenProvider::display("B", QRect(0, 0, 1920, 1200), 12);
    // A panel along the top of the whole desktop: 30 pixels high.
    a.nativeWorkArea = b.nativeWorkArea = QRect(0, 30, 3840, 1170);
    const auto list = Screen::makeScreens({a, b});
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->frame(), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(list[0]->visibleFrame(), QRectF(0, 0, 1920, 1050));
    EXPECT_EQ(list[1]->frame(), QRectF(-1920, -120, 1920, 1200));
    EXPECT_EQ(list[1]->visibleFrame(), QRectF(-1920, -120, 1920, 1170));

    // A work area that misses a display leaves its whole frame visible.
    b.nativeWorkArea = QRect(5000, 0, 10, 10);
    EXPECT_EQ(Screen::makeScreens({a, b})[1]->visibleFrame(), QRectF(-1920, -120, 1920, 1200));
}

TEST(ScreenConversionTest, FakeProviderServesTheListMainAndPointer) {
    {
        auto fake = FakeScreenProvider::install();
        fake->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 800, 600), 1),
                           FakeScreenProvider::display("B", QRect(800, 0, 800, 600), 2)});
        fake->mouse = QPointF(900, 10);
        EXPECT_EQ(Screen::screens().size(), 2u);
        EXPECT_EQ(Screen::main(), fake->list[0]);
        EXPECT_TRUE(Screen::main()->isPrimary());
        EXPECT_FALSE(fake->list[1]->isPrimary());
        EXPECT_EQ(Screen::mouseLocation(), QPointF(900, 10));
        // The same objects come back while the layout holds.
        EXPECT_EQ(Screen::screens()[1], fake->list[1]);
    }
}
