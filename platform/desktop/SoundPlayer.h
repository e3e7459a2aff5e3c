#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace platform {

// A decoded sound that plays through the sound server without blocking the caller. Destroying the
// player stops its sound.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;

    // Decodes a file (a path or a ":/" resource). Throws PlatformError (domain "SoundPlayer") when
    // the file cannot be read or decoded.
    static std::shared_ptr<SoundPlayer> fromFile(const QString& path);
    // The same from bytes already in memory.
    static std::shared_ptr<SoundPlayer> fromData(const QByteArray& data);

    // Linear gain, 0 to 1.
    virtual void setVolume(float volume) = 0;
    virtual float volume() const = 0;
    // Starts playing from the beginning (stopping an earlier run) and returns at once; the sound
    // server is reached in the background, and a failure there goes to the log.
    virtual bool play() = 0;
    virtual bool isPlaying() const = 0;
    // Seconds of sound.
    virtual double duration() const = 0;

    // The desktop's bell.
    static void beep();

    // A sound of the desktop's sound theme by its theme name ("camera-shutter") or by the name the
    // app uses for it ("Tink"); no value when it is not installed.
    static std::optional<QString> systemSoundPath(const QString& name);
    // A player for a named system sound; null when the sound is missing or undecodable.
    static std::shared_ptr<SoundPlayer> systemSound(const QString& name);
};

}  // namespace platform
