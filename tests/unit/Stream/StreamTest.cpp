#include "platform/core/MainThread.h"
#include "platform/core/SerialQueue.h"
#include "platform/stream/FrameScaler.h"
#include "platform/stream/Stream.h"
#include "platform/stream/StreamSource.h"
#include "platform/stream/VideoCapture.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

using namespace platform;

namespace {

bool spinUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return pred();
}

void run(QCoro::Task<void>&& task) {
    bool done = false;
    std::exception_ptr error;
    auto wrapper = [&]() -> QCoro::Task<void> {
        try {
            co_await std::move(task);
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    };
    auto t = wrapper();
    ASSERT_TRUE(spinUntil([&] { return done; }));
    if (error)
        std::rethrow_exception(error);
}

BitmapRef solid(int w, int h, std::uint32_t bgra) {
    std::vector<std::uint8_t> px(std::size_t(w) * h * 4);
    for (std::size_t i = 0; i < px.size(); i += 4)
        std::memcpy(&px[i], &bgra, 4);
    return Bitmap::create(w, h, w * 4, PixelFormat::BGRA, AlphaMode::opaque, std::move(px));
}

// A source the test drives by hand from a thread of its own.
struct FakeSource : StreamSource {
    SampleHandler onSample;
    FailureHandler onFailure;
    std::atomic<bool> started{false};
    std::atomic<int> stops{0};
    void start() override { started = true; }
    void stop() override { ++stops; }
    void push(SampleBuffer b) {
        std::thread([this, b] { onSample(b); }).join();
    }
    void die(const std::string& why) {
        std::thread([this, why] { onFailure(PlatformError("Fake", 7, why)); }).join();
    }
};

struct FakeFactory : StreamSourceFactory {
    std::map<StreamOutputType, FakeSource*> made;
    std::optional<StreamOutputType> refuse;
    std::unique_ptr<StreamSource> makeSource(StreamOutputType type, const ContentFilter&, const StreamConfiguration&,
                                             StreamSource::SampleHandler onSample,
                                             StreamSource::FailureHandler onFailure) override {
        if (refuse == type)
            throw PlatformError("Fake", 1, "cannot open");
        auto s = std::make_unique<FakeSource>();
        s->onSample = std::move(onSample);
        s->onFailure = std::move(onFailure);
        made[type] = s.get();
        return s;
    }
};

struct Recorder : StreamOutput, StreamDelegate {
    std::mutex mutex;
    std::vector<std::pair<StreamOutputType, std::thread::id>> got;
    int stops = 0;
    bool stopOnMain = false;
    std::string stopReason;
    void didOutputSampleBuffer(Stream&, const SampleBuffer&, StreamOutputType type) override {
        std::lock_guard lock(mutex);
        got.emplace_back(type, std::this_thread::get_id());
    }
    void didStopWithError(Stream&, const PlatformError& e) override {
        ++stops;
        stopOnMain = isMainThread();
        stopReason = e.description();
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return got.size();
    }
};

class StreamWithFakes : public ::testing::Test {
protected:
    void SetUp() override {
        factory = std::make_shared<FakeFactory>();
        StreamSourceFactory::install(factory);
        config.capturesAudio = true;
        display.nativeGeometry = QRect(0, 0, 100, 100);
    }
    void TearDown() override { StreamSourceFactory::install(nullptr); }

    std::shared_ptr<FakeFactory> factory;
    StreamConfiguration config;
    ShareableDisplay display;
    Recorder recorder;
};

std::thread::id threadOf(SerialQueue& q) {
    std::thread::id id;
    q.sync([&] { id = std::this_thread::get_id(); });
    return id;
}

}  // namespace

TEST_F(StreamWithFakes, DeliversEachOutputsBuffersOnItsOwnQueueOnlyWhileRunning) {
    Stream stream(ContentFilter::forDisplay(display, {}, {}), config, &recorder);
    auto videoQueue = std::make_shared<SerialQueue>("com.zentola.videoCapture");
    auto audioQueue = std::make_shared<SerialQueue>("com.zentola.audioCapture");
    stream.addStreamOutput(&recorder, StreamOutputType::screen, videoQueue);
    stream.addStreamOutput(&recorder, StreamOutputType::audio, audioQueue);
    // The microphone is not captured by this configuration: its output opens nothing.
    stream.addStreamOutput(&recorder, StreamOutputType::microphone,
                           std::make_shared<SerialQueue>("com.zentola.microphoneCapture"));
    EXPECT_EQ(factory->made.count(StreamOutputType::microphone), 0u);
    FakeSource* video = factory->made.at(StreamOutputType::screen);
    FakeSource* audio = factory->made.at(StreamOutputType::audio);

    video->push(SampleBuffer::video(solid(2, 2, 0), MediaTime::fromNanoseconds(1)));  // before the start: dropped
    run(stream.startCapture());
    EXPECT_TRUE(video->started && audio->started);
    video->push(SampleBuffer::video(solid(2, 2, 0), MediaTime::fromNanoseconds(2)));
    audio->push(SampleBuffer::audio(std::vector<std::uint8_t>(64), {}, MediaTime::fromNanoseconds(3)));
    run(stream.stopCapture());
    // The stop waited for both queues: everything handed over before it has arrived.
    ASSERT_EQ(recorder.count(), 2u);
    for (auto& [type, thread] : recorder.got)
        EXPECT_EQ(thread, type == StreamOutputType::screen ? threadOf(*videoQueue) : threadOf(*audioQueue));
    EXPECT_EQ(video->stops, 1);
    EXPECT_EQ(audio->stops, 1);
    video->push(SampleBuffer::video(solid(2, 2, 0), MediaTime::fromNanoseconds(4)));
    spinUntil([] { return false; }, 50);
    EXPECT_EQ(recorder.count(), 2u);
    EXPECT_EQ(recorder.stops, 0);
    // Stopping twice is harmless.
    run(stream.stopCapture());
    EXPECT_EQ(video->stops, 1);
}

TEST_F(StreamWithFakes, ASlowScreenConsumerGetsNoBacklogWhileSoundIsKept) {
    struct Slow : Recorder {
        std::atomic<bool> open{false};
        void didOutputSampleBuffer(Stream& s, const SampleBuffer& b, StreamOutputType t) override {
            while (!open)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            Recorder::didOutputSampleBuffer(s, b, t);
        }
    } slow;
    Stream stream(ContentFilter::forDisplay(display, {}, {}), config, &slow);
    stream.addStreamOutput(&slow, StreamOutputType::screen, std::make_shared<SerialQueue>("v"));
    stream.addStreamOutput(&slow, StreamOutputType::audio, std::make_shared<SerialQueue>("a"));
    run(stream.startCapture());
    for (int i = 0; i < 10; ++i) {
        factory->made.at(StreamOutputType::screen)->push(SampleBuffer::video(solid(2, 2, 0), MediaTime::fromNanoseconds(i + 1)));
        factory->made.at(StreamOutputType::audio)->push(SampleBuffer::audio(std::vector<std::uint8_t>(8), {}, MediaTime::fromNanoseconds(i + 1)));
    }
    slow.open = true;
    run(stream.stopCapture());
    int frames = 0, chunks = 0;
    for (auto& [type, thread] : slow.got)
        (type == StreamOutputType::screen ? frames : chunks)++;
    EXPECT_EQ(frames, Stream::maxPendingFrames);
    EXPECT_EQ(chunks, 10);
}

TEST_F(StreamWithFakes, RefusesOutputsItCannotServe) {
    Stream stream(ContentFilter::forDisplay(display, {}, {}), config, &recorder);
    auto q = std::make_shared<SerialQueue>("q");
    factory->refuse = StreamOutputType::audio;
    EXPECT_THROW(stream.addStreamOutput(&recorder, StreamOutputType::audio, q), PlatformError);
    EXPECT_THROW(stream.addStreamOutput(nullptr, StreamOutputType::screen, q), PlatformError);
    stream.addStreamOutput(&recorder, StreamOutputType::screen, q);
    EXPECT_THROW(stream.addStreamOutput(&recorder, StreamOutputType::screen, q), PlatformError);
    run(stream.startCapture());
    EXPECT_THROW(stream.addStreamOutput(&recorder, StreamOutputType::microphone, q), PlatformError);
    EXPECT_THROW(run(stream.startCapture()), PlatformError);
    run(stream.stopCapture());
}

TEST_F(StreamWithFakes, ADyingSourceStopsEverySourceAndTellsTheDelegateOnceOnTheMainThread) {
    Stream stream(ContentFilter::forDisplay(display, {}, {}), config, &recorder);
    stream.addStreamOutput(&recorder, StreamOutputType::screen, std::make_shared<SerialQueue>("v"));
    stream.addStreamOutput(&recorder, StreamOutputType::audio, std::make_shared<SerialQueue>("a"));
    FakeSource* video = factory->made.at(StreamOutputType::screen);
    FakeSource* audio = factory->made.at(StreamOutputType::audio);
    run(stream.startCapture());
    audio->die("sound server gone");
    video->die("and then the X server");
    ASSERT_TRUE(spinUntil([&] { return recorder.stops > 0; }));
    EXPECT_TRUE(recorder.stopOnMain);
    EXPECT_EQ(recorder.stopReason, "sound server gone");
    EXPECT_EQ(video->stops, 1);
    EXPECT_EQ(audio->stops, 1);
    video->push(SampleBuffer::video(solid(2, 2, 0), MediaTime::fromNanoseconds(5)));
    run(stream.stopCapture());  // after a failure the stop neither fails nor stops twice
    spinUntil([] { return false; }, 50);
    EXPECT_EQ(recorder.stops, 1);
    EXPECT_EQ(recorder.count(), 0u);
    EXPECT_EQ(video->stops, 1);
}

TEST_F(StreamWithFakes, AFailureBeforeTheStartFailsTheStartAndADestroyedStreamTellsNoOne) {
    {
        Stream stream(ContentFilter::forDisplay(display, {}, {}), config, &recorder);
        stream.addStreamOutput(&recorder, StreamOutputType::audio, std::make_shared<SerialQueue>("a"));
        factory->made.at(StreamOutputType::audio)->die("unplugged");
        EXPECT_THROW(run(stream.startCapture()), PlatformError);
    }
    {
        Stream stream(ContentFilter::forDisplay(display, {}, {}), config, &recorder);
        stream.addStreamOutput(&recorder, StreamOutputType::screen, std::make_shared<SerialQueue>("v"));
        FakeSource* video = factory->made.at(StreamOutputType::screen);
        run(stream.startCapture());
        video->die("gone");
        // The stream goes before the main thread hears of it.
    }
    spinUntil([] { return false; }, 100);
    EXPECT_EQ(recorder.stops, 0);
}

// An output may let its stream go from its own queue; the stream's last holder is then that
// queue's job, and the queue must still be let go of on another thread, not joined from itself.
TEST_F(StreamWithFakes, AStreamReleasedFromItsOwnQueueEndsCleanly) {
    struct Releasing : StreamOutput {
        Stream* stream = nullptr;
        FakeSource* source = nullptr;
        std::atomic<bool> released{false};
        void didOutputSampleBuffer(Stream&, const SampleBuffer&, StreamOutputType) override {
            delete std::exchange(stream, nullptr);
            // Every other holder goes first: the stopping thread, then its message to the main thread.
            while (source->stops == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::atomic<bool> seen{false};
            postToMain([&] { seen = true; });
            while (!seen)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            released = true;
        }
    } output;
    auto queue = std::make_shared<SerialQueue>("com.zentola.videoCapture");
    std::weak_ptr<SerialQueue> watched = queue;
    output.stream = new Stream(ContentFilter::forDisplay(display, {}, {}), config, nullptr);
    output.stream->addStreamOutput(&output, StreamOutputType::screen, std::move(queue));
    output.source = factory->made.at(StreamOutputType::screen);
    run(output.stream->startCapture());
    output.source->push(SampleBuffer::video(solid(2, 2, 0xff0000ffu), MediaTime::make(1, 30)));
    ASSERT_TRUE(spinUntil([&] { return output.released.load(); }));
    EXPECT_TRUE(spinUntil([&] { return watched.expired(); })) << "the queue outlives its stream";
}

namespace {

struct CountingGrabber : FrameGrabber {
    std::atomic<int> calls{0};
    int failAt = -1;
    int emptyEvery = 0;
    BitmapRef grab() override {
        const int n = ++calls;
        if (n == failAt)
            throw PlatformError("X11", 1, "Lost the connection to the X server");
        if (emptyEvery && n % emptyEvery == 0)
            return nullptr;
        return solid(4, 4, 0xff000000u | std::uint32_t(n));
    }
};

}  // namespace

TEST(VideoCapture, StampsFramesInOrderAndCountsFramesItCouldNotMake) {
    auto grabber = std::make_unique<CountingGrabber>();
    grabber->emptyEvery = 3;
    CountingGrabber* g = grabber.get();
    std::mutex m;
    std::vector<MediaTime> times;
    VideoCapture capture(std::move(grabber), MediaTime::make(1, 200), [&](SampleBuffer b) {
        std::lock_guard lock(m);
        times.push_back(b.presentationTimeStamp());
    }, nullptr);
    capture.start();
    ASSERT_TRUE(spinUntil([&] { return g->calls >= 12; }));
    capture.stop();
    const int calls = g->calls;
    std::lock_guard lock(m);
    EXPECT_EQ(capture.deliveredFrames(), times.size());
    EXPECT_EQ(int(times.size()), calls - calls / 3);
    EXPECT_GE(capture.droppedFrames(), std::uint64_t(calls / 3));
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_LT(times[i - 1], times[i]);
    EXPECT_EQ(times.front().timescale, MediaTime::nanosecondScale);
    EXPECT_EQ(g->calls, calls) << "no grab after stop() returned";
}

TEST(VideoCapture, AGrabThatFailsReportsOnceAndEndsTheThread) {
    auto grabber = std::make_unique<CountingGrabber>();
    grabber->failAt = 3;
    CountingGrabber* g = grabber.get();
    std::atomic<int> failures{0};
    std::string reason;
    VideoCapture capture(std::move(grabber), MediaTime::invalid(), nullptr, [&](const PlatformError& e) {
        reason = e.description();
        ++failures;
    });
    capture.start();
    ASSERT_TRUE(spinUntil([&] { return failures > 0; }));
    spinUntil([] { return false; }, 50);
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(g->calls, 3);
    EXPECT_EQ(reason, "Lost the connection to the X server");
    capture.stop();
}

TEST(FrameScaler, ResamplesToTheSizeAndOutlivesItsSource) {
    // Left half red, right half blue.
    std::vector<std::uint8_t> px(8 * 4 * 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            std::uint8_t* p = &px[(y * 8 + x) * 4];
            p[0] = x < 4 ? 0 : 255;
            p[2] = x < 4 ? 255 : 0;
            p[3] = 255;
        }
    BitmapRef source = Bitmap::create(8, 4, 32, PixelFormat::BGRA, AlphaMode::opaque, std::move(px));
    EXPECT_EQ(FrameScaler::scale(source, QSize(8, 4)), source) << "same size: no copy";

    const BitmapRef up = FrameScaler::scale(source, QSize(32, 16));
    const BitmapRef down = FrameScaler::scale(source, QSize(4, 2));
    source.reset();  // the scaled frames own their pixels
    ASSERT_EQ(up->width(), 32);
    ASSERT_EQ(up->height(), 16);
    EXPECT_GE(up->bytesPerRow(), 32 * 4);
    EXPECT_EQ(up->format(), PixelFormat::BGRA);
    EXPECT_EQ(up->row(8)[2], 255);  // left edge red
    EXPECT_EQ(up->row(8)[0], 0);
    EXPECT_EQ(up->row(15)[31 * 4], 255);  // right edge blue
    EXPECT_EQ(up->row(15)[31 * 4 + 2], 0);
    ASSERT_EQ(down->width(), 4);
    EXPECT_EQ(down->row(1)[0 * 4 + 2], 255);
    EXPECT_EQ(down->row(1)[3 * 4 + 0], 255);
    EXPECT_THROW(FrameScaler::scale(up, QSize(0, 4)), PlatformError);
}

TEST(FrameScaler, TheFourthByteOfAnOpaqueFrameNeverReachesTheScaledColours) {
    // The stream's grabs leave the fourth byte as the server left it: any value must give the
    // colours an opaque frame gives, whatever the ratio.
    const int w = 37, h = 23;
    std::mt19937 rng(11);
    std::vector<std::uint8_t> opaque(std::size_t(w * h * 4));
    for (std::size_t i = 0; i < opaque.size(); ++i)
        opaque[i] = i % 4 == 3 ? 255 : std::uint8_t(rng());
    std::vector<std::uint8_t> junk = opaque;
    for (std::size_t i = 3; i < junk.size(); i += 4)
        junk[i] = std::uint8_t(rng() % 2 ? 0 : rng());
    const BitmapRef a = Bitmap::create(w, h, w * 4, PixelFormat::BGRA, AlphaMode::opaque, std::move(opaque));
    const BitmapRef b = Bitmap::create(w, h, w * 4, PixelFormat::BGRA, AlphaMode::opaque, std::move(junk));
    for (QSize size : {QSize(16, 9), QSize(80, 50), QSize(36, 24)}) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        const BitmapRef sa = FrameScaler::scale(a, size);
        const BitmapRef sb = FrameScaler::scale(b, size);
        ASSERT_EQ(sb->width(), size.width());
        ASSERT_EQ(sb->height(), size.height());
        int differing = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                for (int c = 0; c < 3; ++c)
                    differing += sa->row(y)[x * 4 + c] != sb->row(y)[x * 4 + c];
        EXPECT_EQ(differing, 0);
    }
}

