#include "Services/SoundManager.h"

#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "resources/Bundle.h"

#include <QFileInfo>

namespace zentola {

SoundManager::Environment SoundManager::Environment::system() {
    return Environment{
        [](const QString& path) { return QFileInfo(path).isFile(); },
        [](const QString& name, const QString& extension) { return Bundle::resourcePath(name, extension); },
        [](const QString& path) { return platform::SoundPlayer::fromFile(path); },
        [] { platform::SoundPlayer::beep(); },
    };
}

SoundManager& SoundManager::shared() {
    static SoundManager manager(Environment::system());
    return manager;
}

SoundManager::SoundManager(Environment environment) : env_(std::move(environment)) {}

const QStringList& SoundManager::systemScreenshotSoundPaths() {
    static const QStringList paths{
        "/usr/share/sounds/freedesktop/stereo/camera-shutter.oga",
        "/usr/share/sounds/freedesktop/stereo/screen-capture.oga",
    };
    return paths;
}

std::optional<QString> SoundManager::findSystemScreenshotSound() const {
    for (const QString& path : systemScreenshotSoundPaths()) {
        if (env_.fileExists(path))
            return path;
    }
    return std::nullopt;
}

void SoundManager::playShutterSound() {
    auto path = findSystemScreenshotSound();
    if (!path)
        path = env_.bundleResource("shutter", "aiff");
    if (!path) {
        env_.beep();
        return;
    }
    playSound(*path);
}

void SoundManager::playSound(const QString& path) {
    try {
        // Replacing the player stops the previous sound.
        audioPlayer_ = env_.makePlayer(path);
        audioPlayer_->setVolume(0.5f);
        audioPlayer_->play();
    } catch (const std::exception& e) {
        audioPlayer_.reset();
        platform::logLine("Failed to play sound: " + platform::plainText(e));
        env_.beep();
    }
}

}  // namespace zentola
