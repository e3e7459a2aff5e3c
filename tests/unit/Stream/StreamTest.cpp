#include "FakeSources.h"

#include "platform/core/MainThread.h"
#include "platform/core/SerialQueue.h"
#include "platform/stream/Stream.h"
#include "support/RunTask.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace platform;
using testing_support::runTask;

namespace {

SampleBuffer frame(int n) {
    return SampleBuffer::video(Bitmap::create(2, 2, 8, PixelFormat::BGRA, AlphaMode::opaque, std::vector<std::uint8_t>(16)),
                               MediaTime::fromNanoseconds(n));
}
SampleBuffer chunk(int n) { return SampleBuffer::audio(std::vector<std::uint8_t>(64), {}, MediaTime::fromNanoseconds(n)); }

// Records what reaches the outputs (type and thread) and what the delegate hears.
struct Recorder : StreamOutput, StreamDelegate {
    std::mutex mutex;
    std::vector<std::pair<StreamOutputType, std::thread::id>> got;
    std::vector<std::string> told;
    std::function<void()> whileDelivering;
    void didOutputSampleBuffer(Stream&, const SampleBuffer&, StreamOutputType type) override {
        if (whileDelivering)
            whileDelivering();
        std::lock_guard lock(mutex);
        got.emplace_back(type, std::this_thread::get_id());
    }
    void didStopWithError(Stream&, const PlatformError& e) override {
        EXPECT_TRUE(isMainThread());
        told.push_back("stopped: " + e.description());
    }
    std::size_t count(StreamOutputType type) {
        std::lock_guard lock(mutex);
        return std::size_t(std::count_if(got.begin(), got.end(), [&](auto& g) { return g.first == type; }));
    }
};

class StreamWithFakes : public ::testing::Test {
protected:
    StreamWithFakes() {
        StreamSourceFactory::install(sources);
        config.capturesAudio = true;
    }
    ~StreamWithFakes() override { StreamSourceFactory::install(nullptr); }
    std::unique_ptr<Stream> stream(StreamOutput* output, bool withAudio = true) {
        auto s = std::make_unique<Stream>(ContentFilter::forDisplay(ShareableDisplay{}, {}, {}), config, &recorder);
        s->addStreamOutput(output, StreamOutputType::screen, videoQueue);
        if (withAudio)
            s->addStreamOutput(output, StreamOutputType::audio, audioQueue);
        return s;
    }
    FakeSources::Source& source(StreamOutputType type) { return sources->source(type); }

    std::shared_ptr<FakeSources> sources = std::make_shared<FakeSources>();
    std::shared_ptr<SerialQueue> videoQueue = std::make_shared<SerialQueue>("com.zentola.videoCapture");
    std::shared_ptr<SerialQueue> audioQueue = std::make_shared<SerialQueue>("com.zentola.audioCapture");
    StreamConfiguration config;
    Recorder recorder;
};

}  // namespace

TEST_F(StreamWithFakes, DeliversOnEachOutputsQueueOnlyWhileRunningAndNeverBuildsAFrameBacklog) {
    auto s = stream(&recorder);
    // The microphone is not captured by this configuration: its output opens nothing.
    s->addStreamOutput(&recorder, StreamOutputType::microphone, std::make_shared<SerialQueue>("m"));
    EXPECT_EQ(sources->sources.size(), 2u);
    EXPECT_THROW(s->addStreamOutput(&recorder, StreamOutputType::screen, videoQueue), PlatformError);
    EXPECT_THROW(s->addStreamOutput(nullptr, StreamOutputType::microphone, audioQueue), PlatformError);
    source(StreamOutputType::screen).push(frame(1));  // before the start: dropped
    runTask(s->startCapture());
    EXPECT_TRUE(source(StreamOutputType::screen).running && source(StreamOutputType::audio).running);
    EXPECT_THROW(s->addStreamOutput(&recorder, StreamOutputType::microphone, audioQueue), PlatformError);
    EXPECT_THROW(runTask(s->startCapture()), PlatformError);
    // A consumer that falls behind gets no backlog of frames, while sound is kept.
    std::atomic<bool> open{false};
    recorder.whileDelivering = [&] {
        while (!open)
            std::this_thread::yield();
    };
    for (int i = 0; i < 10; ++i) {
        source(StreamOutputType::screen).push(frame(i + 2));
        source(StreamOutputType::audio).push(chunk(i + 2));
    }
    open = true;
    auto& audio = source(StreamOutputType::audio);  // a source that pauses a while is no failure
    audio.run([&] { audio.handlers.onInterruption(PlatformError("Fake", 9, "lost")); });
    audio.run([&] { audio.handlers.onInterruption(std::nullopt); });
    spinFor(20);
    runTask(s->stopCapture());
    // The stop waited for both queues: everything handed over before it has arrived.
    EXPECT_EQ(recorder.count(StreamOutputType::screen), std::size_t(Stream::maxPendingFrames));
    EXPECT_EQ(recorder.count(StreamOutputType::audio), 10u);
    for (auto& [type, thread] : recorder.got) {
        std::thread::id id;
        (type == StreamOutputType::screen ? videoQueue : audioQueue)->sync([&] { id = std::this_thread::get_id(); });
        EXPECT_EQ(thread, id);
    }
    source(StreamOutputType::screen).push(frame(20));
    runTask(s->stopCapture());  // stopping twice is harmless
    EXPECT_EQ(recorder.count(StreamOutputType::screen), std::size_t(Stream::maxPendingFrames));
    EXPECT_EQ(source(StreamOutputType::screen).stops, 1);
    EXPECT_TRUE(recorder.told.empty());
}

TEST_F(StreamWithFakes, ADyingSourceStopsEverySourceAndIsToldOnce) {
    auto s = stream(&recorder);
    runTask(s->startCapture());
    source(StreamOutputType::audio).die("sound server gone");
    source(StreamOutputType::screen).die("and then the X server");
    ASSERT_TRUE(waitUntil([&] { return !recorder.told.empty(); }));
    EXPECT_EQ(source(StreamOutputType::screen).stops + source(StreamOutputType::audio).stops, 2);
    source(StreamOutputType::screen).push(frame(5));
    runTask(s->stopCapture());  // after a failure the stop neither fails nor stops twice
    EXPECT_EQ(recorder.told, std::vector<std::string>{"stopped: sound server gone"});
    EXPECT_EQ(recorder.count(StreamOutputType::screen), 0u);

    // A failure before the start fails the start; a stream destroyed first tells no one.
    recorder.told.clear();
    s = stream(&recorder);
    source(StreamOutputType::audio).die("unplugged");
    EXPECT_THROW(runTask(s->startCapture()), PlatformError);
    s = stream(&recorder);
    runTask(s->startCapture());
    source(StreamOutputType::screen).die("gone");
    s.reset();
    spinFor(100);
    EXPECT_TRUE(recorder.told.empty());
}

// An output may let its stream go from its own queue; the stream's last holder is then that
// queue's job, and the queue must still be let go of on another thread, not joined from itself.
TEST_F(StreamWithFakes, AStreamReleasedFromItsOwnQueueEndsCleanly) {
    struct Releasing : StreamOutput {
        Stream* stream = nullptr;
        FakeSources::Source* source = nullptr;
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
    std::weak_ptr<SerialQueue> watched = videoQueue;
    output.stream = stream(&output, false).release();
    videoQueue.reset();
    output.source = &source(StreamOutputType::screen);
    runTask(output.stream->startCapture());
    output.source->push(frame(1));
    ASSERT_TRUE(waitUntil([&] { return output.released.load(); }));
    EXPECT_TRUE(waitUntil([&] { return watched.expired(); })) << "the queue outlives its stream";
}
