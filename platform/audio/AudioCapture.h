#pragma once

#include "platform/audio/AudioTimeline.h"
#include "platform/core/Error.h"
#include "platform/media/SampleBuffer.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace platform {

// Records one sound source from the pulse server as interleaved float samples (48 kHz stereo
// unless asked otherwise; the server converts): system audio is the default output's monitor, the
// microphone is the default input or the named one.
//
// The server is read on the pulse mainloop's own thread; each chunk is stamped with the capture
// clock time of its first frame and handed to onSamples there. A source that dies while open
// (server gone, stream killed) calls onFailure once, also on that thread; neither handler may
// call stop() or destroy the object from inside the call.
class AudioCapture {
public:
    enum class Source { systemAudio, microphone };
    using SampleHandler = std::function<void(SampleBuffer)>;
    using FailureHandler = std::function<void(const PlatformError&)>;

    static constexpr const char* errorDomain = "AudioCapture";

    struct Settings {
        int sampleRate = 48000;
        int channelCount = 2;
        std::optional<std::string> deviceName;  // a pulse source name; none takes the default
    };

    // Connects and opens the source paused. Throws PlatformError when the server cannot be reached
    // or the source does not exist or cannot be opened.
    AudioCapture(Source source, Settings settings, SampleHandler onSamples, FailureHandler onFailure);
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // Starts the flow of chunks. The time line starts afresh.
    void start();
    // Closes the source; once it returns no handler runs again. Safe to call twice.
    void stop();

    // The server's name of the source being read.
    const std::string& deviceName() const { return deviceName_; }
    SampleBuffer::AudioFormat format() const;

private:
    static void contextStateChanged(pa_context* c, void* self);
    static void streamStateChanged(pa_stream* s, void* self);
    static void streamReadable(pa_stream* s, size_t bytes, void* self);

    void open();
    std::string resolveDevice();
    void readAvailable();
    void fail(const std::string& what, int paError);
    void throwIfTimedOut() const;
    void teardownLocked();

    Source source_;
    Settings settings_;
    SampleHandler onSamples_;
    FailureHandler onFailure_;
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::string deviceName_;
    AudioTimeline timeline_;
    bool opened_ = false;
    bool openTimedOut_ = false;
    bool stopping_ = false;
    bool failed_ = false;
};

}  // namespace platform
