#include "platform/audio/AudioTimeline.h"
#include "platform/media/VideoEncoderInput.h"
#include "platform/stream/FramePacer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace platform;

namespace {
constexpr std::int64_t ms = 1'000'000;
constexpr std::int64_t sec = 1'000'000'000;
}  // namespace

TEST(FramePacer, DeadlinesStayOnTheGridAndALateFrameSkipsToTheLastPassedTick) {
    FramePacer pacer(5 * sec, 1, 30);
    // Each frame finishes 7 ms after its deadline; the next deadline must not move with it.
    for (int i = 0; i < 90; ++i)
        pacer.advance(pacer.deadline() + 7 * ms);
    EXPECT_EQ(pacer.deadline(), 8 * sec);  // exactly 3 s: 1/30 s never rounds up over time
    EXPECT_EQ(pacer.droppedTicks(), 0u);
    EXPECT_EQ(FramePacer(0, 1, 60).deadlineOf(60ull * 60 * 60 * 24), 24ll * 3600 * sec);

    FramePacer late(0, 1, 100);  // 10 ms
    EXPECT_EQ(late.advance(25 * ms), 20 * ms);  // ticks 1 and 2 passed: 2 at once, 1 dropped
    EXPECT_EQ(late.advance(26 * ms), 30 * ms);  // then back on the grid
    EXPECT_EQ(late.advance(40 * ms), 40 * ms);  // finishing on a deadline grabs it
    EXPECT_EQ(late.droppedTicks(), 1u);

    FramePacer stalled(0, 1, 60);
    stalled.advance(2 * sec + 5 * ms);  // a two-second hang: no burst of grabs afterwards
    EXPECT_EQ(stalled.tick(), 120u);
    EXPECT_GT(stalled.advance(2 * sec + 6 * ms), 2 * sec + 6 * ms);
    EXPECT_EQ(stalled.droppedTicks(), 119u);
    EXPECT_GT(FramePacer(0, 0, 0).deadlineOf(1), 0);  // a zero interval neither divides by zero nor spins
}

TEST(MediaTime, ComparesAndSubtractsAcrossTimeScalesWithoutOverflow) {
    // 1/60 s is not a whole number of nanoseconds: compared exactly, it lies between two.
    EXPECT_LT(MediaTime::fromNanoseconds(16666666), MediaTime::make(1, 60));
    EXPECT_LT(MediaTime::make(1, 60), MediaTime::fromNanoseconds(16666667));
    EXPECT_EQ(MediaTime::make(2, 60), MediaTime::make(1, 30));
    // A monotonic clock a month after boot, in nanoseconds: products exceed 64 bits.
    const MediaTime late = MediaTime::fromNanoseconds(2'600'000'000'000'000LL);
    EXPECT_EQ((late + MediaTime::make(3, 2) - late).rescaled(48000), 72000);
    EXPECT_EQ(late.rescaled(48000), 2'600'000LL * 48000);
    EXPECT_EQ(MediaTime::make(-1, 3).rescaled(90000), -30000);
    EXPECT_FALSE((late - MediaTime::invalid()).isValid());
}

// A frame goes to the movie's frame slot nearest its time, except that one close to the next free
// slot takes it: jitter neither drops frames nor moves them far, and a faster capture drops frames
// instead of drifting.
TEST(FrameSlot, JitterNeitherDropsFramesNorMovesThemFarFromTheirTime) {
    const double positions[] = {0.0, 1.2, 1.9, 3.9, 4.2};  // on time, early, or almost a frame late
    for (long long slot = 0; slot < 5; ++slot)
        EXPECT_EQ(VideoEncoderInput::frameSlot(positions[slot], slot - 1), slot);
    EXPECT_EQ(VideoEncoderInput::frameSlot(9.1, 4), 9);     // a real gap leaves empty slots
    EXPECT_EQ(VideoEncoderInput::frameSlot(9.2, 9), -1);    // a second frame for a used slot
    EXPECT_EQ(VideoEncoderInput::frameSlot(-0.8, -1), -1);  // before the session start
    long long last = -1;
    int kept = 0;
    for (int i = 0; i < 625; ++i) {  // 62.5 frames per second into a 60 fps movie
        const long long slot = VideoEncoderInput::frameSlot(i * 60.0 / 62.5, last);
        if (slot >= 0) {
            EXPECT_LT(std::abs(double(slot) - i * 60.0 / 62.5), 0.71) << "frame " << i;
            last = slot, ++kept;
        }
    }
    EXPECT_NEAR(kept, 600, 1);
}

// A sound card whose clock runs fast or slow against the capture clock, read in 20 ms chunks a
// little late each time, with the jitter of a real latency measurement: over an hour every chunk
// must be stamped within a few milliseconds of when its first frame was captured.
TEST(AudioTimeline, FollowsACardClockThatDriftsForAnHour) {
    for (const double ppm : {100.0, -100.0, 500.0}) {
        SCOPED_TRACE(ppm);
        AudioTimeline timeline(48000);
        std::mt19937 rng(5);
        std::uniform_int_distribution<std::int64_t> readDelay(0, 15 * ms), jitter(-8 * ms, 8 * ms);
        const double framesPerSecond = 48000 * (1 + ppm * 1e-6);
        const std::int64_t start = 100 * sec;
        std::int64_t worst = 0;
        for (std::int64_t frames = 0; frames < 48000ll * 3600; frames += 960) {
            const auto captured = start + std::int64_t(double(frames) / framesPerSecond * 1e9);
            const auto complete = start + std::int64_t(double(frames + 960) / framesPerSecond * 1e9);
            const std::int64_t now = complete + readDelay(rng);
            const std::int64_t stamped = timeline.stamp(now, now - captured + jitter(rng), 960);
            if (frames > 48000 * 5)
                worst = std::max(worst, std::abs(stamped - captured));
        }
        EXPECT_LT(worst, 5 * ms);
    }
}

TEST(AudioTimeline, LostAudioLeavesAGapAndANewSourceNeverStepsBack) {
    AudioTimeline timeline(48000);
    // Read at 10 s with 35 ms captured before it still buffered: stamped with its first frame.
    EXPECT_EQ(timeline.stamp(10 * sec, 35 * ms, 4800), 10 * sec - 35 * ms);
    // The next chunk was captured 400 ms after the first one ended: audio was lost.
    EXPECT_EQ(timeline.stamp(10'475 * ms, 10 * ms, 4800), 10'465 * ms);
    // A hole the server reports moves the next chunk on by its length.
    timeline.skip(2400);
    EXPECT_EQ(timeline.stamp(10'615 * ms, 0, 480), 10'615 * ms);
    // Another device: placed where it was captured, but never over the sound already stamped.
    timeline.resync();
    EXPECT_EQ(timeline.stamp(10'600 * ms, 0, 480), 10'625 * ms);
    timeline.resync();
    EXPECT_EQ(timeline.stamp(12 * sec, 0, 480), 12 * sec);
}
