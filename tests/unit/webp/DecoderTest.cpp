#include "WebpTestPixels.h"

#include "packages/webp/WebPDecoder.h"
#include "packages/webp/WebPError.h"
#include "packages/webp/WebpDecoderConfig.h"
#include "packages/webp/WebpDecodingError.h"
#include "packages/webp/WebpImageInspector.h"
#include "packages/webp/WebpIncrementalDecoder.h"
#include "packages/webp/WebpRGBAMultiplier.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace webptest;
using webp::ColorspaceMode;
using webp::WebPDecoder;
using webp::WebpDecoderOptions;
using webp::WebpDecodingStatus;

namespace {

WebpDecodingStatus decodingStatusOf(std::span<const std::uint8_t> data) {
    try {
        WebPDecoder().decode(webp::byRGBA, data, WebpDecoderOptions());
    } catch (const webp::WebpDecodingError& e) {
        return e.errorCase();
    }
    return WebpDecodingStatus::ok;
}

std::vector<std::uint8_t> garbage(std::size_t n) {
    std::vector<std::uint8_t> g(n);
    for (std::size_t i = 0; i < n; ++i)
        g[i] = static_cast<std::uint8_t>(i * 151 + 7);
    return g;
}

}  // namespace

TEST(WebPDecoder, EveryLayoutHoldsThePixels_PlanesToo) {
    // Two by two, lossless, with translucent pixels.
    const std::vector<std::uint8_t> px = {255, 0, 0, 128, 0, 255, 0, 255, 0, 0, 255, 0, 10, 20, 30, 200};
    const webp::Data file = encodeRGBA(px, 2, 2, true);
    const WebPDecoder dec;
    const WebpDecoderOptions opts;
    const webp::Data rgba = dec.decode(webp::byRGBA, file, opts);
    EXPECT_TRUE(rgba.size() == 16 && std::equal(px.begin(), px.end(), rgba.data()));
    const struct {
        webp::Data data;
        std::size_t size, at;
        std::uint8_t value;
    } layouts[] = {{dec.decode(webp::byBGRA, file, opts), 16, 2, 255},   {dec.decode(webp::byARGB, file, opts), 16, 0, 128},
                   {dec.decode(webp::byRGB, file, opts), 12, 9, 10},      {dec.decode(webp::byBGR, file, opts, 99, 99), 12, 9, 30},
                   {dec.decode(webp::byrgbA, file, opts), 16, 0, 128},    {dec.decode(webp::byrgbA, file, opts), 16, 10, 0},
                   {dec.decode(webp::bybgrA, file, opts), 16, 2, 128},    {dec.decode(webp::byArgb, file, opts), 16, 0, 128},
                   {dec.decode(webp::byRGBA4444, file, opts), 8, 0, 0xf0}, {dec.decode(webp::byrgbA4444, file, opts), 8, 0, 0x80},
                   {dec.decode(webp::byRGB565, file, opts), 8, 0, 0xf8}};
    for (const auto& l : layouts)
        EXPECT_TRUE(l.data.size() == l.size && l.data[l.at] == l.value) << l.size << " " << l.at << ": " << int(l.data[l.at]);

    // Planes: mid grey is studio luma 126 with neutral chroma; alpha only when asked for.
    const int w = 17, h = 9;
    const webp::Data grey = encodeRGBA(std::vector<std::uint8_t>(w * h * 4, 128), w, h, false);
    const webp::WebpYUVAPlanes yuv = dec.decode(webp::byYUV, grey, opts);
    EXPECT_TRUE(yuv.width == w && yuv.height == h && yuv.a.bytes == nullptr && yuv.a.size == 0);
    EXPECT_GE(yuv.u.size, std::size_t(yuv.u.stride) * ((h + 1) / 2));
    EXPECT_NEAR(yuv.y.bytes[4 * yuv.y.stride + 8], 126, 3);
    EXPECT_NEAR(yuv.v.bytes[4 * yuv.v.stride + 8], 128, 3);
    const auto translucent = rgbaPattern(w, h, true);
    const webp::WebpYUVAPlanes yuva = dec.decode(webp::byYUVA, encodeRGBA(translucent, w, h, false), opts);
    for (int i = 0; i < w * h; ++i)
        ASSERT_EQ(yuva.a.bytes[(i / w) * yuva.a.stride + i % w], translucent[i * 4 + 3]) << i;

    // Flipped, the rows and the planes run bottom up, each within its own buffer.
    WebpDecoderOptions flipped;
    flipped.flip = 1;
    const auto reference = rgbaPattern(5, 4, true);
    const webp::Data small = encodeRGBA(reference, 5, 4, true);
    const webp::Data rows = dec.decode(webp::byRGBA, small, flipped);
    for (int y = 0; y < 4; ++y)
        EXPECT_TRUE(std::equal(rows.data() + y * 20, rows.data() + (y + 1) * 20, reference.data() + (3 - y) * 20)) << y;
    EXPECT_EQ(dec.decode(small, flipped)->row(0)[3], reference[3 * 20 + 3]);
    const auto down = dec.decode(webp::byYUVA, small, flipped), up = dec.decode(webp::byYUVA, small, opts);
    ASSERT_LE(std::size_t(down.y.stride) * 4, down.y.size);
    for (int r = 0; r < 4; ++r)
        EXPECT_TRUE(std::equal(down.a.bytes + r * down.a.stride, down.a.bytes + r * down.a.stride + 5,
                               up.a.bytes + (3 - r) * up.a.stride));
}

TEST(WebPDecoder, BitmapsArePremultipliedAndFollowScalingAndCropping_BadInputIsAnError) {
    const platform::BitmapRef one = WebPDecoder().decode(encodeRGBA({255, 0, 0, 128}, 1, 1, true), WebpDecoderOptions());
    EXPECT_TRUE(one->format() == platform::PixelFormat::RGBA && one->alpha() == platform::AlphaMode::premultiplied);
    EXPECT_TRUE(one->data()[0] == 128 && one->data()[3] == 128);
    const webp::Data file = encodeRGBA(rgbaPattern(100, 80, false, true), 100, 80, false);
    EXPECT_EQ(WebPDecoder().decode(webp::toImage, file, WebpDecoderOptions()).size(), QSizeF(100, 80));
    WebpDecoderOptions scaled;
    scaled.useScaling = true;
    scaled.scaledWidth = 50;
    // A zero height keeps the aspect ratio; the bitmap describes what was decoded.
    for (int height : {40, 0}) {
        scaled.scaledHeight = height;
        const auto bitmap = WebPDecoder().decode(file, scaled);
        EXPECT_TRUE(bitmap->width() == 50 && bitmap->height() == 40) << height;
    }
    WebpDecoderOptions cropped;
    cropped.useCropping = true;
    cropped.cropLeft = 20, cropped.cropTop = 10, cropped.cropWidth = 30, cropped.cropHeight = 12;
    const auto crop = WebPDecoder().decode(file, cropped);
    EXPECT_TRUE(crop->width() == 30 && crop->height() == 12);
    EXPECT_NEAR(crop->data()[0], 20 * 255 / 99, 8);  // red grows along x

    const std::vector<std::uint8_t> bytes(file.data(), file.data() + file.size());
    EXPECT_EQ(decodingStatusOf(std::span(bytes).first(bytes.size() / 2)), WebpDecodingStatus::notEnoughData);
    EXPECT_EQ(decodingStatusOf(std::vector<std::uint8_t>(bytes.size(), 0x42)), WebpDecodingStatus::bitstreamError);
    EXPECT_EQ(decodingStatusOf({}), WebpDecodingStatus::invalidParam);
    EXPECT_THROW(WebPDecoder().decode(garbage(64), WebpDecoderOptions()), webp::WebPError);
    EXPECT_EQ(webp::WebpDecodingError::fromStatus(42).errorCode(), 9999);
    EXPECT_EQ(webp::WebpDecodingError::fromStatus(VP8_STATUS_SUSPENDED).plainText(), "suspended");
}

TEST(WebpImageInspector, ReportsFormatSizeAndAlpha_TheRecordsMirrorTheLibrarysWhateverTheyHold) {
    const auto lossless = webp::WebpImageInspector::inspect(encodeRGBA(rgbaPattern(7, 5, true), 7, 5, true));
    EXPECT_TRUE(lossless.format == webp::WebpBitstreamFeatures::Format::lossless && lossless.width == 7 &&
                lossless.height == 5 && lossless.hasAlpha && !lossless.hasAnimation);
    const auto lossy = webp::WebpImageInspector::inspect(encodeRGBA(rgbaPattern(16, 8), 16, 8, false));
    EXPECT_TRUE(lossy.format == webp::WebpBitstreamFeatures::Format::lossy && !lossy.hasAlpha);
    try {
        webp::WebpImageInspector::inspect(garbage(200));
        ADD_FAILURE() << "garbage inspected";
    } catch (const webp::WebPError& e) {
        EXPECT_EQ(e.message(), "Error VP8StatusCode=3");
    }
    WebPBitstreamFeatures features{};
    features.format = 3;
    EXPECT_FALSE(webp::WebpBitstreamFeatures::fromRawValue(features));

    const webp::WebpDecoderConfig config;
    EXPECT_TRUE(config.input && config.output.colorspace == ColorspaceMode::RGB && !WebpDecoderOptions().useThreads);
    // A colour space outside the enumeration, as a record filled elsewhere may hold, is no value
    // (and forms no invalid enumeration value on the way).
    WebPDecBuffer buffer{};
    for (int outside : {13, 99, -1}) {
        std::memcpy(&buffer.colorspace, &outside, sizeof outside);
        EXPECT_FALSE(webp::WebpDecBuffer::fromRawValue(buffer)) << outside;
    }
    buffer.colorspace = MODE_YUVA;
    EXPECT_TRUE(std::holds_alternative<WebPYUVABuffer>(webp::WebpDecBuffer::fromRawValue(buffer)->u));
    buffer.colorspace = MODE_rgbA_4444;
    EXPECT_TRUE(std::holds_alternative<WebPRGBABuffer>(webp::WebpDecBuffer::fromRawValue(buffer)->u));
    for (int m = 0; m <= 12; ++m) {
        const auto mode = static_cast<ColorspaceMode>(m);
        const auto lib = static_cast<WEBP_CSP_MODE>(m);
        EXPECT_EQ(webp::isPremultipliedMode(mode), WebPIsPremultipliedMode(lib) != 0) << m;
        EXPECT_EQ(webp::isAlphaMode(mode), WebPIsAlphaMode(lib) != 0) << m;
        EXPECT_EQ(webp::isRGBMode(mode), WebPIsRGBMode(lib) != 0) << m;
    }
}

TEST(WebpIncrementalDecoder, GrowingSlicesEndInTheFullPicture_BadOrShrinkingDataIsAnError) {
    const webp::Data file = encodeRGBA(rgbaPattern(96, 80, false, true), 96, 80, false);
    webp::WebpIncrementalDecoder dec;
    EXPECT_FALSE(dec.incremetallyDecodeData(std::vector<std::uint8_t>(file.data(), file.data() + 20)).image);
    bool sawPartial = false;
    // Each call gets a fresh buffer and the previous one is gone, as with a growing download.
    for (std::size_t n = 64; n < file.size(); n += file.size() / 7)
        sawPartial = dec.incremetallyDecodeData(std::vector<std::uint8_t>(file.data(), file.data() + n)).image || sawPartial;
    EXPECT_TRUE(sawPartial) << "some rows show before the file is complete";
    const auto result = dec.incremetallyDecodeData(std::vector<std::uint8_t>(file.data(), file.data() + file.size()));
    ASSERT_TRUE(result.image);
    EXPECT_EQ(result.image->bitmap()->alpha(), platform::AlphaMode::straight);
    const platform::Bitmap& b = *result.image->bitmap();
    EXPECT_EQ(std::vector<std::uint8_t>(b.data(), b.data() + b.byteCount()), libraryDecode(file).rgba);

    auto errorOf = [](webp::WebpIncrementalDecoder& d, std::vector<std::uint8_t> data) -> std::string {
        try {
            d.incremetallyDecodeData(data);
        } catch (const platform::PlatformError& e) {
            return e.domain() + " " + std::to_string(e.code()) + " " + e.description();
        }
        return "no error";
    };
    webp::WebpIncrementalDecoder bad, shrinking;
    EXPECT_EQ(errorOf(bad, garbage(256)), "WebpSpecialDecoder 500 An error has occured with code: 3");
    shrinking.incremetallyDecodeData(std::vector<std::uint8_t>(file.data(), file.data() + file.size() * 3 / 4));
    EXPECT_EQ(errorOf(shrinking, std::vector<std::uint8_t>(file.data(), file.data() + file.size() / 2)),
              "WebpSpecialDecoder 500 An error has occured with code: 2");
}

TEST(WebpRGBAMultiplier, EdgeValuesAndARoundTripOfEveryValidPixel) {
    using M = webp::WebpRGBAMultiplier;
    const std::uint8_t in[] = {255, 0, 0, 128, 255, 255, 255, 0, 200, 100, 50, 255, 1, 1, 1, 1};
    std::uint8_t* pre = M::premultiplyBytes(in, 2, 2);
    const std::uint8_t expectedPre[] = {128, 0, 0, 128, 0, 0, 0, 0, 200, 100, 50, 255, 0, 0, 0, 1};
    EXPECT_TRUE(std::equal(expectedPre, expectedPre + 16, pre));
    std::free(pre);
    // Colour above its alpha is capped; a transparent pixel has no colour left.
    const std::uint8_t premultiplied[] = {128, 0, 0, 128, 10, 20, 30, 0, 200, 100, 50, 255, 200, 0, 1, 100};
    std::uint8_t* un = M::unpremultiplyBytes(premultiplied, 4, 1);
    const std::uint8_t expectedUn[] = {255, 0, 0, 128, 0, 0, 0, 0, 200, 100, 50, 255, 255, 0, 3, 100};
    EXPECT_TRUE(std::equal(expectedUn, expectedUn + 16, un));
    std::free(un);
    EXPECT_FALSE(M::premultiplyBytes(in, 0, 4) || M::unpremultiplyBytes(in, 2, -1) ||
                 M::premultiplyBytes(in, std::int64_t{1} << 40, std::int64_t{1} << 40));

    std::vector<std::uint8_t> all;
    for (int a = 1; a <= 255; ++a)
        for (int c = 0; c <= a; ++c)
            all.insert(all.end(), {std::uint8_t(c), std::uint8_t(c), std::uint8_t(c), std::uint8_t(a)});
    const std::int64_t n = static_cast<std::int64_t>(all.size() / 4);
    auto* raw = static_cast<std::uint8_t*>(std::malloc(all.size()));
    std::copy(all.begin(), all.end(), raw);
    const webp::Data data = webp::Data::adopt(raw, all.size());
    const auto back = M::premultiply(*M::unpremultiply(data, n, 1), n, 1);
    EXPECT_TRUE(back && std::equal(all.begin(), all.end(), back->data()));
    // Data shorter than the sizes claim is refused rather than read past.
    EXPECT_FALSE(M::premultiply(data, n + 1, 1) || M::unpremultiply(data, n, 2));
}
