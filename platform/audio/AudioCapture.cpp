#include "platform/audio/AudioCapture.h"

#include "platform/audio/CaptureClock.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <cstring>
#include <vector>

namespace platform {

namespace {

constexpr int fragmentMilliseconds = 20;
// A server that accepts the connection but never answers must not hang the caller.
constexpr pa_usec_t openTimeout = 5 * PA_USEC_PER_SEC;

const char* sourceLabel(AudioCapture::Source s) {
    return s == AudioCapture::Source::systemAudio ? "system audio" : "microphone";
}

// Holds the mainloop lock for a scope.
class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* m) : m_(m) { pa_threaded_mainloop_lock(m_); }
    ~MainloopLock() { pa_threaded_mainloop_unlock(m_); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* m_;
};

struct ServerNames {
    pa_threaded_mainloop* mainloop = nullptr;
    bool done = false;
    std::string defaultSink;
    std::string defaultSource;
    std::string monitor;
};

}  // namespace

SampleBuffer::AudioFormat AudioCapture::format() const {
    return SampleBuffer::AudioFormat{AudioSampleFormat::float32, settings_.sampleRate, settings_.channelCount};
}

AudioCapture::AudioCapture(Source source, Settings settings, SampleHandler onSamples, FailureHandler onFailure)
    : source_(source),
      settings_(std::move(settings)),
      onSamples_(std::move(onSamples)),
      onFailure_(std::move(onFailure)),
      timeline_(settings_.sampleRate) {
    if (settings_.sampleRate <= 0 || settings_.sampleRate > 384000 || settings_.channelCount <= 0 ||
        settings_.channelCount > static_cast<int>(PA_CHANNELS_MAX))
        throw PlatformError(errorDomain, PA_ERR_INVALID,
                            "Unsupported audio format: " + std::to_string(settings_.sampleRate) + " Hz, " +
                                std::to_string(settings_.channelCount) + " channels");
    mainloop_ = pa_threaded_mainloop_new();
    if (!mainloop_)
        throw PlatformError(errorDomain, PA_ERR_INTERNAL, "Cannot create the sound server client");
    if (pa_threaded_mainloop_start(mainloop_) < 0) {
        pa_threaded_mainloop_free(mainloop_);
        mainloop_ = nullptr;
        throw PlatformError(errorDomain, PA_ERR_INTERNAL, "Cannot start the sound server client");
    }
    try {
        open();
    } catch (...) {
        stop();
        throw;
    }
}

AudioCapture::~AudioCapture() { stop(); }

void AudioCapture::open() {
    MainloopLock lock(mainloop_);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    context_ = pa_context_new(api, "Zentola");
    if (!context_)
        throw PlatformError(errorDomain, PA_ERR_INTERNAL, "Cannot create the sound server context");
    pa_context_set_state_callback(context_, &AudioCapture::contextStateChanged, this);
    pa_time_event* deadline = pa_context_rttime_new(
        context_, pa_rtclock_now() + openTimeout,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* p) {
            auto* self = static_cast<AudioCapture*>(p);
            self->openTimedOut_ = true;
            pa_threaded_mainloop_signal(self->mainloop_, 0);
        },
        this);
    struct DeadlineGuard {
        pa_mainloop_api* api;
        pa_time_event* event;
        ~DeadlineGuard() {
            if (event)
                api->time_free(event);
        }
    } guard{api, deadline};
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        const int err = pa_context_errno(context_);
        throw PlatformError(errorDomain, err,
                            std::string("Cannot connect to the sound server: ") + pa_strerror(err));
    }
    for (;;) {
        const pa_context_state_t st = pa_context_get_state(context_);
        if (st == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(st)) {
            const int err = pa_context_errno(context_);
            throw PlatformError(errorDomain, err,
                                std::string("Cannot connect to the sound server: ") + pa_strerror(err));
        }
        throwIfTimedOut();
        pa_threaded_mainloop_wait(mainloop_);
    }

    deviceName_ = resolveDevice();

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<uint32_t>(settings_.sampleRate),
                              static_cast<uint8_t>(settings_.channelCount)};
    pa_channel_map map;
    pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    const char* name = source_ == Source::systemAudio ? "Zentola system audio" : "Zentola microphone";
    stream_ = pa_stream_new(context_, name, &spec, &map);
    if (!stream_) {
        const int err = pa_context_errno(context_);
        throw PlatformError(errorDomain, err, std::string("Cannot open the ") + sourceLabel(source_) + ": " +
                                                  pa_strerror(err));
    }
    pa_stream_set_state_callback(stream_, &AudioCapture::streamStateChanged, this);
    pa_stream_set_read_callback(stream_, &AudioCapture::streamReadable, this);

    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);  // server defaults for everything but the fragment
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(fragmentMilliseconds * PA_USEC_PER_MSEC, &spec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING |
                                                      PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY |
                                                      PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, deviceName_.c_str(), &attr, flags) < 0) {
        const int err = pa_context_errno(context_);
        throw PlatformError(errorDomain, err, std::string("Cannot open the ") + sourceLabel(source_) + " (" +
                                                  deviceName_ + "): " + pa_strerror(err));
    }
    for (;;) {
        const pa_stream_state_t st = pa_stream_get_state(stream_);
        if (st == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(st)) {
            const int err = pa_context_errno(context_);
            throw PlatformError(errorDomain, err, std::string("Cannot open the ") + sourceLabel(source_) + " (" +
                                                      deviceName_ + "): " + pa_strerror(err));
        }
        throwIfTimedOut();
        pa_threaded_mainloop_wait(mainloop_);
    }
    opened_ = true;
}

void AudioCapture::throwIfTimedOut() const {
    if (openTimedOut_)
        throw PlatformError(errorDomain, PA_ERR_TIMEOUT,
                            std::string("The sound server did not answer while opening the ") + sourceLabel(source_));
}

// Called with the mainloop locked, context ready.
std::string AudioCapture::resolveDevice() {
    ServerNames names;
    names.mainloop = mainloop_;
    auto waitFor = [&](pa_operation* op) {
        if (!op) {
            const int err = pa_context_errno(context_);
            throw PlatformError(errorDomain, err, std::string("Sound server query failed: ") + pa_strerror(err));
        }
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING &&
               PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) && !openTimedOut_)
            pa_threaded_mainloop_wait(mainloop_);
        pa_operation_unref(op);
        throwIfTimedOut();
        if (!names.done) {
            const int err = pa_context_errno(context_);
            throw PlatformError(errorDomain, err, std::string("Sound server query failed: ") + pa_strerror(err));
        }
        names.done = false;
    };

    waitFor(pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* p) {
            auto* n = static_cast<ServerNames*>(p);
            if (info) {
                n->defaultSink = info->default_sink_name ? info->default_sink_name : "";
                n->defaultSource = info->default_source_name ? info->default_source_name : "";
            }
            n->done = true;
            pa_threaded_mainloop_signal(n->mainloop, 0);
        },
        &names));

    if (source_ == Source::microphone) {
        if (settings_.deviceName && !settings_.deviceName->empty())
            return *settings_.deviceName;
        if (names.defaultSource.empty())
            throw PlatformError(errorDomain, PA_ERR_NOENTITY, "No microphone: the sound server has no default input");
        return names.defaultSource;
    }
    if (names.defaultSink.empty())
        throw PlatformError(errorDomain, PA_ERR_NOENTITY,
                            "No system audio: the sound server has no default output");
    waitFor(pa_context_get_sink_info_by_name(
        context_, names.defaultSink.c_str(),
        [](pa_context*, const pa_sink_info* info, int eol, void* p) {
            auto* n = static_cast<ServerNames*>(p);
            if (info && info->monitor_source_name)
                n->monitor = info->monitor_source_name;
            if (eol != 0 || info) {
                n->done = true;
                pa_threaded_mainloop_signal(n->mainloop, 0);
            }
        },
        &names));
    if (names.monitor.empty())
        throw PlatformError(errorDomain, PA_ERR_NOENTITY,
                            "No system audio: the default output " + names.defaultSink + " has no monitor");
    return names.monitor;
}

void AudioCapture::start() {
    if (!mainloop_)
        return;
    MainloopLock lock(mainloop_);
    if (!stream_ || stopping_ || failed_)
        return;
    timeline_ = AudioTimeline(settings_.sampleRate);
    if (pa_operation* op = pa_stream_cork(stream_, 0, nullptr, nullptr))
        pa_operation_unref(op);
    else
        fail(std::string("Cannot start the ") + sourceLabel(source_), pa_context_errno(context_));
}

void AudioCapture::stop() {
    if (!mainloop_)
        return;
    {
        MainloopLock lock(mainloop_);
        stopping_ = true;
        teardownLocked();
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
}

void AudioCapture::teardownLocked() {
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
            pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

void AudioCapture::contextStateChanged(pa_context* c, void* p) {
    auto* self = static_cast<AudioCapture*>(p);
    const pa_context_state_t st = pa_context_get_state(c);
    if (!PA_CONTEXT_IS_GOOD(st))
        self->fail("Lost the sound server while recording " + std::string(sourceLabel(self->source_)),
                   pa_context_errno(c));
    pa_threaded_mainloop_signal(self->mainloop_, 0);
}

void AudioCapture::streamStateChanged(pa_stream* s, void* p) {
    auto* self = static_cast<AudioCapture*>(p);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)) && self->context_)
        self->fail("The " + std::string(sourceLabel(self->source_)) + " stream ended", pa_context_errno(self->context_));
    pa_threaded_mainloop_signal(self->mainloop_, 0);
}

void AudioCapture::streamReadable(pa_stream*, size_t, void* p) { static_cast<AudioCapture*>(p)->readAvailable(); }

// Only reports once the source was open; failures while opening are thrown by the constructor.
void AudioCapture::fail(const std::string& what, int paError) {
    if (stopping_ || failed_ || !opened_)
        return;
    failed_ = true;
    const std::string reason = paError != 0 ? std::string(": ") + pa_strerror(paError) : std::string();
    if (onFailure_)
        onFailure_(PlatformError(errorDomain, paError != 0 ? paError : PA_ERR_CONNECTIONTERMINATED, what + reason));
}

void AudioCapture::readAvailable() {
    if (stopping_ || failed_ || !stream_)
        return;
    const std::size_t bytesPerFrame = static_cast<std::size_t>(format().bytesPerFrame());
    while (pa_stream_readable_size(stream_) > 0) {
        const void* data = nullptr;
        size_t length = 0;
        if (pa_stream_peek(stream_, &data, &length) < 0) {
            fail(std::string("Cannot read the ") + sourceLabel(source_), pa_context_errno(context_));
            return;
        }
        if (length == 0)
            return;
        const auto frames = static_cast<std::int64_t>(length / bytesPerFrame);
        if (!data) {
            timeline_.skip(frames);
            pa_stream_drop(stream_);
            continue;
        }
        // Latency here is how long ago the first unread frame (this chunk's first) was captured.
        std::int64_t latencyNs = 0;
        pa_usec_t usec = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream_, &usec, &negative) == 0)
            latencyNs = negative ? 0 : static_cast<std::int64_t>(usec) * 1000;
        else
            latencyNs = CaptureClock::framesToNanoseconds(
                static_cast<std::int64_t>(pa_stream_readable_size(stream_) / bytesPerFrame), settings_.sampleRate);
        const std::int64_t first = timeline_.stamp(CaptureClock::nowNanoseconds(), latencyNs, frames);

        const auto* bytes = static_cast<const std::uint8_t*>(data);
        std::vector<std::uint8_t> copy(bytes, bytes + frames * static_cast<std::int64_t>(bytesPerFrame));
        pa_stream_drop(stream_);
        if (onSamples_ && frames > 0)
            onSamples_(SampleBuffer::audio(std::move(copy), format(), MediaTime::fromNanoseconds(first)));
    }
}

}  // namespace platform
