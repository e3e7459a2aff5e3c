#pragma once

#include "platform/media/AssetWriter.h"
#include "platform/media/PixelBufferAdaptor.h"
#include "platform/media/SampleBuffer.h"
#include "platform/media/WriterInput.h"

#include <functional>
#include <memory>
#include <mutex>

namespace zentola {

// The recorder's only state shared across threads: the current movie writer, its inputs and two
// flags, behind one lock. The three sample queues hand it every buffer; the main thread arms it
// at the start and disarms, reads and resets it at the stop.
//
// Every operation holds the lock for its whole run, platform calls included, so only one buffer is
// appended at a time and the main thread never sees a half-armed context. Nothing here waits for
// an encoder: an input that is not ready means the buffer is dropped.
//
// A writer that fails (a full disk) is reported once per recording: one log line, and the failure
// handler, which the recorder uses to end the recording at once.
class VideoWriterContext {
public:
    // Called on a sample queue, with the lock held: it must only hand the news on.
    using FailureHandler = std::function<void(const platform::AssetWriter* writer)>;

    struct WriterAndInputs {
        std::shared_ptr<platform::AssetWriter> writer;
        std::shared_ptr<platform::WriterInput> videoInput;
        std::shared_ptr<platform::WriterInput> audioInput;
        std::shared_ptr<platform::WriterInput> microphoneInput;
    };

    VideoWriterContext() = default;
    VideoWriterContext(const VideoWriterContext&) = delete;
    VideoWriterContext& operator=(const VideoWriterContext&) = delete;

    void setFailureHandler(FailureHandler handler);
    void setup(std::shared_ptr<platform::AssetWriter> writer, std::shared_ptr<platform::WriterInput> videoInput,
               std::shared_ptr<platform::PixelBufferAdaptor> adaptor,
               std::shared_ptr<platform::WriterInput> audioInput,
               std::shared_ptr<platform::WriterInput> microphoneInput);
    void setIsWriting(bool isWriting);
    WriterAndInputs getWriterAndInputs();
    // Drops the writer objects; leaves isWriting as it is.
    void reset();

    // How many frames the stream gives per second; the measure of what went missing.
    void setFrameInterval(platform::MediaTime interval);
    // Frame slots of the recording that no frame filled (none reached the writer, or the writer left
    // it out: its slot was taken), and the longest time between two frames that reached the writer.
    // A tick without a picture (a hidden window) is no loss. Whole once the writer has finished.
    struct FrameGaps {
        long long dropped = 0;
        platform::MediaTime longest = platform::MediaTime::zero();
    };
    FrameGaps frameGaps();
    // Whether the writer's failure has already been logged with its reason.
    bool failureReported();

    void processVideoSampleBuffer(const platform::SampleBuffer& sampleBuffer);
    void processAudioSampleBuffer(const platform::SampleBuffer& sampleBuffer);
    void processMicrophoneSampleBuffer(const platform::SampleBuffer& sampleBuffer);

private:
    void appendAudio(const platform::SampleBuffer& sampleBuffer, platform::WriterInput* input, const char* what);
    // True while the writer writes; otherwise reports a failure the first time it is seen.
    bool writerIsWriting();
    void countFrame(platform::MediaTime pts);

    std::mutex lock_;
    std::shared_ptr<platform::AssetWriter> assetWriter_;
    std::shared_ptr<platform::WriterInput> videoInput_;
    std::shared_ptr<platform::PixelBufferAdaptor> pixelBufferAdaptor_;
    std::shared_ptr<platform::WriterInput> audioInput_;
    std::shared_ptr<platform::WriterInput> microphoneInput_;
    bool isFirstVideoSample_ = true;
    bool isWriting_ = false;
    bool failureReported_ = false;
    platform::MediaTime frameInterval_ = platform::MediaTime::make(1, 30);
    platform::MediaTime firstFrame_ = platform::MediaTime::invalid();
    platform::MediaTime lastFrame_ = platform::MediaTime::invalid();
    long long framesCounted_ = 0;
    platform::MediaTime longestGap_ = platform::MediaTime::zero();
    FailureHandler failureHandler_;
};

}  // namespace zentola
