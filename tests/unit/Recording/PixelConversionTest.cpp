#include "platform/media/PixelConversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using platform::PixelConversion;
using platform::PixelFormat;

namespace {

struct Rgb {
    int r, g, b;
};

// Every pixel different, so a pixel converted into another's place shows.
Rgb colourAt(int x, int y) { return {(x * 37 + y * 11) % 256, (x * 91 + y * 53 + 7) % 256, (x * 13 + y * 197 + 100) % 256}; }

// BT.709 limited range, from the definition.
double luma(Rgb c) { return 16 + 219 * (0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b) / 255; }
double cb(Rgb c) { return 128 + 224 * (-0.2126 / 1.8556 * c.r - 0.7152 / 1.8556 * c.g + 0.5 * c.b) / 255; }
double cr(Rgb c) { return 128 + 224 * (0.5 * c.r - 0.7152 / 1.5748 * c.g - 0.0722 / 1.5748 * c.b) / 255; }

struct Converted {
    int width, height;
    std::vector<std::uint8_t> y, u, v;
};

Converted convert(PixelFormat format, int width, int height, int padding, PixelConversion::Instructions instructions) {
    const int stride = width * 4 + padding;
    std::vector<std::uint8_t> pixels(std::size_t(stride) * height, 0xee);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = colourAt(x, y);
            std::uint8_t* p = pixels.data() + std::size_t(y) * stride + 4 * x;
            p[0] = std::uint8_t(format == PixelFormat::BGRA ? c.b : c.r);
            p[1] = std::uint8_t(c.g);
            p[2] = std::uint8_t(format == PixelFormat::BGRA ? c.r : c.b);
            p[3] = std::uint8_t(x * 5);  // the fourth byte is left as the X server leaves it: anything
        }
    const auto bitmap = platform::Bitmap::create(width, height, stride, format, platform::AlphaMode::opaque, pixels);
    Converted out{width, height, std::vector<std::uint8_t>(std::size_t(width) * height),
                  std::vector<std::uint8_t>(std::size_t(width) * height / 4),
                  std::vector<std::uint8_t>(std::size_t(width) * height / 4)};
    PixelConversion::toI420(*bitmap, width, height,
                            {out.y.data(), out.u.data(), out.v.data(), width, width / 2, width / 2}, instructions);
    return out;
}

// The largest distance of any sample from the exact value; chroma of each 2x2 block's average.
struct Errors {
    double luma = 0, chroma = 0;
};

Errors errors(const Converted& c) {
    Errors e;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            e.luma = std::max(e.luma, std::abs(c.y[std::size_t(y) * c.width + x] - luma(colourAt(x, y))));
    for (int y = 0; y < c.height / 2; ++y)
        for (int x = 0; x < c.width / 2; ++x) {
            double u = 0, v = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx)
                    u += cb(colourAt(2 * x + dx, 2 * y + dy)) / 4, v += cr(colourAt(2 * x + dx, 2 * y + dy)) / 4;
            const std::size_t at = std::size_t(y) * c.width / 2 + x;
            e.chroma = std::max({e.chroma, std::abs(c.u[at] - u), std::abs(c.v[at] - v)});
        }
    return e;
}

using Instructions = PixelConversion::Instructions;

struct Case {
    PixelFormat format;
    int width;
    Instructions instructions;
};

class PixelConversionTest : public ::testing::TestWithParam<Case> {};

// Widths around the converter's blocks of 32 pixels (whole blocks, blocks and a rest, a rest alone),
// with each set of instructions the processor has: the same bytes as the plain loops.
TEST_P(PixelConversionTest, EveryPixelLandsInItsPlaceWithinOneStepOfItsExactValue) {
    const Case c = GetParam();
    if (!PixelConversion::supports(c.instructions))
        GTEST_SKIP() << "not on this processor";
    const Converted converted = convert(c.format, c.width, 6, 12, c.instructions);
    const Errors e = errors(converted);
    EXPECT_LE(e.luma, 1.0);
    EXPECT_LE(e.chroma, 1.0);
    const Converted plain = convert(c.format, c.width, 6, 12, Instructions::plain);
    EXPECT_EQ(converted.y, plain.y);
    EXPECT_EQ(converted.u, plain.u);
    EXPECT_EQ(converted.v, plain.v);
}

std::vector<Case> cases() {
    std::vector<Case> all;
    for (Instructions i : {Instructions::plain, Instructions::avx2, Instructions::avx512}) {
        for (int width : {2, 30, 32, 66, 1920})
            all.push_back({PixelFormat::BGRA, width, i});
        for (int width : {34, 128})
            all.push_back({PixelFormat::RGBA, width, i});
    }
    return all;
}

std::string caseName(const testing::TestParamInfo<Case>& info) {
    static const char* const names[] = {"Plain", "Avx2", "Avx512"};
    return std::string(info.param.format == PixelFormat::BGRA ? "BGRA" : "RGBA") + std::to_string(info.param.width) +
           "Wide" + names[int(info.param.instructions)];
}

INSTANTIATE_TEST_SUITE_P(Widths, PixelConversionTest, ::testing::ValuesIn(cases()), caseName);

TEST(PixelConversionLimits, BlackAndWhiteMeetTheEndsOfTheLimitedRange) {
    for (const auto& [value, expected] : {std::pair{0, 16}, std::pair{255, 235}}) {
        std::vector<std::uint8_t> pixels(64 * 2 * 4, std::uint8_t(value));
        const auto bitmap = platform::Bitmap::create(64, 2, 256, PixelFormat::BGRA, platform::AlphaMode::opaque, pixels);
        std::vector<std::uint8_t> y(128), u(32), v(32);
        PixelConversion::toI420(*bitmap, 64, 2, {y.data(), u.data(), v.data(), 64, 32, 32});
        EXPECT_EQ(y, std::vector<std::uint8_t>(128, std::uint8_t(expected))) << "channel value " << value;
        EXPECT_EQ(u, std::vector<std::uint8_t>(32, 128)) << "channel value " << value;
        EXPECT_EQ(v, std::vector<std::uint8_t>(32, 128)) << "channel value " << value;
    }
}

}  // namespace
