#pragma once

#include "platform/audio/AudioCapture.h"
#include "platform/stream/StreamSource.h"

namespace platform {

// A stream's system audio or microphone: the pulse source behind one output.
class AudioStreamSource : public StreamSource {
public:
    // Throws PlatformError when the source cannot be opened.
    AudioStreamSource(AudioCapture::Source source, AudioCapture::Settings settings, SampleHandler onSample,
                      FailureHandler onFailure)
        : capture_(source, std::move(settings), std::move(onSample), std::move(onFailure)) {}

    void start() override { capture_.start(); }
    void stop() override { capture_.stop(); }

private:
    AudioCapture capture_;
};

}  // namespace platform
