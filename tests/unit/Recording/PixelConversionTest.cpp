#include "platform/media/PixelConversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using platform::Bitmap;
using platform::PixelConversion;

namespace {

struct Yuv {
    double y, u, v;
};

// BT.709, limited range, straight from the definition.
Yuv reference(double r, double g, double b) {
    double ey = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    return {16 + 219 * ey / 255, 128 + 224 * (b - ey) / (1.8556 * 255), 128 + 224 * (r - ey) / (1.5748 * 255)};
}

struct Converted {
    std::vector<std::uint8_t> y, u, v;
};

Converted convert(const Bitmap& bitmap, int w, int h) {
    Converted c{std::vector<std::uint8_t>(std::size_t(w * h)), std::vector<std::uint8_t>(std::size_t(w * h / 4)),
                std::vector<std::uint8_t>(std::size_t(w * h / 4))};
    PixelConversion::toI420(bitmap, w, h, {c.y.data(), c.u.data(), c.v.data(), w, w / 2, w / 2});
    return c;
}

}  // namespace

TEST(PixelConversionTest, PrimaryColoursLandOnTheirLimitedRangeValues) {
    struct Case {
        int r, g, b;
    };
    for (auto [r, g, b] : {Case{0, 0, 0}, Case{255, 255, 255}, Case{255, 0, 0}, Case{0, 255, 0}, Case{0, 0, 255},
                           Case{255, 255, 0}, Case{128, 64, 32}}) {
        for (auto format : {platform::PixelFormat::BGRA, platform::PixelFormat::RGBA}) {
            std::vector<std::uint8_t> px;
            for (int i = 0; i < 4 * 2; ++i) {
                bool bgra = format == platform::PixelFormat::BGRA;
                px.insert(px.end(), {std::uint8_t(bgra ? b : r), std::uint8_t(g), std::uint8_t(bgra ? r : b), 255});
            }
            auto bitmap = Bitmap::create(4, 2, 16, format, platform::AlphaMode::opaque, px);
            auto c = convert(*bitmap, 4, 2);
            auto want = reference(r, g, b);
            SCOPED_TRACE(testing::Message() << r << "," << g << "," << b);
            for (auto y : c.y)
                EXPECT_NEAR(y, want.y, 1.0);
            EXPECT_NEAR(c.u[0], want.u, 1.5);
            EXPECT_NEAR(c.v[0], want.v, 1.5);
            EXPECT_EQ(c.u[0], c.u[1]);
        }
    }
}

TEST(PixelConversionTest, ChromaIsTheAverageOfEachTwoByTwoBlockAndRowPaddingIsSkipped) {
    // 6x4 pixels in rows of 32 bytes (8 padding bytes filled with white), random colours.
    const int w = 6, h = 4, stride = 32;
    std::mt19937 rng(7);
    std::vector<std::uint8_t> px(std::size_t(stride * h), 255);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 4; ++x)
            px[std::size_t(y * stride + x)] = (x % 4 == 3) ? 255 : std::uint8_t(rng() % 256);
    auto bitmap = Bitmap::create(w, h, stride, platform::PixelFormat::BGRA, platform::AlphaMode::opaque, px);
    auto c = convert(*bitmap, w, h);
    auto at = [&](int x, int y, int channel) { return double(px[std::size_t(y * stride + x * 4 + channel)]); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            EXPECT_NEAR(c.y[std::size_t(y * w + x)], reference(at(x, y, 2), at(x, y, 1), at(x, y, 0)).y, 1.0);
    for (int by = 0; by < h / 2; ++by)
        for (int bx = 0; bx < w / 2; ++bx) {
            double r = 0, g = 0, b = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    r += at(2 * bx + dx, 2 * by + dy, 2) / 4;
                    g += at(2 * bx + dx, 2 * by + dy, 1) / 4;
                    b += at(2 * bx + dx, 2 * by + dy, 0) / 4;
                }
            auto want = reference(r, g, b);
            EXPECT_NEAR(c.u[std::size_t(by * w / 2 + bx)], want.u, 1.5);
            EXPECT_NEAR(c.v[std::size_t(by * w / 2 + bx)], want.v, 1.5);
        }
}

TEST(PixelConversionTest, TheFourthByteIsNeverRead) {
    // Stream frames leave it as the X server left it.
    const int w = 10, h = 6;
    std::mt19937 rng(3);
    std::vector<std::uint8_t> opaque(std::size_t(w * h * 4));
    for (std::size_t i = 0; i < opaque.size(); ++i)
        opaque[i] = i % 4 == 3 ? 255 : std::uint8_t(rng());
    std::vector<std::uint8_t> junk = opaque;
    for (std::size_t i = 3; i < junk.size(); i += 4)
        junk[i] = std::uint8_t(rng());
    for (auto format : {platform::PixelFormat::BGRA, platform::PixelFormat::RGBA}) {
        auto a = convert(*Bitmap::create(w, h, w * 4, format, platform::AlphaMode::opaque, opaque), w, h);
        auto b = convert(*Bitmap::create(w, h, w * 4, format, platform::AlphaMode::opaque, junk), w, h);
        EXPECT_EQ(a.y, b.y);
        EXPECT_EQ(a.u, b.u);
        EXPECT_EQ(a.v, b.v);
    }
}

