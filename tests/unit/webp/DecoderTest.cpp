#include "WebpTestPixels.h"

#include "packages/webp/WebPDecoder.h"
#include "packages/webp/WebPEncoder.h"
#include "packages/webp/WebPError.h"
#include "packages/webp/WebpDecoderConfig.h"
#include "packages/webp/WebpDecodingError.h"
#include "packages/webp/WebpImageInspector.h"

#include <gtest/gtest.h>

#include <string>

using namespace webptest;
using webp::ColorspaceMode;
using webp::WebPDecoder;
using webp::WebpDecoderOptions;
using webp::WebpDecodingStatus;
using webp::WebpEncoderConfig;

namespace {

WebpDecodingStatus decodingStatusOf(std::span<const std::uint8_t> data) {
    try {
        const webp::Data pixels = WebPDecoder().decode(webp::byRGBA, data, WebpDecoderOptions());
        ADD_FAILURE() << "decoded " << pixels.size() << " bytes";
    } catch (const webp::WebpDecodingError& e) {
        return e.errorCase();
    }
    return WebpDecodingStatus::ok;
}

}  // namespace

TEST(WebpImageInspector, ReportsFormatSizeAndAlpha) {
    const auto lossless = webp::WebpImageInspector::inspect(encodeRGBA(rgbaPattern(7, 5, true), 7, 5, true));
    EXPECT_EQ(lossless.format, webp::WebpBitstreamFeatures::Format::lossless);
    EXPECT_EQ(lossless.width, 7);
    EXPECT_EQ(lossless.height, 5);
    EXPECT_TRUE(lossless.hasAlpha);
    EXPECT_FALSE(lossless.hasAnimation);
    const auto lossy = webp::WebpImageInspector::inspect(encodeRGBA(rgbaGradient(16, 8), 16, 8, false));
    EXPECT_EQ(lossy.format, webp::WebpBitstreamFeatures::Format::lossy);
    EXPECT_FALSE(lossy.hasAlpha);

    std::vector<std::uint8_t> garbage(200);
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 151 + 7);
    try {
        webp::WebpImageInspector::inspect(garbage);
        ADD_FAILURE() << "garbage inspected";
    } catch (const webp::WebPError& e) {
        EXPECT_EQ(e.message().rfind("Error VP8StatusCode=", 0), 0u) << e.message();
        EXPECT_EQ(e.message(), "Error VP8StatusCode=3");
    }

    WebPBitstreamFeatures raw{};
    raw.format = 3;
    EXPECT_FALSE(webp::WebpBitstreamFeatures::fromRawValue(raw));
}

TEST(WebPDecoder, RawDecodesGiveEachLayout) {
    // Two by two, lossless, with translucent pixels.
    const std::vector<std::uint8_t> px = {255, 0, 0, 128, 0, 255, 0, 255, 0, 0, 255, 0, 10, 20, 30, 200};
    const webp::Data file = encodeRGBA(px, 2, 2, true);
    const WebPDecoder dec;
    const WebpDecoderOptions opts;

    const webp::Data rgba = dec.decode(webp::byRGBA, file, opts);
    ASSERT_EQ(rgba.size(), 16u);
    EXPECT_TRUE(std::equal(px.begin(), px.end(), rgba.data()));

    const webp::Data bgra = dec.decode(webp::byBGRA, file, opts);
    ASSERT_EQ(bgra.size(), 16u);
    EXPECT_EQ(bgra[0], 0);
    EXPECT_EQ(bgra[2], 255);
    EXPECT_EQ(bgra[3], 128);

    const webp::Data argb = dec.decode(webp::byARGB, file, opts);
    EXPECT_EQ(argb[0], 128);
    EXPECT_EQ(argb[1], 255);

    const webp::Data rgb = dec.decode(webp::byRGB, file, opts);
    ASSERT_EQ(rgb.size(), 12u);
    EXPECT_EQ(rgb[9], 10);
    const webp::Data bgr = dec.decode(webp::byBGR, file, opts, 99, 99);
    ASSERT_EQ(bgr.size(), 12u);
    EXPECT_EQ(bgr[9], 30);

    const webp::Data premultiplied = dec.decode(webp::byrgbA, file, opts);
    EXPECT_EQ(premultiplied[0], 128);
    EXPECT_EQ(premultiplied[3], 128);
    EXPECT_EQ(premultiplied[10], 0) << "a transparent pixel carries no colour";
    EXPECT_EQ(dec.decode(webp::bybgrA, file, opts)[2], 128);
    EXPECT_EQ(dec.decode(webp::byArgb, file, opts).size(), 16u);

    EXPECT_EQ(dec.decode(webp::byRGBA4444, file, opts).size(), 8u);
    EXPECT_EQ(dec.decode(webp::byrgbA4444, file, opts).size(), 8u);
    const webp::Data rgb565 = dec.decode(webp::byRGB565, file, opts);
    ASSERT_EQ(rgb565.size(), 8u);
    EXPECT_EQ(rgb565[0], 0xf8) << "pure red in RGB565";
}

TEST(WebPDecoder, TruncatedAndGarbageInputsGiveDecodingErrors) {
    const webp::Data file = encodeRGBA(rgbaGradient(64, 64), 64, 64, false);
    const std::vector<std::uint8_t> bytes(file.data(), file.data() + file.size());
    EXPECT_EQ(decodingStatusOf(std::span(bytes).first(bytes.size() / 2)), WebpDecodingStatus::notEnoughData);
    EXPECT_EQ(decodingStatusOf(std::span(bytes).first(bytes.size() - 1)), WebpDecodingStatus::notEnoughData);
    std::vector<std::uint8_t> garbage(bytes.size(), 0x42);
    EXPECT_EQ(decodingStatusOf(garbage), WebpDecodingStatus::bitstreamError);
    EXPECT_EQ(decodingStatusOf({}), WebpDecodingStatus::invalidParam);

    EXPECT_THROW(WebPDecoder().decode(std::span(bytes).first(bytes.size() / 2), WebpDecoderOptions()), platform::Error);
    const auto unknown = webp::WebpDecodingError::fromStatus(42);
    EXPECT_EQ(unknown.errorCase(), WebpDecodingStatus::unknownError);
    EXPECT_EQ(unknown.errorCode(), 9999);
    EXPECT_EQ(webp::WebpDecodingError::fromStatus(VP8_STATUS_SUSPENDED).plainText(), "suspended");
}

TEST(WebPDecoder, ImageDecodeIsPremultipliedRGBA) {
    const webp::Data file = encodeRGBA({255, 0, 0, 128}, 1, 1, true);
    const platform::BitmapRef bitmap = WebPDecoder().decode(file, WebpDecoderOptions());
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->format(), platform::PixelFormat::RGBA);
    EXPECT_EQ(bitmap->alpha(), platform::AlphaMode::premultiplied);
    EXPECT_EQ(bitmap->data()[0], 128);
    EXPECT_EQ(bitmap->data()[1], 0);
    EXPECT_EQ(bitmap->data()[3], 128);

    const platform::Image image = WebPDecoder().decode(webp::toImage, file, WebpDecoderOptions());
    EXPECT_EQ(image.size(), QSizeF(1, 1));

    std::vector<std::uint8_t> garbage(64, 0x13);
    EXPECT_THROW(WebPDecoder().decode(garbage, WebpDecoderOptions()), webp::WebPError);
}

TEST(WebPDecoder, ImageSizeFollowsScalingAndCropping) {
    const webp::Data file = encodeRGBA(rgbaGradient(100, 80), 100, 80, false);
    WebpDecoderOptions scaled;
    scaled.useScaling = true;
    scaled.scaledWidth = 50;
    scaled.scaledHeight = 40;
    auto bitmap = WebPDecoder().decode(file, scaled);
    EXPECT_EQ(bitmap->width(), 50);
    EXPECT_EQ(bitmap->height(), 40);

    // A zero height keeps the aspect ratio; the bitmap must describe what was decoded.
    scaled.scaledHeight = 0;
    bitmap = WebPDecoder().decode(file, scaled);
    EXPECT_EQ(bitmap->width(), 50);
    EXPECT_EQ(bitmap->height(), 40);

    WebpDecoderOptions cropped;
    cropped.useCropping = true;
    cropped.cropLeft = 20;
    cropped.cropTop = 10;
    cropped.cropWidth = 30;
    cropped.cropHeight = 12;
    bitmap = WebPDecoder().decode(file, cropped);
    EXPECT_EQ(bitmap->width(), 30);
    EXPECT_EQ(bitmap->height(), 12);
    // Red grows along x: the crop's first column is about a fifth of the way across.
    EXPECT_NEAR(bitmap->data()[0], 20 * 255 / 99, 8);
}

TEST(WebPDecoder, FlippedDecodesHoldTheRowsBottomUpWithinTheirBuffer) {
    const int w = 5, h = 4;
    const auto reference = rgbaPattern(w, h, true);
    const webp::Data file = encodeRGBA(reference, w, h, true);
    WebpDecoderOptions flipped;
    flipped.flip = 1;
    const webp::Data rows = WebPDecoder().decode(webp::byRGBA, file, flipped);
    ASSERT_EQ(rows.size(), reference.size());
    for (int y = 0; y < h; ++y)
        EXPECT_TRUE(std::equal(rows.data() + y * w * 4, rows.data() + (y + 1) * w * 4,
                               reference.data() + (h - 1 - y) * w * 4))
            << "row " << y;

    const platform::BitmapRef bitmap = WebPDecoder().decode(file, flipped);
    ASSERT_EQ(bitmap->height(), h);
    EXPECT_EQ(bitmap->row(0)[3], reference[(h - 1) * w * 4 + 3]);

    // The planes too start at their first byte, so each size describes readable memory.
    const webp::WebpYUVAPlanes planes = WebPDecoder().decode(webp::byYUVA, file, flipped);
    const webp::WebpYUVAPlanes upright = WebPDecoder().decode(webp::byYUVA, file, WebpDecoderOptions());
    struct Pair {
        webp::WebpYUVAPlanes::Plane flipped, upright;
        int width, height;
    };
    for (const Pair& p : {Pair{planes.y, upright.y, w, h}, Pair{planes.u, upright.u, (w + 1) / 2, (h + 1) / 2},
                          Pair{planes.v, upright.v, (w + 1) / 2, (h + 1) / 2}, Pair{planes.a, upright.a, w, h}}) {
        ASSERT_GT(p.flipped.stride, 0);
        ASSERT_LE(static_cast<std::size_t>(p.flipped.stride) * p.height, p.flipped.size);
        for (int r = 0; r < p.height; ++r)
            EXPECT_TRUE(std::equal(p.flipped.bytes + r * p.flipped.stride, p.flipped.bytes + r * p.flipped.stride + p.width,
                                   p.upright.bytes + (p.height - 1 - r) * p.upright.stride))
                << "row " << r;
    }
}

TEST(WebPDecoder, YUVDecodesReturnThePlanes) {
    const int w = 17, h = 9;
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(w) * h * 4, 128);
    for (std::size_t i = 3; i < grey.size(); i += 4)
        grey[i] = 255;
    const webp::Data opaque = encodeRGBA(grey, w, h, false);

    const webp::WebpYUVAPlanes yuv = WebPDecoder().decode(webp::byYUV, opaque, WebpDecoderOptions());
    EXPECT_EQ(yuv.width, w);
    EXPECT_EQ(yuv.height, h);
    ASSERT_GE(yuv.y.stride, w);
    ASSERT_GE(yuv.u.stride, (w + 1) / 2);
    EXPECT_GE(yuv.y.size, static_cast<std::size_t>(yuv.y.stride) * h);
    EXPECT_GE(yuv.u.size, static_cast<std::size_t>(yuv.u.stride) * ((h + 1) / 2));
    EXPECT_EQ(yuv.a.bytes, nullptr);
    EXPECT_EQ(yuv.a.size, 0u);
    // Mid grey is studio-range luma of about 126 with neutral chroma.
    EXPECT_NEAR(yuv.y.bytes[4 * yuv.y.stride + 8], 126, 3);
    EXPECT_NEAR(yuv.u.bytes[2 * yuv.u.stride + 4], 128, 3);
    EXPECT_NEAR(yuv.v.bytes[4 * yuv.v.stride + 8], 128, 3);

    const auto translucent = rgbaPattern(w, h, true);
    const webp::WebpYUVAPlanes yuva =
        WebPDecoder().decode(webp::byYUVA, encodeRGBA(translucent, w, h, false), WebpDecoderOptions());
    ASSERT_NE(yuva.a.bytes, nullptr);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(yuva.a.bytes[y * yuva.a.stride + x], translucent[(y * w + x) * 4 + 3]) << x << "," << y;

    const webp::WebpYUVAPlanes opaqueAlpha = WebPDecoder().decode(webp::byYUVA, opaque, WebpDecoderOptions());
    ASSERT_NE(opaqueAlpha.a.bytes, nullptr);
    EXPECT_EQ(opaqueAlpha.a.bytes[(h - 1) * opaqueAlpha.a.stride + w - 1], 255);
}

TEST(WebpDecoderConfig, MirrorsTheLibraryRecords) {
    const webp::WebpDecoderConfig config;
    ASSERT_TRUE(config.input);
    EXPECT_EQ(config.output.colorspace, ColorspaceMode::RGB);
    const WebpDecoderOptions defaults;
    EXPECT_FALSE(defaults.useScaling);
    EXPECT_FALSE(defaults.useThreads);

    WebPDecBuffer buffer{};
    buffer.colorspace = static_cast<WEBP_CSP_MODE>(13);
    EXPECT_FALSE(webp::WebpDecBuffer::fromRawValue(buffer));
    buffer.colorspace = MODE_YUVA;
    const auto yuva = webp::WebpDecBuffer::fromRawValue(buffer);
    ASSERT_TRUE(yuva);
    EXPECT_TRUE(std::holds_alternative<WebPYUVABuffer>(yuva->u));
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
