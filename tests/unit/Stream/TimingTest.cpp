#include "platform/audio/AudioTimeline.h"
#include "platform/audio/CaptureClock.h"
#include "platform/media/MediaTime.h"
#include "platform/stream/FramePacer.h"

#include <gtest/gtest.h>

#include <vector>

using namespace platform;

namespace {
constexpr std::int64_t ms = 1'000'000;
constexpr std::int64_t sec = 1'000'000'000;
}  // namespace

TEST(FramePacer, DeadlinesStayOnTheGridWhateverEachFrameCosts) {
    const std::int64_t start = 5 * sec;
    FramePacer pacer(start, 1, 30);
    EXPECT_EQ(pacer.deadline(), start);
    // Each frame finishes 7 ms after its deadline; the next deadline must not move with it.
    for (int i = 0; i < 90; ++i)
        pacer.advance(pacer.deadline() + 7 * ms);
    EXPECT_EQ(pacer.tick(), 90u);
    EXPECT_EQ(pacer.deadline(), start + 3 * sec);  // exactly 3 s: 1/30 s never rounds up over time
    EXPECT_EQ(pacer.droppedTicks(), 0u);

    FramePacer sixty(0, 1, 60);
    EXPECT_EQ(sixty.deadlineOf(1), 16'666'666);
    EXPECT_EQ(sixty.deadlineOf(2), 33'333'333);
    EXPECT_EQ(sixty.deadlineOf(60), sec);
    EXPECT_EQ(sixty.deadlineOf(60ull * 60 * 60 * 24), 24ll * 3600 * sec);  // a day later, still exact
}

TEST(FramePacer, ALateFrameIsFollowedByOneLateGrabThenTheGrid) {
    FramePacer pacer(0, 1, 100);  // 10 ms
    // Tick 0 took 25 ms: ticks 1 and 2 have passed; tick 2 is grabbed at once, tick 1 is dropped.
    EXPECT_EQ(pacer.advance(25 * ms), 20 * ms);
    EXPECT_EQ(pacer.tick(), 2u);
    EXPECT_EQ(pacer.droppedTicks(), 1u);
    // That late grab is quick: back on the grid at 30 ms, nothing more dropped.
    EXPECT_EQ(pacer.advance(26 * ms), 30 * ms);
    EXPECT_EQ(pacer.droppedTicks(), 1u);
    // A frame finishing exactly on the next deadline grabs it, it is not dropped.
    EXPECT_EQ(pacer.advance(40 * ms), 40 * ms);
    EXPECT_EQ(pacer.droppedTicks(), 1u);
}

TEST(FramePacer, ALongStallDoesNotBurst) {
    FramePacer pacer(0, 1, 60);
    pacer.advance(2 * sec + 5 * ms);  // the grab hung for two seconds
    EXPECT_EQ(pacer.tick(), 120u);     // the last deadline passed
    EXPECT_EQ(pacer.droppedTicks(), 119u);
    // Grabs now take 1 ms each; count how many happen without waiting.
    std::int64_t now = 2 * sec + 5 * ms;
    int immediate = 0;
    for (int i = 0; i < 10; ++i) {
        const std::int64_t next = pacer.advance(now + 1 * ms);
        now += 1 * ms;
        if (next <= now)
            ++immediate;
        else
            now = next;  // sleep until due
    }
    EXPECT_EQ(immediate, 0);
    EXPECT_EQ(pacer.droppedTicks(), 119u);
    // Every deadline after the stall is still a multiple of 1/60 s from the start.
    EXPECT_EQ(pacer.deadline(), pacer.deadlineOf(pacer.tick()));
    EXPECT_EQ(pacer.tick(), 130u);  // one tick per grab, none skipped or doubled
}

TEST(FramePacer, OddIntervalsAndBadInput) {
    FramePacer pacer(0, 1001, 30000);  // 29.97 fps
    EXPECT_EQ(pacer.deadlineOf(30000), 1001ll * sec);
    pacer.advance(100 * ms);  // 33.37 ms per frame: ticks 1 and 2 passed, 3 is at 100.1 ms
    EXPECT_EQ(pacer.tick(), 2u);
    EXPECT_EQ(pacer.droppedTicks(), 1u);

    FramePacer broken(0, 0, 0);  // a zero interval must not divide by zero or spin
    EXPECT_GT(broken.deadlineOf(1), 0);
}

TEST(CaptureClock, ConvertsBetweenTimespecNanosecondsAndMediaTime) {
    const timespec ts{12, 345'678'901};
    EXPECT_EQ(CaptureClock::nanoseconds(ts), 12'345'678'901);
    const timespec back = CaptureClock::timespecFrom(12'345'678'901);
    EXPECT_EQ(back.tv_sec, 12);
    EXPECT_EQ(back.tv_nsec, 345'678'901);
    const timespec negative = CaptureClock::timespecFrom(-1);
    EXPECT_EQ(negative.tv_sec, -1);
    EXPECT_EQ(negative.tv_nsec, 999'999'999);

    const MediaTime t = MediaTime::fromNanoseconds(CaptureClock::nanoseconds(ts));
    EXPECT_TRUE(t.isValid());
    EXPECT_DOUBLE_EQ(t.seconds(), 12.345678901);
    EXPECT_EQ(t.rescaled(48000), 592593);  // 592592.587 ticks at 48 kHz, rounded

    const std::int64_t a = CaptureClock::nowNanoseconds();
    const std::int64_t b = CaptureClock::nowNanoseconds();
    EXPECT_LE(a, b);
    EXPECT_GT(a, 0);
}

TEST(CaptureClock, AudioFrameDurationsDoNotOverflowOnLongRecordings) {
    EXPECT_EQ(CaptureClock::framesToNanoseconds(48000, 48000), sec);
    EXPECT_EQ(CaptureClock::framesToNanoseconds(480, 48000), 10 * ms);
    EXPECT_EQ(CaptureClock::framesToNanoseconds(1, 48000), 20833);
    // 100 hours at 48 kHz: frames * 1e9 alone would overflow 64 bits.
    const std::int64_t frames = 48000ll * 3600 * 100 + 1;
    EXPECT_EQ(CaptureClock::framesToNanoseconds(frames, 48000), 360000ll * sec + 20833);
    EXPECT_EQ(CaptureClock::framesToNanoseconds(100, 0), 0);
}

TEST(AudioTimeline, FirstChunkIsStampedWithItsFirstSampleNotItsArrival) {
    AudioTimeline timeline(48000);
    EXPECT_FALSE(timeline.isAnchored());
    // Read at 10 s with 35 ms of audio captured before it still buffered.
    EXPECT_EQ(timeline.stamp(10 * sec, 35 * ms, 960), 10 * sec - 35 * ms);
    EXPECT_TRUE(timeline.isAnchored());
    EXPECT_EQ(timeline.nextExpected(), 10 * sec - 35 * ms + 20 * ms);
}

TEST(AudioTimeline, JitteryLatencyStillGivesBackToBackChunks) {
    AudioTimeline timeline(48000);
    std::int64_t expected = timeline.stamp(sec, 20 * ms, 960);
    EXPECT_EQ(expected, sec - 20 * ms);
    // Chunks of 20 ms arrive every 20 ms; the measured latency wobbles by +-15 ms.
    const std::int64_t wobble[] = {15, -10, 3, -15, 12, 0, -7, 9};
    for (int i = 1; i <= 8; ++i) {
        const std::int64_t now = sec + i * 20 * ms;
        const std::int64_t stamped = timeline.stamp(now, (20 + wobble[i - 1]) * ms, 960);
        EXPECT_EQ(stamped, expected + 20 * ms) << "chunk " << i;
        expected = stamped;
    }
}

TEST(AudioTimeline, LostAudioLeavesAGapButTimeNeverStepsBack) {
    AudioTimeline timeline(48000, 40 * ms);
    timeline.stamp(sec, 0, 4800);  // 100 ms from 1 s
    // The next chunk's first sample was captured at 1.5 s: 400 ms went missing in an overrun.
    EXPECT_EQ(timeline.stamp(1500 * ms + 10 * ms, 10 * ms, 4800), 1500 * ms);
    // A measurement far behind would overlap the previous chunk: it is ignored.
    EXPECT_EQ(timeline.stamp(1500 * ms, 0, 4800), 1600 * ms);
    // A hole the server reports moves the next chunk on by its length.
    timeline.skip(2400);
    EXPECT_EQ(timeline.stamp(1700 * ms, 0, 480), 1750 * ms);
    // Within tolerance of the laid-out time: no jump.
    EXPECT_EQ(timeline.stamp(1760 * ms + 39 * ms, 0, 480), 1760 * ms);
}
