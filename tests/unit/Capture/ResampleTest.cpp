#include "platform/capture/X11Grabber.h"

#include <gtest/gtest.h>

using platform::AlphaMode;
using platform::Bitmap;
using platform::PixelFormat;

TEST(Resample, GivesExactlyTheAskedSizeAndOutlivesItsSource) {
    // Left half red, right half blue, opaque.
    std::vector<std::uint8_t> px(std::size_t(40) * 20 * 4);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) {
            std::uint8_t* p = px.data() + (std::size_t(y) * 40 + x) * 4;
            p[0] = x < 20 ? 0 : 200, p[1] = 0, p[2] = x < 20 ? 200 : 0, p[3] = 0xff;
        }
    platform::BitmapRef source = Bitmap::create(40, 20, 160, PixelFormat::BGRA, AlphaMode::opaque, std::move(px));
    EXPECT_EQ(platform::X11Grabber::scaled(source, QSize(40, 20)), source);

    platform::BitmapRef doubled = platform::X11Grabber::scaled(source, QSize(81, 40));
    source.reset();
    ASSERT_EQ(doubled->width(), 81);
    ASSERT_EQ(doubled->height(), 40);
    EXPECT_EQ(doubled->format(), PixelFormat::BGRA);
    EXPECT_EQ(doubled->alpha(), AlphaMode::opaque);
    for (int y = 0; y < 40; ++y) {
        const std::uint8_t* left = doubled->row(y) + 4 * 4;
        const std::uint8_t* right = doubled->row(y) + 76 * 4;
        EXPECT_EQ(left[2], 200);
        EXPECT_EQ(left[0], 0);
        EXPECT_EQ(right[0], 200);
        EXPECT_EQ(right[2], 0);
        for (int x = 0; x < 81; ++x)
            ASSERT_EQ(doubled->row(y)[x * 4 + 3], 0xff) << x << "," << y;
    }
}
