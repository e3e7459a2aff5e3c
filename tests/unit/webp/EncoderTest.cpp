#include "WebpTestPixels.h"

#include "packages/webp/ConvertUIImageToCGImageWithRGBA.h"
#include "packages/webp/WebPEncodeStatusCode.h"
#include "packages/webp/WebPEncoder.h"
#include "packages/webp/WebPEncoderError.h"
#include "packages/webp/WebPError.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

using namespace webptest;
using webp::WebpEncoderConfig;
using webp::WebPEncoder;
using webp::WebPEncoderErrorCase;

namespace {

std::string fourCC(const webp::Data& d, std::size_t at) { return std::string(reinterpret_cast<const char*>(d.data()) + at, 4); }

WebPEncoderErrorCase encoderErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const webp::WebPEncoderError& e) {
        return e.errorCase();
    }
    ADD_FAILURE() << "no WebPEncoderError thrown";
    return WebPEncoderErrorCase::encodingImageError;
}

// A page that faults on any read: proves an operation never touched its pixels.
struct UnreadablePage {
    std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* page = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ~UnreadablePage() { munmap(page, size); }
    const std::uint8_t* bytes() const { return static_cast<const std::uint8_t*>(page); }
};

}  // namespace

TEST(WebPEncoder, OnePixelIsACompleteRiffFile) {
    const std::uint8_t pixel[4] = {10, 200, 30, 255};
    const auto config = WebpEncoderConfig::preset(WebpEncoderConfig::Preset::picture, 90);
    const webp::Data file = WebPEncoder().encode(webp::RGBA, pixel, config, 1, 1, 4, 0, 0);
    ASSERT_GE(file.size(), 20u);
    EXPECT_EQ(fourCC(file, 0), "RIFF");
    EXPECT_EQ(fourCC(file, 8), "WEBP");
    std::uint32_t riffSize = 0;
    std::memcpy(&riffSize, file.data() + 4, 4);
    EXPECT_EQ(riffSize + 8, file.size());
    int w = 0, h = 0;
    ASSERT_TRUE(WebPGetInfo(file.data(), file.size(), &w, &h));
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 1);
    // Copies share the encoder's buffer rather than duplicating it.
    const webp::Data copy = file;
    EXPECT_EQ(copy.data(), file.data());
}

TEST(WebPEncoder, LosslessRoundTripIsExactInEveryChannelOrder) {
    const int w = 37, h = 23;
    const auto reference = rgbaPattern(w, h, true);
    const auto config = losslessConfig();
    const WebPEncoder enc;
    using Encode = std::function<webp::Data(const std::uint8_t*, int)>;
    auto member = [&](auto tag) -> Encode {
        return [&, tag](const std::uint8_t* px, int stride) { return enc.encode(tag, px, config, w, h, stride, 0, 0); };
    };
    struct Order {
        const char* name;
        int bpp;
        int map[4];  // memory position of R, G, B, A (-1: not stored)
        bool keepsAlpha;
        Encode encode;
    };
    const Order orders[] = {
        {"RGB", 3, {0, 1, 2, -1}, false, member(webp::RGB)},   {"RGBA", 4, {0, 1, 2, 3}, true, member(webp::RGBA)},
        {"RGBX", 4, {0, 1, 2, -1}, false, member(webp::RGBX)}, {"BGR", 3, {2, 1, 0, -1}, false, member(webp::BGR)},
        {"BGRA", 4, {2, 1, 0, 3}, true, member(webp::BGRA)},   {"BGRX", 4, {2, 1, 0, -1}, false, member(webp::BGRX)},
    };
    for (const Order& o : orders) {
        SCOPED_TRACE(o.name);
        const int stride = w * o.bpp + 5;  // rows padded, as many real buffers are
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(stride) * h, 0x5a);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 4; ++c)
                    if (o.map[c] >= 0)
                        buffer[y * stride + x * o.bpp + o.map[c]] = reference[(y * w + x) * 4 + c];
        const webp::Data file = o.encode(buffer.data(), stride);
        const Decoded d = libraryDecode(file);
        ASSERT_EQ(d.width, w);
        ASSERT_EQ(d.height, h);
        int mismatches = 0;
        for (std::size_t i = 0; i < d.rgba.size(); ++i) {
            const std::uint8_t expected = (i % 4 == 3 && !o.keepsAlpha) ? 255 : reference[i];
            mismatches += d.rgba[i] != expected;
        }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(WebPEncoder, LossyRoundTripStaysClose) {
    const int w = 64, h = 48;
    const auto pixels = rgbaGradient(w, h);
    const auto config = WebpEncoderConfig::preset(WebpEncoderConfig::Preset::picture, 90);
    const webp::Data file = WebPEncoder().encode(webp::RGBA, pixels.data(), config, w, h, w * 4, 0, 0);
    const Decoded d = libraryDecode(file);
    ASSERT_EQ(d.width, w);
    ASSERT_EQ(d.height, h);
    long total = 0;
    int worst = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const int diff = std::abs(int(d.rgba[i]) - int(pixels[i]));
        total += diff;
        worst = std::max(worst, diff);
    }
    EXPECT_LT(double(total) / pixels.size(), 2.0);
    EXPECT_LT(worst, 24);
    // Lossy really is lossy here: it is not the lossless encoder under another name.
    EXPECT_NE(d.rgba, pixels);
}

TEST(WebPEncoder, InvalidConfigsThrowBeforeAnyPixelIsRead) {
    const UnreadablePage page;
    const WebPEncoder enc;
    auto config = WebpEncoderConfig::preset(WebpEncoderConfig::Preset::picture, 101);
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGBA, page.bytes(), config, 16, 16, 64, 0, 0); }),
              WebPEncoderErrorCase::invalidParameter);
    config = WebpEncoderConfig::preset(WebpEncoderConfig::Preset::picture, 90);
    config.method = 7;
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::BGRX, page.bytes(), config, 16, 16, 64, 0, 0); }),
              WebPEncoderErrorCase::invalidParameter);
    config.method = (std::int64_t{1} << 32) + 4;
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGB, page.bytes(), config, 16, 16, 48, 0, 0); }),
              WebPEncoderErrorCase::invalidParameter);
    config.method = 4;
    config.targetSize = -1;
    const auto bitmap = flatBitmap(4, 4, 1, 2, 3, 255);
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGBA, *bitmap, config, 0, 0); }),
              WebPEncoderErrorCase::invalidParameter);
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(platform::Image(bitmap), config, 0, 0); }),
              WebPEncoderErrorCase::invalidParameter);
}

TEST(WebPEncoder, PicturesTheLibraryCannotTakeAreRefusedWithoutData) {
    const WebPEncoder enc;
    const auto config = WebpEncoderConfig::preset(WebpEncoderConfig::Preset::picture, 90);
    // Wider than the library's largest side: imported, then refused by the encode with its status.
    std::vector<std::uint8_t> wide(20000 * 4, 0x80);
    try {
        enc.encode(webp::RGBA, wide.data(), config, 20000, 1, 20000 * 4, 0, 0);
        ADD_FAILURE() << "encoded";
    } catch (const webp::WebPEncodeStatusCode& e) {
        EXPECT_EQ(e.errorCase(), webp::WebPEncodeStatus::badDimension);
        EXPECT_EQ(e.errorCode(), 5);
        EXPECT_EQ(e.plainText(), "badDimension");
    }
    EXPECT_FALSE(webp::WebPEncodeStatusCode::fromRawValue(-1));
    EXPECT_FALSE(webp::WebPEncodeStatusCode::fromRawValue(12));
    EXPECT_EQ(webp::WebPEncodeStatusCode::fromRawValue(11)->errorCase(), webp::WebPEncodeStatus::last);
    // A width beyond 32 bits must not wrap into a one-pixel picture.
    const std::uint8_t pixel[4] = {1, 2, 3, 255};
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGBA, pixel, config, (std::int64_t{1} << 32) + 1, 1, 4, 0, 0); }),
              WebPEncoderErrorCase::versionMismatched);
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGBA, pixel, config, 1, 1, (std::int64_t{1} << 32) + 4, 0, 0); }),
              WebPEncoderErrorCase::versionMismatched);
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGBA, nullptr, config, 1, 1, 4, 0, 0); }),
              WebPEncoderErrorCase::versionMismatched);
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGBA, pixel, config, 0, 1, 4, 0, 0); }),
              WebPEncoderErrorCase::versionMismatched);
}

TEST(WebPEncoder, ResizeArgumentsLeaveTheOriginSize) {
    const auto pixels = rgbaGradient(300, 200);
    const auto config = WebpEncoderConfig::preset(WebpEncoderConfig::Preset::picture, 80);
    const webp::Data file = WebPEncoder().encode(webp::RGBA, pixels.data(), config, 300, 200, 1200, 100, 100);
    int w = 0, h = 0;
    ASSERT_TRUE(WebPGetInfo(file.data(), file.size(), &w, &h));
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 200);
}

TEST(WebPEncoder, BitmapMembersReadTheStoredBytes) {
    // A BGRA bitmap with padded rows, read by the BGRA member, keeps its colours.
    const int w = 9, h = 7, bpr = w * 4 + 12;
    const auto reference = rgbaPattern(w, h);
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(bpr) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* s = &reference[(y * w + x) * 4];
            std::uint8_t* d = &bgra[y * bpr + x * 4];
            d[0] = s[2], d[1] = s[1], d[2] = s[0], d[3] = s[3];
        }
    const auto bitmap = platform::Bitmap::create(w, h, bpr, platform::PixelFormat::BGRA, platform::AlphaMode::opaque,
                                                 std::move(bgra));
    const webp::Data file = WebPEncoder().encode(webp::BGRA, *bitmap, losslessConfig(), 0, 0);
    const Decoded d = libraryDecode(file);
    ASSERT_EQ(d.width, w);
    ASSERT_EQ(d.height, h);
    EXPECT_EQ(d.rgba, reference);
}

TEST(WebPEncoder, ImageMemberEncodesColoursAtThePointSize) {
    // Straight colours come out whatever the bitmap's alpha, at the size in points.
    const auto premultiplied = flatBitmap(40, 30, 100, 50, 25, 128, platform::AlphaMode::premultiplied);
    const auto config = losslessConfig();
    const webp::Data same = WebPEncoder().encode(platform::Image(premultiplied), config, 0, 0);
    Decoded d = libraryDecode(same);
    ASSERT_EQ(d.width, 40);
    ASSERT_EQ(d.height, 30);
    EXPECT_EQ(d.rgba[0], 199);  // 100 * 255 / 128, rounded
    EXPECT_EQ(d.rgba[1], 100);
    EXPECT_EQ(d.rgba[2], 50);
    EXPECT_EQ(d.rgba[3], 255);

    const auto retina = flatBitmap(80, 60, 10, 20, 30, 255);
    const webp::Data scaled = WebPEncoder().encode(platform::Image(retina, QSizeF(40, 30)), config, 0, 0);
    d = libraryDecode(scaled);
    ASSERT_EQ(d.width, 40);
    ASSERT_EQ(d.height, 30);
    EXPECT_EQ(d.rgba[(15 * 40 + 20) * 4 + 2], 30);

    try {
        WebPEncoder().encode(platform::Image(), config, 0, 0);
        ADD_FAILURE() << "a null image encoded";
    } catch (const webp::WebPError& e) {
        EXPECT_EQ(e.message(), "Given image doesn't support TIFF representation.");
    }
    EXPECT_THROW(WebPEncoder().encode(platform::Image(retina, QSizeF(0.5, 30)), config, 0, 0), webp::WebPError);
}

TEST(ConvertUIImageToCGImageWithRGBA, RedrawsAtThePointSizeAsPremultipliedRGBA) {
    const auto bitmap = flatBitmap(200, 100, 255, 0, 0, 128);  // straight alpha
    const auto out = webp::convertUIImageToCGImageWithRGBA(platform::Image(bitmap, QSizeF(100, 50)));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->width(), 100);
    EXPECT_EQ(out->height(), 50);
    EXPECT_EQ(out->format(), platform::PixelFormat::RGBA);
    EXPECT_EQ(out->alpha(), platform::AlphaMode::premultiplied);
    const std::uint8_t* p = out->row(25) + 50 * 4;
    EXPECT_NEAR(p[0], 128, 1);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[3], 128);
    try {
        webp::convertUIImageToCGImageWithRGBA(platform::Image());
        ADD_FAILURE() << "a null image converted";
    } catch (const webp::WebPError& e) {
        EXPECT_EQ(e.message(), "");
    }
}
