#include "platform/media/MediaTime.h"
#include "platform/media/SampleBuffer.h"

#include <gtest/gtest.h>

using platform::MediaTime;

TEST(MediaTimeTest, ComparesAndSubtractsAcrossTimeScalesWithoutOverflow) {
    // 1/60 s is not a whole number of nanoseconds: compared exactly, it lies between two.
    EXPECT_LT(MediaTime::fromNanoseconds(16666666), MediaTime::make(1, 60));
    EXPECT_LT(MediaTime::make(1, 60), MediaTime::fromNanoseconds(16666667));
    EXPECT_LT(MediaTime::make(1, 60), MediaTime::make(1, 30));
    EXPECT_EQ(MediaTime::make(2, 60), MediaTime::make(1, 30));
    // A monotonic clock a month after boot, in nanoseconds: products exceed 64 bits.
    MediaTime late = MediaTime::fromNanoseconds(2'600'000'000'000'000LL);
    MediaTime later = late + MediaTime::make(3, 2);
    EXPECT_EQ((later - late).rescaled(48000), 72000);
    EXPECT_DOUBLE_EQ((later - late).seconds(), 1.5);
    EXPECT_EQ(late.rescaled(48000), 2'600'000LL * 48000);
    EXPECT_EQ(MediaTime::make(-1, 3).rescaled(90000), -30000);
    EXPECT_FALSE(MediaTime::invalid().isValid());
    EXPECT_FALSE((late - MediaTime::invalid()).isValid());
    EXPECT_EQ(MediaTime::fromSeconds(100.5).seconds(), 100.5);
}

TEST(MediaTimeTest, AudioBuffersCountWholeFramesOnly) {
    platform::SampleBuffer::AudioFormat s16{platform::AudioSampleFormat::int16, 48000, 2};
    auto b = platform::SampleBuffer::audio(std::vector<std::uint8_t>(4 * 480 + 3), s16, MediaTime::zero());
    EXPECT_TRUE(b.dataIsReady());
    EXPECT_TRUE(b.isAudio());
    EXPECT_EQ(b.audioFrameCount(), 480);
    EXPECT_DOUBLE_EQ(b.duration(), 0.01);
    EXPECT_FALSE(platform::SampleBuffer().dataIsReady());
    auto frame = platform::SampleBuffer::video(nullptr, MediaTime::zero());
    EXPECT_TRUE(frame.dataIsReady());
    EXPECT_EQ(frame.imageBuffer(), nullptr);
    EXPECT_EQ(frame.duration(), 0.0);
}
