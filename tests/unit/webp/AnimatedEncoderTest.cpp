#include "WebpTestPixels.h"

#include "packages/webp/WebPAnimatedEncoder.h"
#include "packages/webp/WebPAnimatedEncoderStateError.h"
#include "packages/webp/WebPEncoderError.h"

#include <gtest/gtest.h>

#include <webp/demux.h>

using namespace webptest;
using webp::WebPAnimatedEncoder;
using webp::WebpEncoderConfig;

namespace {

struct Frame {
    int width, height, duration;
};

struct Animation {
    int canvasWidth = 0, canvasHeight = 0, loopCount = -1;
    std::vector<Frame> frames;
};

// Reads the file back through the demux API, as any viewer would.
Animation demux(const webp::Data& file) {
    Animation a;
    WebPData data{file.data(), file.size()};
    WebPDemuxer* d = WebPDemux(&data);
    if (!d) {
        ADD_FAILURE() << "not a WebP container";
        return a;
    }
    a.canvasWidth = static_cast<int>(WebPDemuxGetI(d, WEBP_FF_CANVAS_WIDTH));
    a.canvasHeight = static_cast<int>(WebPDemuxGetI(d, WEBP_FF_CANVAS_HEIGHT));
    a.loopCount = static_cast<int>(WebPDemuxGetI(d, WEBP_FF_LOOP_COUNT));
    WebPIterator it;
    if (WebPDemuxGetFrame(d, 1, &it)) {
        do
            a.frames.push_back({it.width, it.height, it.duration});
        while (WebPDemuxNextFrame(&it));
        WebPDemuxReleaseIterator(&it);
    }
    WebPDemuxDelete(d);
    return a;
}

// The first frame's canvas as straight RGBA.
std::vector<std::uint8_t> firstCanvas(const webp::Data& file, int w, int h) {
    WebPAnimDecoderOptions opts;
    WebPAnimDecoderOptionsInit(&opts);
    opts.color_mode = MODE_RGBA;
    WebPData data{file.data(), file.size()};
    WebPAnimDecoder* dec = WebPAnimDecoderNew(&data, &opts);
    std::vector<std::uint8_t> out;
    std::uint8_t* buf = nullptr;
    int ts = 0;
    if (dec && WebPAnimDecoderGetNext(dec, &buf, &ts))
        out.assign(buf, buf + static_cast<std::size_t>(w) * h * 4);
    WebPAnimDecoderDelete(dec);
    return out;
}

platform::Image flat(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
    return platform::Image(flatBitmap(w, h, r, g, b, a));
}

}  // namespace

TEST(WebPAnimatedEncoder, FramesDurationsAndLoopCountReadBack) {
    WebPAnimatedEncoder enc;
    enc.create(WebpEncoderConfig::preset(WebpEncoderConfig::Preset::picture, 80), 100, 100);
    enc.addImage(flat(100, 100, 255, 0, 0), 100);
    enc.addImage(flat(100, 100, 0, 255, 0), 100);
    enc.addImage(flat(100, 100, 0, 0, 255), 100);
    const Animation endless = demux(enc.encode(0));
    EXPECT_EQ(endless.canvasWidth, 100);
    EXPECT_EQ(endless.canvasHeight, 100);
    EXPECT_EQ(endless.loopCount, 0);
    ASSERT_EQ(endless.frames.size(), 3u);
    int total = 0;
    for (const Frame& f : endless.frames) {
        EXPECT_EQ(f.duration, 100);
        total += f.duration;
    }
    EXPECT_EQ(total, 300);

    enc.create(losslessConfig(), 32, 16);
    enc.addImage(flat(32, 16, 9, 9, 9), 40);
    enc.addImage(flat(32, 16, 200, 9, 9), 70);
    const Animation thrice = demux(enc.encode(3));
    EXPECT_EQ(thrice.loopCount, 3);
    ASSERT_EQ(thrice.frames.size(), 2u);
    EXPECT_EQ(thrice.frames[0].duration, 40);
    EXPECT_EQ(thrice.frames[1].duration, 70);
}

TEST(WebPAnimatedEncoder, OperationsOutsideAnOpenAnimationAreStateErrors) {
    WebPAnimatedEncoder enc;
    EXPECT_THROW(enc.addImage(flat(4, 4, 1, 2, 3), 10), webp::WebPAnimatedEncoderStateError);
    EXPECT_THROW(enc.encode(0), webp::WebPAnimatedEncoderStateError);
    enc.create(losslessConfig(), 4, 4);
    enc.addImage(flat(4, 4, 1, 2, 3), 10);
    EXPECT_FALSE(enc.encode(0).empty());
    EXPECT_THROW(enc.encode(0), webp::WebPAnimatedEncoderStateError);
    EXPECT_THROW(enc.addImage(flat(4, 4, 1, 2, 3), 10), webp::WebPAnimatedEncoderStateError);
}

TEST(WebPAnimatedEncoder, LargerFramesAreRescaledToTheCanvas) {
    WebPAnimatedEncoder enc;
    enc.create(losslessConfig(), 100, 100);
    enc.addImage(flat(200, 200, 10, 120, 230), 50);
    const webp::Data file = enc.encode(0);
    const Animation a = demux(file);
    ASSERT_EQ(a.frames.size(), 1u);
    EXPECT_EQ(a.frames[0].width, 100);
    EXPECT_EQ(a.frames[0].height, 100);
    const auto canvas = firstCanvas(file, 100, 100);
    ASSERT_EQ(canvas.size(), 100u * 100 * 4);
    EXPECT_EQ(canvas[(50 * 100 + 50) * 4 + 0], 10);
    EXPECT_EQ(canvas[(50 * 100 + 50) * 4 + 2], 230);
}

TEST(WebPAnimatedEncoder, TranslucentFramesKeepTheirColour) {
    WebPAnimatedEncoder enc;
    enc.create(losslessConfig(), 8, 8);
    enc.addImage(flat(8, 8, 255, 0, 0, 128), 100);
    const auto canvas = firstCanvas(enc.encode(0), 8, 8);
    ASSERT_EQ(canvas.size(), 8u * 8 * 4);
    EXPECT_EQ(canvas[0], 255) << "stored as straight alpha, not darkened by premultiplication";
    EXPECT_EQ(canvas[3], 128);
}

TEST(WebPAnimatedEncoder, RefusedFramesAndLoopCountsLeaveNothingBehind) {
    WebPAnimatedEncoder enc;
    enc.create(losslessConfig(), 16, 16);
    enc.addImage(flat(16, 16, 1, 2, 3), 100);
    enc.addImage(flat(16, 16, 90, 2, 3), 50);
    // A duration whose end time does not fit 32 bits is refused before the frame goes in.
    try {
        enc.addImage(flat(16, 16, 4, 5, 6), std::int64_t{1} << 31);
        ADD_FAILURE() << "frame added";
    } catch (const webp::WebPEncoderError& e) {
        EXPECT_EQ(e.errorCase(), webp::WebPEncoderErrorCase::invalidParameter);
    }
    // A negative duration would run the clock backwards and leave nothing that could be closed.
    EXPECT_THROW(enc.addImage(flat(16, 16, 7, 8, 9), -30), webp::WebPEncoderError);
    enc.addImage(flat(16, 16, 90, 200, 3), 20);
    const Animation a = demux(enc.encode(0));
    ASSERT_EQ(a.frames.size(), 3u);
    EXPECT_EQ(a.frames[0].duration, 100);
    EXPECT_EQ(a.frames[1].duration, 50);
    EXPECT_EQ(a.frames[2].duration, 20);

    auto bad = losslessConfig();
    bad.quality = 300;  // refused by the library per frame
    enc.create(bad, 16, 16);
    EXPECT_THROW(enc.addImage(flat(16, 16, 1, 2, 3), 100), webp::WebPEncoderError);

    // The format's loop count is 16 bits: a larger one fails and the animation is gone.
    enc.create(losslessConfig(), 16, 16);
    enc.addImage(flat(16, 16, 1, 2, 3), 100);
    enc.addImage(flat(16, 16, 1, 200, 3), 100);
    try {
        enc.encode(70000);
        ADD_FAILURE() << "loop count written";
    } catch (const webp::WebPEncoderError& e) {
        EXPECT_EQ(e.errorCase(), webp::WebPEncoderErrorCase::invalidParameter);
    }
    EXPECT_THROW(enc.encode(0), webp::WebPAnimatedEncoderStateError);
}

TEST(WebPAnimatedEncoder, ASingleFrameWithALoopCountIsStillAFile) {
    // One frame is assembled as a still picture; asking for loops must not lose it.
    WebPAnimatedEncoder enc;
    enc.create(losslessConfig(), 16, 16);
    enc.addImage(flat(16, 16, 30, 60, 90), 100);
    const webp::Data file = enc.encode(2);
    const Decoded d = libraryDecode(file);
    ASSERT_EQ(d.width, 16);
    EXPECT_EQ(d.rgba[1], 60);
}
