#include "StreamTestSupport.h"

#include "platform/audio/CaptureClock.h"
#include "platform/capture/ShareableContent.h"
#include "platform/core/SerialQueue.h"
#include "platform/stream/X11StreamGrabber.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace platform;
using namespace streamtest;

namespace {

ShareableDisplay displayAt(int nativeX) {
    const ShareableContent content = await(ShareableContent::get(false, true));
    for (const auto& d : content.displays)
        if (d.nativeGeometry.x() == nativeX)
            return d;
    throw std::runtime_error("no display at x=" + std::to_string(nativeX));
}

StreamConfiguration videoConfiguration(qint64 width, qint64 height, int fps = 30) {
    StreamConfiguration c;
    c.width = width;
    c.height = height;
    c.showsCursor = false;
    c.minimumFrameInterval = MediaTime::make(1, fps);
    return c;
}

std::thread::id threadOf(SerialQueue& q) {
    std::thread::id id;
    q.sync([&] { id = std::this_thread::get_id(); });
    return id;
}

// Runs the stream for a while and stops it.
void record(Stream& stream, int ms) {
    await(stream.startCapture());
    spinFor(ms);
    await(stream.stopCapture());
}

// The last frame of a short screen-only stream.
BitmapRef lastFrame(const ContentFilter& filter, const StreamConfiguration& config, int ms = 400,
                    StreamDelegate* delegate = nullptr) {
    Stream stream(filter, config, delegate);
    Collector video;
    stream.addStreamOutput(&video, StreamOutputType::screen, std::make_shared<SerialQueue>("com.zentola.videoCapture"));
    record(stream, ms);
    const auto frames = video.buffers();
    if (frames.empty() || !frames.back().imageBuffer())
        throw std::runtime_error("no frame arrived");
    return frames.back().imageBuffer();
}

}  // namespace

TEST(StreamDisplay, DeliversFramesAtAboutTheRateWithThePaintedPixels) {
    TestWindows windows;
    windows.create(100, 100, 200, 150, 0xd02010);
    const ShareableDisplay a = displayAt(0);
    Delegate delegate;
    Stream stream(ContentFilter::forDisplay(a, {}, {}), videoConfiguration(1920, 1080, 30), &delegate);
    auto queue = std::make_shared<SerialQueue>("com.zentola.videoCapture");
    Collector video;
    stream.addStreamOutput(&video, StreamOutputType::screen, queue);
    const MediaTime before = CaptureClock::now();
    record(stream, 2000);
    const MediaTime after = CaptureClock::now();

    const std::size_t n = video.count();
    EXPECT_GE(n, 40u) << "2 s at 30 fps";
    const auto times = video.times();
    for (std::size_t i = 1; i < times.size(); ++i)
        ASSERT_LT(times[i - 1], times[i]) << "frame " << i;
    EXPECT_LE(before, times.front());
    EXPECT_LE(times.back(), after);
    EXPECT_TRUE(video.allOnThread(threadOf(*queue)));

    const auto frames = video.buffers();
    ASSERT_FALSE(frames.empty());
    const BitmapRef& frame = frames.back().imageBuffer();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width(), 1920);
    EXPECT_EQ(frame->height(), 1080);
    EXPECT_EQ(frame->format(), PixelFormat::BGRA);
    EXPECT_EQ(rgbAt(*frame, 150, 150), 0xd02010u);
    EXPECT_EQ(rgbAt(*frame, 299, 249), 0xd02010u);
    EXPECT_NE(rgbAt(*frame, 301, 251), 0xd02010u);
    EXPECT_EQ(delegate.calls, 0);
    // Nothing arrives once the stop has returned.
    spinFor(200);
    EXPECT_EQ(video.count(), n);
}

TEST(StreamDisplay, ScalesToTheConfiguredSizeAndLeavesThisProcessWindowsOut) {
    TestWindows windows;
    windows.create(0, 0, 960, 1080, 0x2040f0);  // left half blue
    const ShareableDisplay a = displayAt(0);
    const BitmapRef frame = lastFrame(ContentFilter::forDisplay(a, {}, {}), videoConfiguration(960, 540));
    EXPECT_EQ(frame->width(), 960);
    EXPECT_EQ(frame->height(), 540);
    EXPECT_EQ(rgbAt(*frame, 10, 10), 0x2040f0u);
    EXPECT_EQ(rgbAt(*frame, 470, 530), 0x2040f0u);
    EXPECT_NE(rgbAt(*frame, 490, 10), 0x2040f0u);

    // The same display without this process: the blue window is gone from the frames.
    RunningApplication self;
    self.processID = getpid();
    const BitmapRef hidden = lastFrame(ContentFilter::forDisplay(a, {self}, {}), videoConfiguration(1920, 1080));
    EXPECT_NE(rgbAt(*hidden, 100, 100), 0x2040f0u);
}

TEST(StreamDisplay, ARectangleOnTheSecondMonitorHasItsSizeAndContent) {
    TestWindows windows;
    // Global pixels: monitor B starts at x = 1920. The rectangle is (100, 200) 320 x 240 in B's points.
    windows.create(1920 + 150, 260, 40, 30, 0xf0e020);
    const ShareableDisplay b = displayAt(1920);
    StreamConfiguration config = videoConfiguration(320, 240);
    config.sourceRect = QRectF(100, 200, 320, 240);
    const BitmapRef frame = lastFrame(ContentFilter::forDisplay(b, {}, {}), config);
    EXPECT_EQ(frame->width(), 320);
    EXPECT_EQ(frame->height(), 240);
    EXPECT_EQ(rgbAt(*frame, 50, 60), 0xf0e020u);
    EXPECT_EQ(rgbAt(*frame, 89, 89), 0xf0e020u);
    EXPECT_NE(rgbAt(*frame, 49, 60), 0xf0e020u);
    EXPECT_NE(rgbAt(*frame, 10, 10), 0xf0e020u);
}

TEST(StreamDisplay, DrawsTheCursorAtThePointerOnlyWhenAsked) {
    TestWindows windows;
    windows.create(400, 300, 400, 300, 0x808080);
    windows.movePointer(600, 450);
    const ShareableDisplay a = displayAt(0);
    auto changedAround = [](const Bitmap& f, int cx, int cy, int radius) {
        int n = 0;
        for (int y = cy - radius; y <= cy + radius; ++y)
            for (int x = cx - radius; x <= cx + radius; ++x)
                n += rgbAt(f, x, y) != 0x808080u;
        return n;
    };
    for (bool shows : {true, false}) {
        StreamConfiguration config = videoConfiguration(1920, 1080);
        config.showsCursor = shows;
        const BitmapRef frame = lastFrame(ContentFilter::forDisplay(a, {}, {}), config, 300);
        const Bitmap& f = *frame;
        if (shows)
            EXPECT_GT(changedAround(f, 600, 450, 20), 10) << "cursor pixels at the pointer";
        else
            EXPECT_EQ(changedAround(f, 600, 450, 20), 0);
        // Far from the pointer the window is untouched either way.
        EXPECT_EQ(changedAround(f, 450, 340, 20), 0);
    }
}

TEST(StreamWindow, ShowsACoveredWindowsOwnContentAtTheRequestedSize) {
    TestWindows windows;
    const xcb_window_t green = windows.create(500, 300, 300, 200, 0x20c040);
    windows.create(450, 250, 500, 400, 0x3030d0);  // covers it completely
    ShareableWindow w;
    w.windowID = green;
    w.frame = QRectF(500, 300, 300, 200);
    Delegate delegate;
    const BitmapRef frame = lastFrame(ContentFilter::forWindow(w), videoConfiguration(600, 400), 500, &delegate);
    EXPECT_EQ(frame->width(), 600);
    EXPECT_EQ(frame->height(), 400);
    for (auto [x, y] : {std::pair{2, 2}, {300, 200}, {597, 397}})
        EXPECT_EQ(rgbAt(*frame, x, y), 0x20c040u) << x << "," << y;
    EXPECT_EQ(delegate.calls, 0);
}

TEST(StreamWindow, KeepsShowingOnlyTheWindowWhenAnotherComesOverItMidStream) {
    TestWindows windows;
    const xcb_window_t target = windows.create(200, 200, 320, 200, 0xc08030);
    windows.create(520, 200, 100, 200, 0x101010);  // touching its right edge, not over it
    ShareableWindow w;
    w.windowID = target;
    w.frame = QRectF(200, 200, 320, 200);
    Stream stream(ContentFilter::forWindow(w), videoConfiguration(320, 200), nullptr);
    Collector video;
    stream.addStreamOutput(&video, StreamOutputType::screen, std::make_shared<SerialQueue>("com.zentola.videoCapture"));
    await(stream.startCapture());
    ASSERT_TRUE(spinUntil([&] { return video.count() > 2; }));
    const BitmapRef uncovered = video.buffers().back().imageBuffer();
    windows.create(300, 250, 400, 100, 0xe0e0e0);  // now partly over it
    const std::size_t before = video.count();
    ASSERT_TRUE(spinUntil([&] { return video.count() > before + 5; }));
    await(stream.stopCapture());
    const BitmapRef covered = video.buffers().back().imageBuffer();
    for (const BitmapRef& frame : {uncovered, covered}) {
        ASSERT_EQ(frame->width(), 320);
        ASSERT_EQ(frame->height(), 200);
        for (auto [x, y] : {std::pair{0, 0}, {160, 80}, {319, 199}, {150, 100}})
            EXPECT_EQ(rgbAt(*frame, x, y), 0xc08030u) << x << "," << y;
    }
}

TEST(StreamWindow, CoverageIsWorkedOutAgainOnlyWhenTheWindowsChange) {
    TestWindows windows;
    const xcb_window_t other = windows.create(400, 250, 300, 100, 0x2040e0);
    const xcb_window_t target = windows.create(200, 200, 320, 200, 0xa0d020);  // above the other
    ShareableWindow w;
    w.windowID = target;
    w.frame = QRectF(200, 200, 320, 200);
    X11StreamGrabber grabber(ContentFilter::forWindow(w), videoConfiguration(320, 200));
    auto colourAt = [&](int x, int y) {
        const BitmapRef frame = grabber.grab();
        if (!frame)
            throw std::runtime_error("no frame");
        return rgbAt(*frame, x, y);
    };

    EXPECT_EQ(colourAt(250, 100), 0xa0d020u);
    const auto settled = grabber.coverageChecks();
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(colourAt(i * 15, 100), 0xa0d020u);
    EXPECT_LT(grabber.coverageChecks() - settled, 3u) << "nothing changed, yet the windows were listed per frame";

    windows.raise(other);  // now over its right part
    EXPECT_EQ(colourAt(250, 100), 0xa0d020u);
    const auto covered = grabber.coverageChecks();
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(colourAt(310, 60), 0xa0d020u);
    EXPECT_LT(grabber.coverageChecks() - covered, 3u) << "reading a covered window's own pixels lists the windows";

    windows.move(target, 900, 500);  // away from the other, where nothing covers it
    windows.move(other, 100, 100);   // over where it was
    for (auto [x, y] : {std::pair{1, 1}, {160, 100}, {318, 198}})
        EXPECT_EQ(colourAt(x, y), 0xa0d020u) << x << "," << y;

    windows.destroy(target);
    EXPECT_THROW(grabber.grab(), PlatformError);
}

TEST(StreamWindow, AHiddenWindowPausesTheFramesAndAClosedOneEndsTheStream) {
    TestWindows windows;
    const xcb_window_t target = windows.create(100, 600, 200, 100, 0x30a0a0);
    ShareableWindow w;
    w.windowID = target;
    w.frame = QRectF(100, 600, 200, 100);
    Delegate delegate;
    Stream stream(ContentFilter::forWindow(w), videoConfiguration(200, 100, 60), &delegate);
    Collector video;
    stream.addStreamOutput(&video, StreamOutputType::screen, std::make_shared<SerialQueue>("com.zentola.videoCapture"));
    await(stream.startCapture());
    ASSERT_TRUE(spinUntil([&] { return video.count() > 2; }));

    windows.setMapped(target, false);
    // A frame grabbed before the unmap may still be on its way, whatever the load: none is stamped later.
    const MediaTime unmapped = CaptureClock::now();
    spinFor(300);
    const std::size_t hidden = video.count();
    EXPECT_LE(video.times().back(), unmapped) << "no frames of a hidden window";
    EXPECT_EQ(delegate.calls, 0) << "hiding is not an error";

    windows.setMapped(target, true);
    ASSERT_TRUE(spinUntil([&] { return video.count() > hidden + 2; }));
    EXPECT_EQ(rgbAt(*video.buffers().back().imageBuffer(), 100, 50), 0x30a0a0u);

    windows.destroy(target);
    ASSERT_TRUE(spinUntil([&] { return delegate.calls > 0; }));
    EXPECT_TRUE(delegate.onMainThread);
    EXPECT_EQ(delegate.error->domain(), "X11");
    EXPECT_NO_THROW(await(stream.stopCapture()));
}

TEST(StreamOpening, FailsWhenTheSourceCannotBeOpened) {
    ShareableWindow gone;
    gone.windowID = 0x7ffffff;
    gone.frame = QRectF(0, 0, 100, 100);
    Stream windowStream(ContentFilter::forWindow(gone), videoConfiguration(200, 200), nullptr);
    Collector c;
    EXPECT_THROW(windowStream.addStreamOutput(&c, StreamOutputType::screen,
                                              std::make_shared<SerialQueue>("com.zentola.videoCapture")),
                 PlatformError);

    StreamConfiguration config = videoConfiguration(100, 100);
    config.captureMicrophone = true;
    config.microphoneCaptureDeviceID = QStringLiteral("no_such_source");
    Stream micStream(ContentFilter::forDisplay(displayAt(0), {}, {}), config, nullptr);
    try {
        micStream.addStreamOutput(&c, StreamOutputType::microphone,
                                  std::make_shared<SerialQueue>("com.zentola.microphoneCapture"));
        ADD_FAILURE() << "a missing microphone must not open";
    } catch (const PlatformError& e) {
        EXPECT_EQ(e.domain(), "AudioCapture");
        EXPECT_NE(e.description().find("no_such_source"), std::string::npos) << e.description();
    }
    // The stream is still usable for what did open.
    micStream.addStreamOutput(&c, StreamOutputType::screen, std::make_shared<SerialQueue>("com.zentola.videoCapture"));
    EXPECT_THROW(micStream.addStreamOutput(&c, StreamOutputType::screen,
                                           std::make_shared<SerialQueue>("com.zentola.videoCapture")),
                 PlatformError);
    record(micStream, 200);
    EXPECT_GT(c.count(), 0u);
}

namespace {

// Starts a stream with one audio output (and optionally the screen), plays a tone into the sink,
// and returns what the audio output got.
struct AudioRun {
    Collector audio;
    Collector video;
};

void runAudio(AudioRun& run, StreamOutputType type, const QString& sink, bool withVideo) {
    StreamConfiguration config = videoConfiguration(640, 360);
    config.capturesAudio = type == StreamOutputType::audio;
    config.captureMicrophone = type == StreamOutputType::microphone;
    Delegate delegate;
    // The tone runs before the capture starts, so audio flows from the first moment. An idle null
    // sink renders in blocks of up to 2 s and takes the tone's short latency only after the block
    // in progress; a sound card has no such delay.
    Tone tone(sink, 6);
    spinFor(2500);
    Stream stream(ContentFilter::forDisplay(displayAt(0), {}, {}), config, &delegate);
    auto audioQueue = std::make_shared<SerialQueue>(type == StreamOutputType::audio ? "com.zentola.audioCapture"
                                                                                    : "com.zentola.microphoneCapture");
    if (withVideo)
        stream.addStreamOutput(&run.video, StreamOutputType::screen,
                               std::make_shared<SerialQueue>("com.zentola.videoCapture"));
    stream.addStreamOutput(&run.audio, type, audioQueue);
    record(stream, 1500);
    EXPECT_TRUE(run.audio.allOnThread(threadOf(*audioQueue)));
    EXPECT_EQ(delegate.calls, 0);
}

}  // namespace

TEST(StreamAudio, SystemAudioDeliversTheTonePlayingIntoTheDefaultOutput) {
    AudioRun run;
    runAudio(run, StreamOutputType::audio, "zentola_sink", false);
    const auto buffers = run.audio.buffers();
    ASSERT_FALSE(buffers.empty());
    float loudest = 0;
    std::int64_t frames = 0;
    for (const auto& b : buffers) {
        EXPECT_EQ(b.audioFormat(), (SampleBuffer::AudioFormat{AudioSampleFormat::float32, 48000, 2}));
        loudest = std::max(loudest, peak(b));
        frames += b.audioFrameCount();
    }
    EXPECT_GT(loudest, 0.2f);
    EXPECT_GT(frames, 48000 / 2) << "at least half of the 1.5 s";
    for (const auto t : run.audio.types())
        EXPECT_EQ(t, StreamOutputType::audio);
    // Chunks follow one another without overlapping.
    for (std::size_t i = 1; i < buffers.size(); ++i) {
        const double end = buffers[i - 1].presentationTimeStamp().seconds() + buffers[i - 1].duration();
        EXPECT_GE(buffers[i].presentationTimeStamp().seconds() + 1e-6, end) << i;
    }
}

TEST(StreamAudio, MicrophoneDeliversTheToneFedToTheDefaultInput) {
    AudioRun run;
    runAudio(run, StreamOutputType::microphone, "zentola_mic_sink", false);
    const auto buffers = run.audio.buffers();
    ASSERT_FALSE(buffers.empty());
    float loudest = 0;
    for (const auto& b : buffers)
        loudest = std::max(loudest, peak(b));
    EXPECT_GT(loudest, 0.2f);
    for (const auto t : run.audio.types())
        EXPECT_EQ(t, StreamOutputType::microphone);
}

TEST(StreamAudio, AudioAndVideoShareOneClock) {
    AudioRun run;
    runAudio(run, StreamOutputType::audio, "zentola_sink", true);
    const auto audio = run.audio.times();
    const auto video = run.video.times();
    ASSERT_FALSE(audio.empty());
    ASSERT_FALSE(video.empty());
    const double gap = std::abs(audio.front().seconds() - video.front().seconds());
    EXPECT_LT(gap, 0.1) << "first audio " << audio.front().seconds() << " first video " << video.front().seconds();
}
