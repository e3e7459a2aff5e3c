// The package against the library it wraps: the library's own decoder is the oracle for what
// the package encodes, and the package's decoders are read against what was put in.
#include "packages/webp/ConvertUIImageToCGImageWithRGBA.h"
#include "packages/webp/WebPAnimatedEncoder.h"
#include "packages/webp/WebPAnimatedEncoderStateError.h"
#include "packages/webp/WebPDecoder.h"
#include "packages/webp/WebPEncodeStatusCode.h"
#include "packages/webp/WebPEncoder.h"
#include "packages/webp/WebPEncoderError.h"
#include "packages/webp/WebPError.h"
#include "packages/webp/WebpDecBuffer.h"
#include "packages/webp/WebpDecodingError.h"
#include "packages/webp/WebpImageInspector.h"
#include "packages/webp/WebpIncrementalDecoder.h"
#include "packages/webp/WebpRGBAMultiplier.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <webp/demux.h>

#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <functional>

using namespace testing;
using webp::ColorspaceMode;
using webp::WebPDecoder;
using webp::WebpDecoderOptions;
using webp::WebpEncoderConfig;
using webp::WebPEncoder;
using Case = webp::WebPEncoderErrorCase;
using Preset = WebpEncoderConfig::Preset;

namespace {

// Busy RGBA pixels (no two neighbours alike), opaque unless asked; or a smooth gradient for lossy
// round trips.
std::vector<std::uint8_t> rgbaPattern(int w, int h, bool varyAlpha = false, bool smooth = false) {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* q = &p[(static_cast<std::size_t>(y) * w + x) * 4];
            q[0] = std::uint8_t(smooth ? x * 255 / (w - 1) : x * 37 + y * 11);
            q[1] = std::uint8_t(smooth ? y * 255 / (h - 1) : x * 5 + y * 53 + 7);
            q[2] = std::uint8_t(smooth ? 128 : (x ^ y) * 29 + 100);
            q[3] = varyAlpha ? std::uint8_t(x * 17 + y * 3 + 1) : 255;
        }
    return p;
}

// The library's own straight-RGBA decode, as an oracle independent of the package's decoder.
struct Decoded {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
};
Decoded libraryDecode(const webp::Data& file) {
    Decoded d;
    if (std::uint8_t* px = WebPDecodeRGBA(file.data(), file.size(), &d.width, &d.height)) {
        d.rgba.assign(px, px + static_cast<std::size_t>(d.width) * d.height * 4);
        WebPFree(px);
    }
    return d;
}

platform::BitmapRef flatBitmap(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a,
                                      platform::AlphaMode alpha = platform::AlphaMode::straight) {
    std::vector<std::uint8_t> p;
    for (int i = 0; i < w * h; ++i)
        p.insert(p.end(), {r, g, b, a});
    return platform::Bitmap::create(w, h, w * 4, platform::PixelFormat::RGBA, alpha, std::move(p));
}

// Lossless and exact (colours under transparent pixels kept), for exact comparisons.
webp::WebpEncoderConfig losslessConfig() {
    auto c = WebpEncoderConfig::preset(Preset::default_, 75);
    c.lossless = c.exact = 1;
    return c;
}

webp::Data encodeRGBA(const std::vector<std::uint8_t>& pixels, int w, int h, bool lossless) {
    auto config = lossless ? losslessConfig() : WebpEncoderConfig::preset(Preset::photo, 80);
    return WebPEncoder().encode(webp::RGBA, pixels.data(), config, w, h, w * 4, 0, 0);
}

// No bitstream of any kind.
const std::vector<std::uint8_t> junk(256, 0x42);

Case encoderErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const webp::WebPEncoderError& e) {
        return e.errorCase();
    }
    ADD_FAILURE() << "no WebPEncoderError thrown";
    return Case::encodingImageError;
}

std::array<std::int32_t, 29> words(const WebPConfig& c) {
    std::array<std::int32_t, 29> w;
    std::memcpy(w.data(), &c, sizeof c);
    return w;
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
    const webp::WebpYUVAPlanes yuv = dec.decode(webp::byYUV, encodeRGBA(std::vector<std::uint8_t>(w * h * 4, 128), w, h, false), opts);
    EXPECT_TRUE(yuv.width == w && yuv.height == h && yuv.a.bytes == nullptr && yuv.a.size == 0);
    EXPECT_GE(yuv.u.size, std::size_t(yuv.u.stride) * ((h + 1) / 2));
    EXPECT_TRUE(std::abs(yuv.y.bytes[4 * yuv.y.stride + 8] - 126) <= 3 && std::abs(yuv.v.bytes[4 * yuv.v.stride + 8] - 128) <= 3);
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
    const auto down = dec.decode(webp::byYUVA, small, flipped), up = dec.decode(webp::byYUVA, small, opts);
    ASSERT_LE(std::size_t(down.y.stride) * 4, down.y.size);
    for (int y = 0; y < 4; ++y) {
        EXPECT_TRUE(std::equal(rows.data() + y * 20, rows.data() + (y + 1) * 20, reference.data() + (3 - y) * 20)) << y;
        EXPECT_TRUE(std::equal(down.a.bytes + y * down.a.stride, down.a.bytes + y * down.a.stride + 5, up.a.bytes + (3 - y) * up.a.stride));
    }
    EXPECT_EQ(dec.decode(small, flipped)->row(0)[3], reference[3 * 20 + 3]);
}

TEST(WebPDecoder, BitmapsArePremultipliedAndFollowScalingAndCropping_BadInputIsAnError) {
    const platform::BitmapRef one = WebPDecoder().decode(encodeRGBA({255, 0, 0, 128}, 1, 1, true), WebpDecoderOptions());
    EXPECT_TRUE(one->format() == platform::PixelFormat::RGBA && one->alpha() == platform::AlphaMode::premultiplied &&
                one->data()[0] == 128 && one->data()[3] == 128);
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

    EXPECT_THAT([&] { WebPDecoder().decode(webp::byRGBA, file.bytes().first(file.size() / 2), WebpDecoderOptions()); },
                Throws<webp::WebpDecodingError>(Property(&webp::WebpDecodingError::errorCode, int(webp::WebpDecodingStatus::notEnoughData))));
    EXPECT_THROW(WebPDecoder().decode(junk, WebpDecoderOptions()), webp::WebPError);
}

TEST(WebpImageInspector, ReportsFormatSizeAndAlpha_TheRecordsMirrorTheLibrarysWhateverTheyHold) {
    const auto lossless = webp::WebpImageInspector::inspect(encodeRGBA(rgbaPattern(7, 5, true), 7, 5, true));
    EXPECT_TRUE(lossless.format == webp::WebpBitstreamFeatures::Format::lossless && lossless.width == 7 &&
                lossless.height == 5 && lossless.hasAlpha && !lossless.hasAnimation);
    const auto lossy = webp::WebpImageInspector::inspect(encodeRGBA(rgbaPattern(16, 8), 16, 8, false));
    EXPECT_TRUE(lossy.format == webp::WebpBitstreamFeatures::Format::lossy && !lossy.hasAlpha);
    EXPECT_THAT([] { webp::WebpImageInspector::inspect(junk); },
                Throws<webp::WebPError>(Property(&webp::WebPError::message, StartsWith("Error VP8StatusCode="))));
    WebPBitstreamFeatures features{};
    features.format = 3;
    EXPECT_FALSE(webp::WebpBitstreamFeatures::fromRawValue(features));

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
        EXPECT_TRUE(webp::isPremultipliedMode(mode) == bool(WebPIsPremultipliedMode(lib)) &&
                    webp::isAlphaMode(mode) == bool(WebPIsAlphaMode(lib)) && webp::isRGBMode(mode) == bool(WebPIsRGBMode(lib))) << m;
    }
}

TEST(WebpIncrementalDecoder, GrowingSlicesEndInTheFullPicture_BadOrShrinkingDataIsAnError) {
    const webp::Data file = encodeRGBA(rgbaPattern(96, 80, false, true), 96, 80, false);
    auto first = [&](std::size_t n) { return std::vector<std::uint8_t>(file.data(), file.data() + n); };
    webp::WebpIncrementalDecoder dec, bad, shrinking;
    EXPECT_FALSE(dec.incremetallyDecodeData(first(20)).image);
    bool sawPartial = false;
    // Each call gets a fresh buffer and the previous one is gone, as with a growing download.
    for (std::size_t n = 64; n < file.size(); n += file.size() / 7)
        sawPartial = dec.incremetallyDecodeData(first(n)).image || sawPartial;
    EXPECT_TRUE(sawPartial) << "some rows show before the file is complete";
    const auto result = dec.incremetallyDecodeData(first(file.size()));
    ASSERT_TRUE(result.image);
    const platform::Bitmap& b = *result.image->bitmap();
    EXPECT_TRUE(b.alpha() == platform::AlphaMode::straight &&
                std::vector<std::uint8_t>(b.data(), b.data() + b.byteCount()) == libraryDecode(file).rgba);

    EXPECT_THROW(bad.incremetallyDecodeData(junk), platform::PlatformError);
    shrinking.incremetallyDecodeData(first(file.size() * 3 / 4));
    EXPECT_THROW(shrinking.incremetallyDecodeData(first(file.size() / 2)), platform::PlatformError);
}

TEST(WebpRGBAMultiplier, EdgeValuesAndARoundTripOfEveryValidPixel) {
    using M = webp::WebpRGBAMultiplier;
    auto bytes = [](std::uint8_t* owned) {
        std::vector<std::uint8_t> v(owned, owned + 16);
        std::free(owned);
        return v;
    };
    const std::uint8_t in[] = {255, 0, 0, 128, 255, 255, 255, 0, 200, 100, 50, 255, 1, 1, 1, 1};
    EXPECT_EQ(bytes(M::premultiplyBytes(in, 2, 2)), (std::vector<std::uint8_t>{128, 0, 0, 128, 0, 0, 0, 0, 200, 100, 50, 255, 0, 0, 0, 1}));
    // Colour above its alpha is capped; a transparent pixel has no colour left.
    const std::uint8_t premultiplied[] = {128, 0, 0, 128, 10, 20, 30, 0, 200, 100, 50, 255, 200, 0, 1, 100};
    EXPECT_EQ(bytes(M::unpremultiplyBytes(premultiplied, 4, 1)),
              (std::vector<std::uint8_t>{255, 0, 0, 128, 0, 0, 0, 0, 200, 100, 50, 255, 255, 0, 3, 100}));
    EXPECT_FALSE(M::premultiplyBytes(in, 0, 4) || M::unpremultiplyBytes(in, 2, -1) ||
                 M::premultiplyBytes(in, std::int64_t{1} << 40, std::int64_t{1} << 40));

    std::vector<std::uint8_t> all;
    for (int a = 1; a <= 255; ++a)
        for (int c = 0; c <= a; ++c)
            all.insert(all.end(), {std::uint8_t(c), std::uint8_t(c), std::uint8_t(c), std::uint8_t(a)});
    const std::int64_t n = static_cast<std::int64_t>(all.size() / 4);
    const webp::Data data = webp::Data::adopt(static_cast<std::uint8_t*>(std::memcpy(std::malloc(all.size()), all.data(), all.size())), all.size());
    const auto back = M::premultiply(*M::unpremultiply(data, n, 1), n, 1);
    EXPECT_TRUE(back && std::equal(all.begin(), all.end(), back->data()));
    // Data shorter than the sizes claim is refused rather than read past.
    EXPECT_FALSE(M::premultiply(data, n + 1, 1) || M::unpremultiply(data, n, 2));
}

TEST(WebPEncoder, EveryChannelOrderRoundTripsExactly_FromRowsOrFromA32BitBitmap) {
    const int w = 37, h = 23;
    const auto reference = rgbaPattern(w, h, true);
    // map: the memory position of R, G, B and A (-1: not stored).
    auto check = [&](const char* name, int bytesPerPixel, std::array<int, 4> map, auto order) {
        // Rows padded, as many real buffers are; a bitmap always has four bytes a pixel.
        for (bool asBitmap : {false, true}) {
            const int bpp = asBitmap ? 4 : bytesPerPixel, stride = w * bpp + 5;
            std::vector<std::uint8_t> buffer(static_cast<std::size_t>(stride) * h, 0x5a);
            for (int i = 0; i < w * h; ++i)
                for (int c = 0; c < 4; ++c)
                    if (map[c] >= 0)
                        buffer[(i / w) * stride + (i % w) * bpp + map[c]] = reference[i * 4 + c];
            const Decoded d = libraryDecode(
                asBitmap ? WebPEncoder().encode(order, *platform::Bitmap::create(w, h, stride, platform::PixelFormat::RGBA,
                                                                                 platform::AlphaMode::straight, buffer), losslessConfig(), 0, 0)
                         : WebPEncoder().encode(order, buffer.data(), losslessConfig(), w, h, stride, 0, 0));
            ASSERT_TRUE(d.width == w && d.height == h);
            int mismatches = 0;
            for (std::size_t i = 0; i < d.rgba.size(); ++i)
                mismatches += d.rgba[i] != ((i % 4 == 3 && map[3] < 0) ? 255 : reference[i]);
            EXPECT_EQ(mismatches, 0) << name << (asBitmap ? " bitmap" : " rows");
        }
    };
    check("RGB", 3, {0, 1, 2, -1}, webp::RGB), check("RGBA", 4, {0, 1, 2, 3}, webp::RGBA), check("RGBX", 4, {0, 1, 2, -1}, webp::RGBX);
    check("BGR", 3, {2, 1, 0, -1}, webp::BGR), check("BGRA", 4, {2, 1, 0, 3}, webp::BGRA), check("BGRX", 4, {2, 1, 0, -1}, webp::BGRX);
}

TEST(WebPEncoder, RawMembersIgnoreResizes_TheImageMemberEncodesPointsInStraightColour) {
    const auto smooth = rgbaPattern(300, 200, false, true);
    const webp::Data file = WebPEncoder().encode(webp::RGBA, smooth.data(), WebpEncoderConfig::preset(Preset::picture, 90),
                                                 300, 200, 1200, 100, 100);
    // Copies share the encoder's buffer; the resize is the image member's alone.
    const Decoded d = libraryDecode(file);
    EXPECT_TRUE(webp::Data(file).data() == file.data() && d.width == 300 && d.height == 200);

    const auto premultiplied = flatBitmap(40, 30, 100, 50, 25, 128, platform::AlphaMode::premultiplied);
    Decoded image = libraryDecode(WebPEncoder().encode(platform::Image(premultiplied), losslessConfig(), 0, 0));
    EXPECT_TRUE(image.width == 40 && image.height == 30 &&
                std::vector<std::uint8_t>(image.rgba.begin(), image.rgba.begin() + 4) == (std::vector<std::uint8_t>{199, 100, 50, 255}));
    const auto retina = flatBitmap(80, 60, 10, 20, 30, 255);
    image = libraryDecode(WebPEncoder().encode(platform::Image(retina, QSizeF(40, 30)), losslessConfig(), 0, 0));
    EXPECT_TRUE(image.width == 40 && image.rgba[(15 * 40 + 20) * 4 + 2] == 30);
    for (const platform::Image& bad : {platform::Image(), platform::Image(retina, QSizeF(0.5, 30))})
        EXPECT_THROW(WebPEncoder().encode(bad, losslessConfig(), 0, 0), webp::WebPError);

    const auto drawn = webp::convertUIImageToCGImageWithRGBA(platform::Image(flatBitmap(200, 100, 255, 0, 0, 128), QSizeF(100, 50)));
    EXPECT_TRUE(drawn->width() == 100 && drawn->alpha() == platform::AlphaMode::premultiplied && std::abs(drawn->row(25)[50 * 4] - 128) <= 1);
    EXPECT_THROW(webp::convertUIImageToCGImageWithRGBA(platform::Image()), webp::WebPError);
}

TEST(WebPEncoder, BadConfigsAreRefusedBeforeAnyPixelIsRead_BadPicturesWithoutData) {
    // A page that faults on any read proves the pixels were never touched.
    const std::size_t pageSize = std::size_t(sysconf(_SC_PAGESIZE));
    void* page = mmap(nullptr, pageSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    const auto* unreadable = static_cast<const std::uint8_t*>(page);
    const WebPEncoder enc;
    auto config = WebpEncoderConfig::preset(Preset::picture, 101);
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGBA, unreadable, config, 16, 16, 64, 0, 0); }), Case::invalidParameter);
    config = WebpEncoderConfig::preset(Preset::picture, 90);
    config.method = (std::int64_t{1} << 32) + 4;  // would wrap to the valid method 4
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGB, unreadable, config, 16, 16, 48, 0, 0); }), Case::invalidParameter);
    config.method = 4;
    config.targetSize = -1;
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGBA, *flatBitmap(4, 4, 1, 2, 3, 255), config, 0, 0); }),
              Case::invalidParameter);
    munmap(page, pageSize);

    // Wider than the library's largest side: refused by the encode with its status.
    config.targetSize = 0;
    std::vector<std::uint8_t> wide(20000 * 4, 0x80);
    try {
        enc.encode(webp::RGBA, wide.data(), config, 20000, 1, 20000 * 4, 0, 0);
        ADD_FAILURE() << "encoded";
    } catch (const webp::WebPEncodeStatusCode& e) {
        EXPECT_EQ(e.errorCode(), int(webp::WebPEncodeStatus::badDimension));
    }
    EXPECT_FALSE(webp::WebPEncodeStatusCode::fromRawValue(12));
    // Sizes beyond 32 bits must not wrap into a one-pixel picture.
    const std::uint8_t pixel[4] = {1, 2, 3, 255};
    for (auto [width, stride] : {std::pair<std::int64_t, std::int64_t>{(std::int64_t{1} << 32) + 1, 4},
                                 {1, (std::int64_t{1} << 32) + 4}, {0, 4}})
        EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGBA, pixel, config, width, 1, stride, 0, 0); }), Case::versionMismatched);
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGBA, nullptr, config, 1, 1, 4, 0, 0); }), Case::versionMismatched);
}

TEST(WebpEncoderConfig, EachPresetIsTheLibrarysAndTheRecordTravelsBothWaysWithoutWrapping) {
    const std::pair<Preset, WebPPreset> presets[] = {
        {Preset::default_, WEBP_PRESET_DEFAULT}, {Preset::picture, WEBP_PRESET_PICTURE}, {Preset::photo, WEBP_PRESET_PHOTO},
        {Preset::drawing, WEBP_PRESET_DRAWING}, {Preset::icon, WEBP_PRESET_ICON},       {Preset::text, WEBP_PRESET_TEXT}};
    for (auto [ours, theirs] : presets) {
        WebPConfig library;
        WebPConfigPreset(&library, theirs, 63);
        EXPECT_EQ(words(WebpEncoderConfig::preset(ours, 63).rawValue()), words(library)) << int(ours);
    }
    WebpEncoderConfig c = WebpEncoderConfig::preset(Preset::picture, 90);
    c.imageHint = WebpEncoderConfig::WebpImageHint::graph;
    c.useDeltaPalette = true;
    c.qmin = 20;
    WebPConfig raw = c.rawValue();
    EXPECT_TRUE(words(WebpEncoderConfig::fromRawValue(raw)->rawValue()) == words(raw) && raw.image_hint == WEBP_HINT_GRAPH &&
                raw.use_delta_palette == 1 && raw.qmin == 20);
    // A hint outside the four, written as any 32-bit value, gives no config.
    for (int hint : {4, -1}) {
        std::memcpy(&raw.image_hint, &hint, sizeof hint);
        EXPECT_FALSE(WebpEncoderConfig::fromRawValue(raw));
    }
    c.method = (std::int64_t{1} << 32) + 4;
    c.qmin = -(std::int64_t{1} << 33);
    EXPECT_TRUE(!c.fitsRawValue() && c.rawValue().method == INT_MAX && c.rawValue().qmin == INT_MIN);
}

TEST(WebPAnimatedEncoder, FramesDurationsAndLoopsReadBack_RefusedInputLeavesNothingBehind) {
    auto flat = [](int w, std::uint8_t r, std::uint8_t a = 255) { return platform::Image(flatBitmap(w, w, r, 20, 230, a)); };
    webp::WebPAnimatedEncoder enc;
    EXPECT_THROW(enc.addImage(flat(4, 1), 10), webp::WebPAnimatedEncoderStateError);
    EXPECT_THROW(enc.encode(0), webp::WebPAnimatedEncoderStateError);
    enc.create(losslessConfig(), 100, 100);
    enc.addImage(flat(100, 255), 100);
    enc.addImage(flat(200, 10, 128), 40);  // larger: rescaled to the canvas; translucent: straight colour
    // An end time past 32 bits or running backwards is refused before the frame goes in.
    EXPECT_EQ(encoderErrorOf([&] { enc.addImage(flat(100, 4), std::int64_t{1} << 31); }), Case::invalidParameter);
    EXPECT_THROW(enc.addImage(flat(100, 7), -30), webp::WebPEncoderError);
    enc.addImage(flat(100, 90), 70);
    const webp::Data file = enc.encode(3);
    EXPECT_THROW(enc.encode(0), webp::WebPAnimatedEncoderStateError);
    // Canvas size, loop count and the frames' sizes and durations, as a viewer reads them.
    WebPData data{file.data(), file.size()};
    WebPDemuxer* demux = WebPDemux(&data);
    std::vector<int> read{int(WebPDemuxGetI(demux, WEBP_FF_CANVAS_WIDTH)), int(WebPDemuxGetI(demux, WEBP_FF_LOOP_COUNT))};
    WebPIterator it;
    for (bool more = WebPDemuxGetFrame(demux, 1, &it); more; more = WebPDemuxNextFrame(&it))
        read.insert(read.end(), {it.width, it.duration});
    WebPDemuxReleaseIterator(&it);
    WebPDemuxDelete(demux);
    EXPECT_EQ(read, (std::vector<int>{100, 3, 100, 100, 100, 40, 100, 70}));
    WebPAnimDecoder* dec = WebPAnimDecoderNew(&data, nullptr);
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    WebPAnimDecoderGetNext(dec, &canvas, &timestamp);
    WebPAnimDecoderGetNext(dec, &canvas, &timestamp);
    EXPECT_TRUE(canvas[(50 * 100 + 50) * 4] == 10 && canvas[3] == 128);
    WebPAnimDecoderDelete(dec);

    // One frame with loops is still a picture; a loop count past 16 bits fails and ends the animation.
    enc.create(losslessConfig(), 16, 16);
    enc.addImage(flat(16, 30), 100);
    EXPECT_EQ(libraryDecode(enc.encode(2)).rgba[0], 30);
    enc.create(losslessConfig(), 16, 16);
    enc.addImage(flat(16, 1), 100);
    enc.addImage(flat(16, 2), 100);
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(70000); }), Case::invalidParameter);
    EXPECT_THROW(enc.encode(0), webp::WebPAnimatedEncoderStateError);
    auto bad = losslessConfig();
    bad.quality = 300;
    enc.create(bad, 16, 16);
    EXPECT_THROW(enc.addImage(flat(16, 1), 100), webp::WebPEncoderError);
}
