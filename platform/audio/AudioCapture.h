#pragma once

#include "platform/audio/AudioStamper.h"
#include "platform/core/Error.h"
#include "platform/media/SampleBuffer.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;
struct pa_server_info;
struct pa_sink_info;

namespace platform {

// Records one sound source from the pulse server as interleaved float samples (48 kHz stereo
// unless asked otherwise; the server converts): system audio is the default output's monitor, the
// microphone is the named input or else the default one.
//
// Like the desktop's own system-audio capture it is tied to no device: it follows the default
// output (or input) whenever it changes or goes away, and a sound server that is lost is connected
// to again once it is back. Nothing is delivered meanwhile; the chunks after such a gap carry
// their own times, so the gap is silence in the movie.
//
// The server is read on the pulse mainloop's own thread; each chunk is stamped with the capture
// clock time of its first frame and handed to onSamples there, and the loss and the return of the
// server are told to onInterruption there too. Neither handler may call stop() or destroy the
// object from inside the call.
class AudioCapture {
public:
    enum class Source { systemAudio, microphone };
    using SampleHandler = std::function<void(SampleBuffer)>;
    // The reason when the sound server is lost; none once it is back and the source reads again.
    using InterruptionHandler = std::function<void(const std::optional<PlatformError>&)>;

    static constexpr const char* errorDomain = "AudioCapture";
    // The most of a new stream's first sound that is held back while its timing settles; it
    // usually settles within a few tens of milliseconds.
    static constexpr int settlingMilliseconds = 750;

    struct Settings {
        int sampleRate = 48000;
        int channelCount = 2;
        std::optional<std::string> deviceName;  // a pulse source name; none takes the default
    };

    // Connects and opens the source paused. Throws PlatformError when the server cannot be reached
    // or the source does not exist or cannot be opened.
    AudioCapture(Source source, Settings settings, SampleHandler onSamples, InterruptionHandler onInterruption = {});
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // Starts the flow of chunks. The time line starts afresh.
    void start();
    // Closes the source; once it returns no handler runs again. Safe to call twice.
    void stop();

    SampleBuffer::AudioFormat format() const;

private:
    static void contextStateChanged(pa_context* c, void* self);
    static void serverChanged(pa_context* c, int event, unsigned index, void* self);
    static void serverInfo(pa_context* c, const pa_server_info* info, void* self);
    static void sinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* self);
    static void streamStateChanged(pa_stream* s, void* self);
    static void streamReadable(pa_stream* s, size_t bytes, void* self);
    static void timingUpdated(pa_stream* s, int success, void* self);

    // All of these run with the mainloop locked.
    void connect();
    void contextLost(int paError);
    void resolveDevice();
    void useDevice(const std::string& name);
    void noDevice(const std::string& why);
    void streamReady();
    void streamFailed(int paError);
    void closeStream();
    void dropContext();
    void retryAfter(unsigned long long usec);
    void readAvailable();
    void readTiming();
    void requestTiming();

    Source source_;
    Settings settings_;
    SampleHandler onSamples_;
    InterruptionHandler onInterruption_;
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* retry_ = nullptr;
    std::string deviceName_;
    AudioStamper stamper_;
    std::int64_t reportTakenAt_ = 0;     // the server's last timing report, as the server stamped it
    std::int64_t lastTimingRequest_ = 0;
    bool timingPending_ = false;
    std::optional<PlatformError> openError_;
    bool opened_ = false;
    bool openTimedOut_ = false;
    bool running_ = false;
    bool stopping_ = false;
    bool interrupted_ = false;
    bool namedDeviceLost_ = false;
};

}  // namespace platform
