#include "platform/desktop/SoundPlayer.h"

#include "platform/core/Error.h"
#include "platform/core/Log.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <pulse/error.h>
#include <pulse/simple.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace platform {
namespace {

[[noreturn]] void fail(const std::string& message) {
    throw PlatformError("SoundPlayer", 1, message);
}

// libsndfile reads from memory through these callbacks.
struct MemoryFile {
    const QByteArray* bytes;
    sf_count_t position = 0;
};

SF_VIRTUAL_IO memoryIO() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* user) -> sf_count_t { return static_cast<MemoryFile*>(user)->bytes->size(); };
    io.seek = [](sf_count_t offset, int whence, void* user) -> sf_count_t {
        auto* f = static_cast<MemoryFile*>(user);
        const sf_count_t size = f->bytes->size();
        sf_count_t base = whence == SEEK_CUR ? f->position : whence == SEEK_END ? size : 0;
        f->position = std::clamp<sf_count_t>(base + offset, 0, size);
        return f->position;
    };
    io.read = [](void* ptr, sf_count_t count, void* user) -> sf_count_t {
        auto* f = static_cast<MemoryFile*>(user);
        const sf_count_t n = std::min<sf_count_t>(count, f->bytes->size() - f->position);
        std::memcpy(ptr, f->bytes->constData() + f->position, static_cast<size_t>(n));
        f->position += n;
        return n;
    };
    io.write = [](const void*, sf_count_t, void*) -> sf_count_t { return 0; };
    io.tell = [](void* user) -> sf_count_t { return static_cast<MemoryFile*>(user)->position; };
    return io;
}

// One run of the sound; the worker thread owns it together with the player.
struct Playback {
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
};

class PulseSoundPlayer final : public SoundPlayer {
public:
    PulseSoundPlayer(std::shared_ptr<const std::vector<float>> samples, int rate, int channels)
        : samples_(std::move(samples)), rate_(rate), channels_(channels) {}

    ~PulseSoundPlayer() override { stopCurrent(); }

    void setVolume(float volume) override { volume_ = std::clamp(volume, 0.0f, 1.0f); }
    float volume() const override { return volume_; }
    double duration() const override { return double(samples_->size()) / channels_ / rate_; }
    bool isPlaying() const override { return current_ && !current_->finished; }

    bool play() override {
        stopCurrent();
        auto playback = std::make_shared<Playback>();
        current_ = playback;
        std::thread(&PulseSoundPlayer::run, samples_, rate_, channels_, volume_, playback).detach();
        return true;
    }

private:
    void stopCurrent() {
        if (current_)
            current_->stop = true;
        current_.reset();
    }

    // Connecting happens here too, so the caller never waits for the sound server.
    static void run(std::shared_ptr<const std::vector<float>> samples, int rate, int channels, float volume,
                    std::shared_ptr<Playback> playback) {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<uint32_t>(rate), static_cast<uint8_t>(channels)};
        // A short server buffer, so a stop takes effect at once instead of after seconds of queued sound.
        const uint32_t bytesPerMs = uint32_t(rate) * uint32_t(channels) * sizeof(float) / 1000;
        const pa_buffer_attr attr{uint32_t(-1), 150 * bytesPerMs, uint32_t(-1), 20 * bytesPerMs, uint32_t(-1)};
        int error = 0;
        pa_simple* stream =
            pa_simple_new(nullptr, "Zentola", PA_STREAM_PLAYBACK, nullptr, "Sound", &spec, nullptr, &attr, &error);
        if (!stream) {
            logLine(std::string("Failed to play sound: ") + pa_strerror(error));
            playback->finished = true;
            return;
        }
        // 20 ms per write keeps a stop request prompt.
        const size_t chunk = static_cast<size_t>(rate / 50) * channels;
        std::vector<float> buffer;
        for (size_t at = 0; at < samples->size() && !playback->stop; at += chunk) {
            const size_t n = std::min(chunk, samples->size() - at);
            buffer.assign(samples->begin() + at, samples->begin() + at + n);
            for (float& s : buffer)
                s *= volume;
            if (pa_simple_write(stream, buffer.data(), n * sizeof(float), &error) < 0)
                break;
        }
        if (playback->stop)
            pa_simple_flush(stream, &error);
        else
            pa_simple_drain(stream, &error);
        pa_simple_free(stream);
        playback->finished = true;
    }

    std::shared_ptr<const std::vector<float>> samples_;
    int rate_;
    int channels_;
    float volume_ = 1.0f;
    std::shared_ptr<Playback> current_;
};

}  // namespace

std::shared_ptr<SoundPlayer> SoundPlayer::fromFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail("cannot open " + path.toStdString() + ": " + file.errorString().toStdString());
    return fromData(file.readAll());
}

std::shared_ptr<SoundPlayer> SoundPlayer::fromData(const QByteArray& data) {
    MemoryFile memory{&data};
    SF_VIRTUAL_IO io = memoryIO();
    SF_INFO info{};
    SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, &memory);
    if (!sf)
        fail(std::string("cannot decode sound: ") + sf_strerror(nullptr));
    if (info.channels < 1 || info.channels > 8 || info.samplerate < 1000 || info.samplerate > 384000 ||
        info.frames <= 0) {
        sf_close(sf);
        fail("unsupported sound format");
    }
    auto samples = std::make_shared<std::vector<float>>(static_cast<size_t>(info.frames) * info.channels);
    const sf_count_t got = sf_readf_float(sf, samples->data(), info.frames);
    sf_close(sf);
    if (got <= 0)
        fail("sound has no samples");
    samples->resize(static_cast<size_t>(got) * info.channels);
    return std::make_shared<PulseSoundPlayer>(std::move(samples), info.samplerate, info.channels);
}

void SoundPlayer::beep() {
    QApplication::beep();
}

std::optional<QString> SoundPlayer::systemSoundPath(const QString& name) {
    // The app's sound names and the theme sounds that stand in for them.
    static const QHash<QString, QString> aliases{{"Tink", "audio-volume-change"}, {"Funk", "dialog-warning"}};
    const QString themeName = aliases.value(name, name);
    QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    if (!dirs.contains("/usr/share"))
        dirs << "/usr/share";
    for (const QString& dir : dirs) {
        for (const char* ext : {".oga", ".ogg", ".wav"}) {
            const QString path = dir + "/sounds/freedesktop/stereo/" + themeName + ext;
            if (QFileInfo(path).isFile())
                return path;
        }
    }
    return std::nullopt;
}

std::shared_ptr<SoundPlayer> SoundPlayer::systemSound(const QString& name) {
    // Kept for the process's life, so a sound keeps playing after the caller lets go of it.
    static QHash<QString, std::shared_ptr<SoundPlayer>> cache;
    if (auto it = cache.find(name); it != cache.end())
        return *it;
    const auto path = systemSoundPath(name);
    if (!path)
        return nullptr;
    try {
        auto player = fromFile(*path);
        cache.insert(name, player);
        return player;
    } catch (const Error&) {
        return nullptr;
    }
}

}  // namespace platform
