#include "platform/audio/AudioCapture.h"

#include "platform/audio/CaptureClock.h"

#include <pulse/pulseaudio.h>

#include <cstring>
#include <utility>
#include <vector>

namespace platform {

namespace {

constexpr int fragmentMilliseconds = 20;
// A server that accepts the connection but never answers must not hang the caller.
constexpr pa_usec_t openTimeout = 5 * PA_USEC_PER_SEC;
// A lost server is asked for again this often until it answers.
constexpr pa_usec_t reconnectDelay = 500 * PA_USEC_PER_MSEC;
// A stream that ended while the server stays (its device went) is opened again after this, on
// whatever the default is by then; a server change reported meanwhile does it at once.
constexpr pa_usec_t reopenDelay = 100 * PA_USEC_PER_MSEC;

const char* sourceLabel(AudioCapture::Source s) {
    return s == AudioCapture::Source::systemAudio ? "system audio" : "microphone";
}

std::string reason(int paError) { return pa_strerror(paError != 0 ? paError : PA_ERR_CONNECTIONTERMINATED); }

class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* m) : m_(m) { pa_threaded_mainloop_lock(m_); }
    ~MainloopLock() { pa_threaded_mainloop_unlock(m_); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* m_;
};

timeval after(pa_usec_t usec) {
    timeval tv{};
    pa_gettimeofday(&tv);
    pa_timeval_add(&tv, usec);
    return tv;
}

}  // namespace

SampleBuffer::AudioFormat AudioCapture::format() const {
    return SampleBuffer::AudioFormat{AudioSampleFormat::float32, settings_.sampleRate, settings_.channelCount};
}

AudioCapture::AudioCapture(Source source, Settings settings, SampleHandler onSamples, InterruptionHandler onInterruption)
    : source_(source),
      settings_(std::move(settings)),
      onSamples_(std::move(onSamples)),
      onInterruption_(std::move(onInterruption)),
      stamper_(settings_.sampleRate, settings_.channelCount * int(sizeof(float)),
               std::int64_t(settings_.sampleRate) * settlingMilliseconds / 1000,
               [this](std::vector<std::uint8_t> bytes, std::int64_t at) {
                   if (onSamples_ && !bytes.empty())
                       onSamples_(SampleBuffer::audio(std::move(bytes), format(), MediaTime::fromNanoseconds(at)));
               }) {
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
    std::optional<PlatformError> failure;
    {
        MainloopLock lock(mainloop_);
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
        const timeval deadline = after(openTimeout);
        pa_time_event* timer = api->time_new(
            api, &deadline,
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void* p) {
                auto* self = static_cast<AudioCapture*>(p);
                self->openTimedOut_ = true;
                pa_threaded_mainloop_signal(self->mainloop_, 0);
            },
            this);
        connect();
        while (!opened_ && !openError_ && !openTimedOut_)
            pa_threaded_mainloop_wait(mainloop_);
        api->time_free(timer);
        if (!opened_)
            failure = openError_ ? *openError_
                                 : PlatformError(errorDomain, PA_ERR_TIMEOUT,
                                                 std::string("The sound server did not answer while opening the ") +
                                                     sourceLabel(source_));
    }
    if (failure) {
        stop();
        throw *failure;
    }
}

AudioCapture::~AudioCapture() { stop(); }

void AudioCapture::connect() {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    context_ = pa_context_new(api, "Zentola");
    if (!context_) {
        contextLost(PA_ERR_INTERNAL);
        return;
    }
    pa_context_set_state_callback(context_, &AudioCapture::contextStateChanged, this);
    pa_context_set_subscribe_callback(
        context_,
        [](pa_context* c, pa_subscription_event_type_t t, uint32_t index, void* p) {
            serverChanged(c, int(t), index, p);
        },
        this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        contextLost(pa_context_errno(context_));
}

void AudioCapture::contextStateChanged(pa_context* c, void* p) {
    auto* self = static_cast<AudioCapture*>(p);
    if (c != self->context_ || self->stopping_)
        return;
    const pa_context_state_t st = pa_context_get_state(c);
    if (st == PA_CONTEXT_READY) {
        if (pa_operation* op = pa_context_subscribe(c, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr))
            pa_operation_unref(op);
        self->resolveDevice();
    } else if (!PA_CONTEXT_IS_GOOD(st)) {
        self->contextLost(pa_context_errno(c));
    }
}

void AudioCapture::contextLost(int paError) {
    closeStream();
    dropContext();
    if (!opened_) {
        if (!openError_)
            openError_ = PlatformError(errorDomain, paError, "Cannot connect to the sound server: " + reason(paError));
        pa_threaded_mainloop_signal(mainloop_, 0);
        return;
    }
    if (!interrupted_) {
        interrupted_ = true;
        if (onInterruption_)
            onInterruption_(PlatformError(errorDomain, paError, "Lost the sound server: " + reason(paError)));
    }
    retryAfter(reconnectDelay);
}

// The default device may have changed: whatever it is now is read from here on.
void AudioCapture::serverChanged(pa_context* c, int event, unsigned, void* p) {
    auto* self = static_cast<AudioCapture*>(p);
    if (c == self->context_ && !self->stopping_ &&
        (event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER)
        self->resolveDevice();
}

void AudioCapture::resolveDevice() {
    if (!context_ || pa_context_get_state(context_) != PA_CONTEXT_READY)
        return;
    if (pa_operation* op = pa_context_get_server_info(context_, &AudioCapture::serverInfo, this))
        pa_operation_unref(op);
    else
        contextLost(pa_context_errno(context_));
}

void AudioCapture::serverInfo(pa_context* c, const pa_server_info* info, void* p) {
    auto* self = static_cast<AudioCapture*>(p);
    if (c != self->context_ || self->stopping_)
        return;
    if (!info) {
        self->contextLost(pa_context_errno(c));
        return;
    }
    if (self->source_ == Source::microphone) {
        if (self->settings_.deviceName && !self->settings_.deviceName->empty() && !self->namedDeviceLost_)
            self->useDevice(*self->settings_.deviceName);
        else if (info->default_source_name && *info->default_source_name)
            self->useDevice(info->default_source_name);
        else
            self->noDevice("No microphone: the sound server has no default input");
        return;
    }
    if (!info->default_sink_name || !*info->default_sink_name) {
        self->noDevice("No system audio: the sound server has no default output");
        return;
    }
    if (pa_operation* op = pa_context_get_sink_info_by_name(c, info->default_sink_name, &AudioCapture::sinkInfo, self))
        pa_operation_unref(op);
    else
        self->contextLost(pa_context_errno(c));
}

void AudioCapture::sinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* p) {
    auto* self = static_cast<AudioCapture*>(p);
    if (c != self->context_ || self->stopping_)
        return;
    if (info && info->monitor_source_name && *info->monitor_source_name)
        self->useDevice(info->monitor_source_name);
    else if (info)
        self->noDevice(std::string("No system audio: the default output ") + info->name + " has no monitor");
    else if (eol < 0)  // the default output went away between the two questions
        self->noDevice("No system audio: the sound server has no default output");
}

void AudioCapture::useDevice(const std::string& name) {
    if (stream_ && name == deviceName_)
        return;
    closeStream();
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<uint32_t>(settings_.sampleRate),
                              static_cast<uint8_t>(settings_.channelCount)};
    pa_channel_map map;
    pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    const char* title = source_ == Source::systemAudio ? "Zentola system audio" : "Zentola microphone";
    deviceName_ = name;
    stream_ = pa_stream_new(context_, title, &spec, &map);
    if (!stream_) {
        streamFailed(pa_context_errno(context_));
        return;
    }
    pa_stream_set_state_callback(stream_, &AudioCapture::streamStateChanged, this);
    pa_stream_set_read_callback(stream_, &AudioCapture::streamReadable, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);  // server defaults for everything but the fragment
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(fragmentMilliseconds * PA_USEC_PER_MSEC, &spec));
    // Never moved by the server: it would move a monitor's reader to any source at all, the
    // microphone included. Following the default is done here, by opening the new one.
    // No interpolated timing: its smoothing takes a second or more to shed a stale first report,
    // and the stamps would run fast meanwhile. The raw reports are read instead (readTiming).
    auto flags = PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE;
    if (!running_)
        flags |= PA_STREAM_START_CORKED;
    if (pa_stream_connect_record(stream_, name.c_str(), &attr, static_cast<pa_stream_flags_t>(flags)) < 0)
        streamFailed(pa_context_errno(context_));
}

void AudioCapture::noDevice(const std::string& why) {
    closeStream();
    if (!opened_ && !openError_) {
        openError_ = PlatformError(errorDomain, PA_ERR_NOENTITY, why);
        pa_threaded_mainloop_signal(mainloop_, 0);
    }
    // While recording: silence until the server names a default again.
}

void AudioCapture::streamStateChanged(pa_stream* s, void* p) {
    auto* self = static_cast<AudioCapture*>(p);
    if (s != self->stream_ || self->stopping_)
        return;
    const pa_stream_state_t st = pa_stream_get_state(s);
    if (st == PA_STREAM_READY)
        self->streamReady();
    else if (!PA_STREAM_IS_GOOD(st))
        self->streamFailed(self->context_ ? pa_context_errno(self->context_) : PA_ERR_CONNECTIONTERMINATED);
}

void AudioCapture::streamReady() {
    stamper_.newStream();
    reportTakenAt_ = 0;
    timingPending_ = false;
    if (!opened_) {
        opened_ = true;
        pa_threaded_mainloop_signal(mainloop_, 0);
    } else if (interrupted_) {
        interrupted_ = false;
        if (onInterruption_)
            onInterruption_(std::nullopt);
    }
}

void AudioCapture::streamFailed(int paError) {
    const std::string device = deviceName_;
    closeStream();
    if (!opened_) {
        if (!openError_)
            openError_ = PlatformError(errorDomain, paError,
                                       std::string("Cannot open the ") + sourceLabel(source_) + " (" + device +
                                           "): " + reason(paError));
        pa_threaded_mainloop_signal(mainloop_, 0);
        return;
    }
    // Its device went (unplugged, unloaded) or the stream was ended for it: the default from now on.
    if (settings_.deviceName && device == *settings_.deviceName)
        namedDeviceLost_ = true;
    retryAfter(reopenDelay);
}

void AudioCapture::closeStream() {
    if (!stream_)
        return;
    stamper_.flush(CaptureClock::nowNanoseconds());  // what it held back is still good sound
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
        pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void AudioCapture::dropContext() {
    if (!context_)
        return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

void AudioCapture::retryAfter(unsigned long long usec) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    const timeval when = after(usec);
    if (retry_) {
        api->time_restart(retry_, &when);
        return;
    }
    retry_ = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* p) {
            auto* self = static_cast<AudioCapture*>(p);
            if (self->stopping_)
                return;
            if (!self->context_)
                self->connect();
            else
                self->resolveDevice();
        },
        this);
}

void AudioCapture::start() {
    if (!mainloop_)
        return;
    MainloopLock lock(mainloop_);
    if (stopping_ || running_)
        return;
    running_ = true;
    stamper_.restart();
    reportTakenAt_ = 0;
    timingPending_ = false;
    if (!stream_)
        return;  // opened uncorked once a device is back
    if (pa_operation* op = pa_stream_cork(stream_, 0, nullptr, nullptr))
        pa_operation_unref(op);
    else
        streamFailed(pa_context_errno(context_));
}

void AudioCapture::stop() {
    if (!mainloop_)
        return;
    {
        MainloopLock lock(mainloop_);
        stopping_ = true;
        if (retry_) {
            pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
            api->time_free(retry_);
            retry_ = nullptr;
        }
        closeStream();
        dropContext();
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
}

void AudioCapture::streamReadable(pa_stream* s, size_t, void* p) {
    auto* self = static_cast<AudioCapture*>(p);
    if (s == self->stream_ && !self->stopping_)
        self->readAvailable();
}

void AudioCapture::readAvailable() {
    const std::size_t bytesPerFrame = static_cast<std::size_t>(format().bytesPerFrame());
    while (stream_ && pa_stream_readable_size(stream_) > 0) {
        const void* data = nullptr;
        size_t length = 0;
        if (pa_stream_peek(stream_, &data, &length) < 0) {
            streamFailed(pa_context_errno(context_));
            return;
        }
        if (length == 0)
            return;
        readTiming();
        stamper_.push(static_cast<const std::uint8_t*>(data), static_cast<std::int64_t>(length / bytesPerFrame),
                      CaptureClock::nowNanoseconds());
        pa_stream_drop(stream_);
        requestTiming();
    }
}

// The server's latest timing report, when it is new: which position of the stream was heard when.
// A record stream's write index is the position the server had handed on at the report's time;
// the source's latency is sound captured but not yet handed on, and a monitor's is its output's
// latency, sound handed on before it is heard.
void AudioCapture::readTiming() {
    const pa_timing_info* info = pa_stream_get_timing_info(stream_);
    if (!info || info->write_index_corrupt)
        return;
    const auto nanoseconds = [](const timeval& tv) {
        return std::int64_t(tv.tv_sec) * 1'000'000'000 + std::int64_t(tv.tv_usec) * 1000;
    };
    const std::int64_t reportedAt = nanoseconds(info->timestamp);
    if (reportedAt == reportTakenAt_)
        return;
    reportTakenAt_ = reportedAt;
    timeval wall{};
    pa_gettimeofday(&wall);
    const std::int64_t now = CaptureClock::nowNanoseconds();
    const std::int64_t taken = now - (nanoseconds(wall) - reportedAt);
    const auto bytesPerFrame = static_cast<std::int64_t>(format().bytesPerFrame());
    const std::int64_t latencies =
        (-std::int64_t(info->transport_usec) - std::int64_t(info->source_usec) + std::int64_t(info->sink_usec)) * 1000;
    const std::int64_t zero =
        taken + latencies - CaptureClock::framesToNanoseconds(info->write_index / bytesPerFrame, settings_.sampleRate);
    stamper_.report(zero, taken);
}

// While a new stream's timing is not trusted, fresh reports are asked for every 20 ms; the
// automatic ones come far less often at first.
void AudioCapture::requestTiming() {
    if (!stream_ || stamper_.trusted() || timingPending_)
        return;
    const std::int64_t now = CaptureClock::nowNanoseconds();
    if (now - lastTimingRequest_ < 20'000'000)
        return;
    if (pa_operation* op = pa_stream_update_timing_info(stream_, &AudioCapture::timingUpdated, this)) {
        pa_operation_unref(op);
        timingPending_ = true;
        lastTimingRequest_ = now;
    }
}

void AudioCapture::timingUpdated(pa_stream* s, int, void* p) {
    auto* self = static_cast<AudioCapture*>(p);
    if (s != self->stream_ || self->stopping_)
        return;
    self->timingPending_ = false;
    self->readTiming();
}

}  // namespace platform
