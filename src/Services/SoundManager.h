#pragma once

#include "platform/desktop/SoundPlayer.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace zentola {

// Plays the shutter sound: the desktop theme's, else the app's own, else the bell.
class SoundManager {
public:
    // What the sound choice depends on; system() is the real desktop.
    struct Environment {
        std::function<bool(const QString& path)> fileExists;
        std::function<std::optional<QString>(const QString& name, const QString& extension)> bundleResource;
        // Throws when the file cannot be played.
        std::function<std::shared_ptr<platform::SoundPlayer>(const QString& path)> makePlayer;
        std::function<void()> beep;

        static Environment system();
    };

    static SoundManager& shared();
    explicit SoundManager(Environment environment);

    // Starts the sound and returns at once.
    void playShutterSound();

    // The desktop's screenshot sounds, in the order they are tried.
    static const QStringList& systemScreenshotSoundPaths();
    std::optional<QString> findSystemScreenshotSound() const;

    // The player of the last sound; a new sound replaces (and so stops) it.
    const std::shared_ptr<platform::SoundPlayer>& audioPlayer() const { return audioPlayer_; }

private:
    void playSound(const QString& path);

    Environment env_;
    std::shared_ptr<platform::SoundPlayer> audioPlayer_;
};

}  // namespace zentola
