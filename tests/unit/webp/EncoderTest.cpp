#include "WebpTestPixels.h"

#include "packages/webp/ConvertUIImageToCGImageWithRGBA.h"
#include "packages/webp/WebPAnimatedEncoder.h"
#include "packages/webp/WebPAnimatedEncoderStateError.h"
#include "packages/webp/WebPEncodeStatusCode.h"
#include "packages/webp/WebPEncoderError.h"
#include "packages/webp/WebPError.h"

#include <gtest/gtest.h>
#include <webp/demux.h>

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstring>
#include <functional>

using namespace webptest;
using webp::WebpEncoderConfig;
using webp::WebPEncoder;
using Case = webp::WebPEncoderErrorCase;
using Preset = WebpEncoderConfig::Preset;

namespace {

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

TEST(WebPEncoder, EveryChannelOrderRoundTripsExactly_FromRowsOrFromA32BitBitmap) {
    const int w = 37, h = 23;
    const auto reference = rgbaPattern(w, h, true);
    const auto config = losslessConfig();
    const WebPEncoder enc;
    struct Order {
        const char* name;
        int bpp;
        int map[4];  // memory position of R, G, B, A (-1: not stored)
        std::function<webp::Data(const std::uint8_t*, int)> rows;
        std::function<webp::Data(const platform::Bitmap&)> bitmap;
    };
    auto order = [&](const char* name, int bpp, std::array<int, 4> map, auto tag) {
        return Order{name, bpp, {map[0], map[1], map[2], map[3]},
                     [&, tag](const std::uint8_t* px, int stride) { return enc.encode(tag, px, config, w, h, stride, 0, 0); },
                     [&, tag](const platform::Bitmap& b) { return enc.encode(tag, b, config, 0, 0); }};
    };
    const Order orders[] = {order("RGB", 3, {0, 1, 2, -1}, webp::RGB),   order("RGBA", 4, {0, 1, 2, 3}, webp::RGBA),
                            order("RGBX", 4, {0, 1, 2, -1}, webp::RGBX), order("BGR", 3, {2, 1, 0, -1}, webp::BGR),
                            order("BGRA", 4, {2, 1, 0, 3}, webp::BGRA),  order("BGRX", 4, {2, 1, 0, -1}, webp::BGRX)};
    for (const Order& o : orders) {
        SCOPED_TRACE(o.name);
        const bool alpha = o.map[3] >= 0;
        // Rows padded, as many real buffers are; a bitmap always has four bytes a pixel.
        for (bool asBitmap : {false, true}) {
            const int bpp = asBitmap ? 4 : o.bpp;
            const int stride = w * bpp + 5;
            std::vector<std::uint8_t> buffer(static_cast<std::size_t>(stride) * h, 0x5a);
            for (int i = 0; i < w * h; ++i)
                for (int c = 0; c < 4; ++c)
                    if (o.map[c] >= 0)
                        buffer[(i / w) * stride + (i % w) * bpp + o.map[c]] = reference[i * 4 + c];
            const webp::Data file = !asBitmap ? o.rows(buffer.data(), stride)
                                              : o.bitmap(*platform::Bitmap::create(w, h, stride, platform::PixelFormat::RGBA,
                                                                                       platform::AlphaMode::straight, buffer));
            const Decoded d = libraryDecode(file);
            ASSERT_TRUE(d.width == w && d.height == h);
            int mismatches = 0;
            for (std::size_t i = 0; i < d.rgba.size(); ++i)
                mismatches += d.rgba[i] != ((i % 4 == 3 && !alpha) ? 255 : reference[i]);
            EXPECT_EQ(mismatches, 0) << (asBitmap ? "bitmap" : "rows");
        }
    }
}

TEST(WebPEncoder, AFileIsWholeAndCloseWhenLossy_ResizesAreIgnored_TheImageMemberEncodesPointsInStraightColour) {
    const auto smooth = rgbaPattern(300, 200, false, true);
    const webp::Data file = WebPEncoder().encode(webp::RGBA, smooth.data(), WebpEncoderConfig::preset(Preset::picture, 90),
                                                 300, 200, 1200, 100, 100);
    ASSERT_GE(file.size(), 20u);
    EXPECT_TRUE(std::memcmp(file.data(), "RIFF", 4) == 0 && std::memcmp(file.data() + 8, "WEBP", 4) == 0);
    std::uint32_t riffSize = 0;
    std::memcpy(&riffSize, file.data() + 4, 4);
    EXPECT_EQ(riffSize + 8, file.size());
    // Copies share the encoder's buffer.
    EXPECT_EQ(webp::Data(file).data(), file.data());
    const Decoded d = libraryDecode(file);
    ASSERT_TRUE(d.width == 300 && d.height == 200);
    long total = 0;
    for (std::size_t i = 0; i < smooth.size(); ++i)
        total += std::abs(int(d.rgba[i]) - int(smooth[i]));
    EXPECT_LT(double(total) / smooth.size(), 2.0);
    EXPECT_NE(d.rgba, smooth);

    const auto premultiplied = flatBitmap(40, 30, 100, 50, 25, 128, platform::AlphaMode::premultiplied);
    Decoded image = libraryDecode(WebPEncoder().encode(platform::Image(premultiplied), losslessConfig(), 0, 0));
    EXPECT_TRUE(image.width == 40 && image.height == 30);
    EXPECT_EQ(std::vector<std::uint8_t>(image.rgba.begin(), image.rgba.begin() + 4), (std::vector<std::uint8_t>{199, 100, 50, 255}));
    const auto retina = flatBitmap(80, 60, 10, 20, 30, 255);
    image = libraryDecode(WebPEncoder().encode(platform::Image(retina, QSizeF(40, 30)), losslessConfig(), 0, 0));
    EXPECT_TRUE(image.width == 40 && image.rgba[(15 * 40 + 20) * 4 + 2] == 30);
    try {
        WebPEncoder().encode(platform::Image(), losslessConfig(), 0, 0);
        ADD_FAILURE() << "a null image encoded";
    } catch (const webp::WebPError& e) {
        EXPECT_EQ(e.message(), "Given image doesn't support TIFF representation.");
    }
    EXPECT_THROW(WebPEncoder().encode(platform::Image(retina, QSizeF(0.5, 30)), losslessConfig(), 0, 0), webp::WebPError);

    const auto drawn = webp::convertUIImageToCGImageWithRGBA(platform::Image(flatBitmap(200, 100, 255, 0, 0, 128), QSizeF(100, 50)));
    EXPECT_TRUE(drawn->width() == 100 && drawn->alpha() == platform::AlphaMode::premultiplied);
    EXPECT_NEAR(drawn->row(25)[50 * 4], 128, 1);
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
        EXPECT_TRUE(e.errorCase() == webp::WebPEncodeStatus::badDimension && e.errorCode() == 5);
        EXPECT_EQ(e.plainText(), "badDimension");
    }
    EXPECT_FALSE(webp::WebPEncodeStatusCode::fromRawValue(-1) || webp::WebPEncodeStatusCode::fromRawValue(12));
    // Sizes beyond 32 bits must not wrap into a one-pixel picture.
    const std::uint8_t pixel[4] = {1, 2, 3, 255};
    for (auto [width, stride] : {std::pair<std::int64_t, std::int64_t>{(std::int64_t{1} << 32) + 1, 4},
                                 {1, (std::int64_t{1} << 32) + 4}, {0, 4}})
        EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGBA, pixel, config, width, 1, stride, 0, 0); }), Case::versionMismatched);
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(webp::RGBA, nullptr, config, 1, 1, 4, 0, 0); }), Case::versionMismatched);
}

TEST(WebpEncoderConfig, PresetsAreTheLibrarysAndTheRecordTravelsBothWaysWithoutWrapping) {
    const std::pair<Preset, WebPPreset> presets[] = {
        {Preset::default_, WEBP_PRESET_DEFAULT}, {Preset::picture, WEBP_PRESET_PICTURE}, {Preset::photo, WEBP_PRESET_PHOTO},
        {Preset::drawing, WEBP_PRESET_DRAWING}, {Preset::icon, WEBP_PRESET_ICON},       {Preset::text, WEBP_PRESET_TEXT}};
    for (auto [ours, theirs] : presets) {
        WebPConfig library;
        WebPConfigPreset(&library, theirs, 63);
        EXPECT_EQ(words(WebpEncoderConfig::preset(ours, 63).rawValue()), words(library)) << int(ours);
    }
    WebpEncoderConfig c = WebpEncoderConfig::preset(Preset::picture, 90);
    EXPECT_TRUE(c.quality == 90.0f && c.snsStrength == 80 && c.filterSharpness == 4 && c.filterStrength == 35);
    c.imageHint = WebpEncoderConfig::WebpImageHint::graph;
    c.useDeltaPalette = true;
    c.qmin = 20;
    WebPConfig raw = c.rawValue();
    EXPECT_EQ(words(WebpEncoderConfig::fromRawValue(raw)->rawValue()), words(raw));
    EXPECT_TRUE(raw.image_hint == WEBP_HINT_GRAPH && raw.use_delta_palette == 1 && raw.qmin == 20);
    // A hint outside the four, written as any 32-bit value, gives no config.
    for (int hint : {4, -1}) {
        std::memcpy(&raw.image_hint, &hint, sizeof hint);
        EXPECT_FALSE(WebpEncoderConfig::fromRawValue(raw));
    }
    static_assert(webp::webpImageHintLiteral(3) == WEBP_HINT_GRAPH);
    c.method = (std::int64_t{1} << 32) + 4;
    c.qmin = -(std::int64_t{1} << 33);
    EXPECT_FALSE(c.fitsRawValue());
    EXPECT_TRUE(c.rawValue().method == INT_MAX && c.rawValue().qmin == INT_MIN);
}

TEST(WebPAnimatedEncoder, FramesDurationsAndLoopsReadBack_RefusedInputLeavesNothingBehind) {
    auto flat = [](int w, int h, std::uint8_t r, std::uint8_t a = 255) { return platform::Image(flatBitmap(w, h, r, 20, 230, a)); };
    // Canvas size, loop count and the frames' sizes and durations, as a viewer reads them.
    auto demux = [](const webp::Data& file) {
        std::vector<int> out;
        WebPData data{file.data(), file.size()};
        WebPDemuxer* d = WebPDemux(&data);
        out = {int(WebPDemuxGetI(d, WEBP_FF_CANVAS_WIDTH)), int(WebPDemuxGetI(d, WEBP_FF_LOOP_COUNT))};
        WebPIterator it;
        for (bool more = WebPDemuxGetFrame(d, 1, &it); more; more = WebPDemuxNextFrame(&it))
            out.insert(out.end(), {it.width, it.duration});
        WebPDemuxReleaseIterator(&it);
        WebPDemuxDelete(d);
        return out;
    };
    webp::WebPAnimatedEncoder enc;
    EXPECT_THROW(enc.addImage(flat(4, 4, 1), 10), webp::WebPAnimatedEncoderStateError);
    EXPECT_THROW(enc.encode(0), webp::WebPAnimatedEncoderStateError);
    enc.create(losslessConfig(), 100, 100);
    enc.addImage(flat(100, 100, 255), 100);
    enc.addImage(flat(200, 200, 10, 128), 40);  // larger: rescaled to the canvas; translucent: straight colour
    // An end time past 32 bits or running backwards is refused before the frame goes in.
    EXPECT_EQ(encoderErrorOf([&] { enc.addImage(flat(100, 100, 4), std::int64_t{1} << 31); }), Case::invalidParameter);
    EXPECT_THROW(enc.addImage(flat(100, 100, 7), -30), webp::WebPEncoderError);
    enc.addImage(flat(100, 100, 90), 70);
    const webp::Data file = enc.encode(3);
    EXPECT_EQ(demux(file), (std::vector<int>{100, 3, 100, 100, 100, 40, 100, 70}));
    WebPData data{file.data(), file.size()};
    WebPAnimDecoder* dec = WebPAnimDecoderNew(&data, nullptr);
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    WebPAnimDecoderGetNext(dec, &canvas, &timestamp);
    WebPAnimDecoderGetNext(dec, &canvas, &timestamp);
    EXPECT_TRUE(canvas[(50 * 100 + 50) * 4] == 10 && canvas[3] == 128);
    WebPAnimDecoderDelete(dec);
    EXPECT_THROW(enc.encode(0), webp::WebPAnimatedEncoderStateError);

    // One frame with loops is still a picture; a loop count past 16 bits fails and ends the animation.
    enc.create(losslessConfig(), 16, 16);
    enc.addImage(flat(16, 16, 30), 100);
    EXPECT_EQ(libraryDecode(enc.encode(2)).rgba[0], 30);
    enc.create(losslessConfig(), 16, 16);
    enc.addImage(flat(16, 16, 1), 100);
    enc.addImage(flat(16, 16, 2), 100);
    EXPECT_EQ(encoderErrorOf([&] { enc.encode(70000); }), Case::invalidParameter);
    EXPECT_THROW(enc.encode(0), webp::WebPAnimatedEncoderStateError);
    auto bad = losslessConfig();
    bad.quality = 300;
    enc.create(bad, 16, 16);
    EXPECT_THROW(enc.addImage(flat(16, 16, 1), 100), webp::WebPEncoderError);
}
