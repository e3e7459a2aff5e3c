#include "FakeMovieWriter.h"
#include "LogLines.h"

#include "Features/Capture/VideoWriterContext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace zentola;
using platform::MediaTime;
using platform::SampleBuffer;

namespace {

platform::BitmapRef pixels() {
    return platform::Bitmap::create(4, 4, 16, platform::PixelFormat::BGRA, platform::AlphaMode::opaque,
                                    std::vector<std::uint8_t>(64, 0));
}

SampleBuffer frame(double t) { return SampleBuffer::video(pixels(), MediaTime::fromSeconds(t)); }
SampleBuffer emptyFrame(double t) { return SampleBuffer::video(nullptr, MediaTime::fromSeconds(t)); }
SampleBuffer sound(double t) {
    return SampleBuffer::audio(std::vector<std::uint8_t>(480 * 8, 0), {}, MediaTime::fromSeconds(t));
}

class VideoWriterContextTest : public ::testing::Test {
protected:
    void arm(bool systemAudio = true, bool microphone = true) {
        writer = std::make_shared<FakeMovieWriter>("/tmp/x.mov", platform::AssetWriter::FileType::quickTimeMovie);
        auto video = writer->makeVideoInput({});
        audio = std::static_pointer_cast<FakeMovieWriter::Input>(writer->makeAudioInput(platform::AudioOutputSettings{}));
        mic = std::static_pointer_cast<FakeMovieWriter::Input>(writer->makeAudioInput(std::nullopt));
        videoInput = std::static_pointer_cast<FakeMovieWriter::Input>(video);
        context.setup(writer, video, writer->makePixelBufferAdaptor(video, {}), systemAudio ? audio : nullptr,
                      microphone ? mic : nullptr);
    }

    VideoWriterContext context;
    std::shared_ptr<FakeMovieWriter> writer;
    std::shared_ptr<FakeMovieWriter::Input> videoInput, audio, mic;
};

}  // namespace

TEST_F(VideoWriterContextTest, TheFirstFrameWithAPictureStartsTheSessionAtItsTimeAndOnlyThenSoundIsWritten) {
    arm();
    testing::internal::CaptureStdout();
    context.processAudioSampleBuffer(sound(99.9));
    context.processMicrophoneSampleBuffer(sound(99.9));
    context.processVideoSampleBuffer(emptyFrame(100.0));
    EXPECT_EQ(writer->status(), platform::AssetWriter::Status::unknown) << "a frame without a picture starts nothing";
    context.processVideoSampleBuffer(frame(100.5));
    context.processVideoSampleBuffer(emptyFrame(100.52));
    context.processAudioSampleBuffer(sound(100.51));
    context.processMicrophoneSampleBuffer(sound(100.51));
    context.processVideoSampleBuffer(frame(100.55));
    auto out = lines(testing::internal::GetCapturedStdout());

    EXPECT_EQ(out, std::vector<std::string>{"[VideoRecording] Started writing session at 100.5"});
    EXPECT_EQ(writer->events(), (std::vector<std::string>{"startWriting", "startSession 100.500000"}));
    ASSERT_EQ(videoInput->times.size(), 2u);
    EXPECT_EQ(videoInput->times[0], MediaTime::fromSeconds(100.5));
    EXPECT_EQ(audio->appended, 1);
    EXPECT_EQ(mic->appended, 1);
    EXPECT_EQ(audio->times[0], MediaTime::fromSeconds(100.51)) << "sound keeps its own timing";
}

TEST_F(VideoWriterContextTest, WholeSecondsAreLoggedAsDecimals) {
    arm();
    testing::internal::CaptureStdout();
    context.processVideoSampleBuffer(frame(12.0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[VideoRecording] Started writing session at 12.0\n");
}

TEST_F(VideoWriterContextTest, InputsThatAreNotReadyDropSilentlyAndFailedAppendsAreLoggedPerPath) {
    arm();
    context.processVideoSampleBuffer(frame(1.0));
    testing::internal::CaptureStdout();
    videoInput->ready = false;
    audio->ready = false;
    context.processVideoSampleBuffer(frame(1.1));
    context.processAudioSampleBuffer(sound(1.1));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(videoInput->appended, 1);
    EXPECT_EQ(audio->appended, 0);

    videoInput->ready = true;
    audio->ready = true;
    videoInput->appendSucceeds = false;
    audio->appendSucceeds = false;
    mic->appendSucceeds = false;
    testing::internal::CaptureStdout();
    context.processVideoSampleBuffer(frame(1.2));
    context.processAudioSampleBuffer(sound(1.2));
    context.processMicrophoneSampleBuffer(sound(1.2));
    EXPECT_EQ(lines(testing::internal::GetCapturedStdout()),
              (std::vector<std::string>{"[VideoRecording] Failed to append pixel buffer",
                                        "[VideoRecording] Failed to append system audio sample (no error)",
                                        "[VideoRecording] Failed to append microphone sample (no error)"}));
    // A failed append changes nothing: the next good one goes through.
    audio->appendSucceeds = true;
    context.processAudioSampleBuffer(sound(1.3));
    EXPECT_EQ(audio->appended, 1);
}

TEST_F(VideoWriterContextTest, AFailedWriterLogsOneLinePerFrameAndDropsSound) {
    arm();
    context.processVideoSampleBuffer(frame(1.0));
    writer->failWith("The disk is full");
    testing::internal::CaptureStdout();
    context.processVideoSampleBuffer(frame(1.1));
    context.processAudioSampleBuffer(sound(1.1));
    context.processMicrophoneSampleBuffer(sound(1.1));
    context.processVideoSampleBuffer(emptyFrame(1.15));
    context.processVideoSampleBuffer(frame(1.2));
    EXPECT_EQ(lines(testing::internal::GetCapturedStdout()),
              (std::vector<std::string>{"[VideoRecording] Writer failed: The disk is full",
                                        "[VideoRecording] Writer failed: The disk is full"}));
    EXPECT_EQ(videoInput->appended, 1);
    EXPECT_EQ(audio->appended, 0);
    EXPECT_EQ(mic->appended, 0);
}

TEST_F(VideoWriterContextTest, ARefusedSystemAudioInputDropsItsBuffersWhileTheOthersAreWritten) {
    arm(false, true);
    testing::internal::CaptureStdout();
    context.processVideoSampleBuffer(frame(1.0));
    context.processAudioSampleBuffer(sound(1.01));
    context.processMicrophoneSampleBuffer(sound(1.01));
    EXPECT_EQ(lines(testing::internal::GetCapturedStdout()).size(), 1u);
    EXPECT_EQ(audio->appended, 0);
    EXPECT_EQ(mic->appended, 1);
    auto snapshot = context.getWriterAndInputs();
    EXPECT_EQ(snapshot.writer, writer);
    EXPECT_EQ(snapshot.videoInput, videoInput);
    EXPECT_EQ(snapshot.audioInput, nullptr);
    EXPECT_EQ(snapshot.microphoneInput, mic);
}

TEST_F(VideoWriterContextTest, OnceWritingIsClearedNoQueueReachesTheWriterAndResetRearmsFromScratch) {
    arm();
    std::atomic<bool> run{true};
    auto pump = [&](int kind) {
        for (int i = 0; run; ++i) {
            double t = 10.0 + i * 0.001;
            if (kind == 0)
                context.processVideoSampleBuffer(frame(t));
            else if (kind == 1)
                context.processAudioSampleBuffer(sound(t));
            else
                context.processMicrophoneSampleBuffer(sound(t));
        }
    };
    std::thread v(pump, 0), a(pump, 1), m(pump, 2);
    while (videoInput->appended < 50 || audio->appended < 50 || mic->appended < 50)
        std::this_thread::yield();
    context.setIsWriting(false);
    int video = videoInput->appended, sys = audio->appended, micro = mic->appended;
    for (int i = 0; i < 1000; ++i)
        std::this_thread::yield();
    run = false;
    v.join();
    a.join();
    m.join();
    EXPECT_EQ(videoInput->appended, video);
    EXPECT_EQ(audio->appended, sys);
    EXPECT_EQ(mic->appended, micro);
    EXPECT_EQ(writer->overlaps(), 0) << "two appends ran at the same time";

    // Reset drops the writer but leaves the flag; a new setup starts a new session.
    context.reset();
    auto empty = context.getWriterAndInputs();
    EXPECT_EQ(empty.writer, nullptr);
    EXPECT_EQ(empty.videoInput, nullptr);
    auto old = writer;
    arm();
    testing::internal::CaptureStdout();
    context.processVideoSampleBuffer(frame(50.25));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[VideoRecording] Started writing session at 50.25\n");
    EXPECT_EQ(old->events().size(), 2u);
}
