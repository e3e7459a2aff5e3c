#include "Fakes.h"

#include "Features/Capture/VideoWriterContext.h"
#include "support/Printed.h"

#include <gtest/gtest.h>

using namespace zentola;
using platform::MediaTime;
using platform::SampleBuffer;
using Lines = std::vector<std::string>;

namespace {

SampleBuffer frame(double t, bool withImage = true) {
    auto pixels = platform::Bitmap::create(4, 4, 16, platform::PixelFormat::BGRA, platform::AlphaMode::opaque,
                                           std::vector<std::uint8_t>(64));
    return SampleBuffer::video(withImage ? pixels : nullptr, MediaTime::fromSeconds(t));
}
SampleBuffer sound(double t) { return SampleBuffer::audio(std::vector<std::uint8_t>(3840), {}, MediaTime::fromSeconds(t)); }

class VideoWriterContextTest : public ::testing::Test {
protected:
    // A writer with all three inputs; the system-audio one handed to the context only when asked.
    void arm(bool systemAudio = true) {
        writer = std::make_shared<FakeMovieWriter>("/tmp/x.mov", platform::AssetWriter::FileType::quickTimeMovie);
        for (auto input : {writer->makeVideoInput({}), writer->makeAudioInput(platform::AudioOutputSettings{}),
                           writer->makeAudioInput(std::nullopt)})
            writer->add(input);
        video = writer->input("video"), audio = writer->input("systemAudio"), mic = writer->input("microphone");
        context.setup(writer, video, writer->makePixelBufferAdaptor(video, {}), systemAudio ? audio : nullptr, mic);
    }
    // The log lines of one buffer from each of the three queues, stamped t (or only of those given).
    Lines deliver(double t, bool withImage = true) {
        CapturedStdout printed;
        context.processVideoSampleBuffer(frame(t, withImage));
        context.processAudioSampleBuffer(sound(t));
        context.processMicrophoneSampleBuffer(sound(t));
        return printed.lines();
    }
    std::size_t appended() const { return video->appended() + audio->appended() + mic->appended(); }

    VideoWriterContext context;
    std::shared_ptr<FakeMovieWriter> writer;
    std::shared_ptr<FakeMovieWriter::Input> video, audio, mic;
};

}  // namespace

TEST_F(VideoWriterContextTest, TheFirstFrameWithAPictureStartsTheSessionAtItsTimeAndOnlyThenSoundIsWritten) {
    arm(false);
    EXPECT_TRUE(deliver(99.5, false).empty());
    EXPECT_EQ(writer->status(), platform::AssetWriter::Status::unknown) << "a frame without a picture starts nothing";
    EXPECT_EQ(deliver(100.0), Lines{"[VideoRecording] Started writing session at 100.0"});
    EXPECT_TRUE(deliver(12.5).empty()) << "the session starts once";
    EXPECT_EQ(writer->events(), (Lines{"startWriting", "startSession 100.000000"}));
    EXPECT_EQ(video->times, (std::vector<MediaTime>{MediaTime::fromSeconds(100.0), MediaTime::fromSeconds(12.5)}));
    EXPECT_EQ(mic->times[0], MediaTime::fromSeconds(100.0)) << "no sound before the first picture, then its own timing";
    EXPECT_EQ(audio->appended(), 0u) << "a refused system-audio input drops its buffers silently";
    context.reset();
    EXPECT_EQ(context.getWriterAndInputs().writer, nullptr);
}

TEST_F(VideoWriterContextTest, WhatCannotBeWrittenIsDroppedLoggedOnlyWhenAnAppendOrTheWriterFails) {
    std::vector<const platform::AssetWriter*> reported;
    context.setFailureHandler([&](const platform::AssetWriter* w) { reported.push_back(w); });
    arm();
    deliver(1.0);
    video->ready = audio->ready = false;
    EXPECT_TRUE(deliver(1.1).empty()) << "an input that is not ready drops the buffer without a word";
    video->ready = audio->ready = true;
    video->appendSucceeds = audio->appendSucceeds = mic->appendSucceeds = false;
    EXPECT_EQ(deliver(1.2), (Lines{"[VideoRecording] Failed to append pixel buffer",
                                   "[VideoRecording] Failed to append system audio sample (no error)",
                                   "[VideoRecording] Failed to append microphone sample (no error)"}));
    video->appendSucceeds = audio->appendSucceeds = mic->appendSucceeds = true;
    EXPECT_TRUE(deliver(1.3).empty()) << "a failed append changes nothing";
    EXPECT_EQ(appended(), 7u);
    writer->failWith("No space left on device");
    EXPECT_EQ(deliver(1.4), Lines{"[VideoRecording] Writer failed: No space left on device"});
    EXPECT_TRUE(deliver(1.5).empty());
    EXPECT_EQ(reported, std::vector<const platform::AssetWriter*>{writer.get()}) << "once per recording";
    arm();
    writer->failWith("gone");
    EXPECT_EQ(deliver(2.0), (Lines{"[VideoRecording] Started writing session at 2.0", "[VideoRecording] Writer failed: gone"}));
    EXPECT_EQ(reported.size(), 2u);
    arm();
    context.setIsWriting(false);  // the stop began: nothing reaches the writer any more
    EXPECT_TRUE(deliver(3.0).empty());
    EXPECT_EQ(appended() + writer->events().size(), 0u);
}

// Frames at 30 per second: one the encoder had no room for, three the capture never delivered and
// a hidden window's ticks without a picture. Only the first two are lost, the longest gap is 4/30 s.
TEST_F(VideoWriterContextTest, FrameSlotsNoFrameFilledAreCountedWithTheLongestGap) {
    context.setFrameInterval(MediaTime::make(1, 30));
    arm();
    for (int slot : {0, 1})
        deliver(slot / 30.0);
    EXPECT_EQ(context.frameGaps().dropped, 0);
    video->ready = false;
    deliver(2 / 30.0);
    video->ready = true;
    for (int slot : {3, 7})
        deliver(slot / 30.0);
    for (int slot : {8, 9, 10})
        deliver(slot / 30.0, false);
    deliver(11 / 30.0);
    const auto gaps = context.frameGaps();
    EXPECT_EQ(gaps.dropped, 4);
    EXPECT_NEAR(gaps.longest.seconds(), 4 / 30.0, 1e-6);
    arm();
    EXPECT_EQ(context.frameGaps().dropped, 0) << "each recording counts afresh";
}
