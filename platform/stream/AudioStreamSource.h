#pragma once

#include "platform/audio/AudioCapture.h"
#include "platform/stream/StreamSource.h"

namespace platform {

// A stream's system audio or microphone: the pulse source behind one output. It never ends the
// stream: a device or a sound server that goes away is an interruption, and the source follows
// the default device and the server's return by itself.
class AudioStreamSource : public StreamSource {
public:
    // Throws PlatformError when the source cannot be opened.
    AudioStreamSource(AudioCapture::Source source, AudioCapture::Settings settings, SampleHandler onSample,
                      InterruptionHandler onInterruption)
        : capture_(source, std::move(settings), std::move(onSample), std::move(onInterruption)) {}

    void start() override { capture_.start(); }
    void stop() override { capture_.stop(); }

private:
    AudioCapture capture_;
};

}  // namespace platform
