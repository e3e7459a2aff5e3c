#pragma once

#include "Features/Capture/VideoRecordingManager.h"
#include "Services/PersistenceManager.h"
#include "platform/capture/RunningApplication.h"
#include "platform/defaults/DefaultsStore.h"
#include "support/RunTask.h"

#include <QDir>

// A recorder over the real X server, sound server and encoders, with its settings in a store of
// its own and the movies in a folder of their own.
class RecorderHarness {
public:
    // With showsOwnWindows the recordings leave none of this process's windows out.
    explicit RecorderHarness(const QString& folder, bool showsOwnWindows = false)
        : folder(folder), store_(folder + "/defaults.json"), settings_(store_) {
        QDir().mkpath(folder + "/Movies");
        settings_.saveVideoFolderAccess(QUrl::fromLocalFile(folder + "/Movies"));
        zentola::VideoRecordingManager::Environment env;
        env.persistence = [this]() -> zentola::PersistenceManager& { return settings_; };
        env.hasMicrophonePermission = [] { return true; };
        env.defaultAudioCaptureDeviceID = [] { return std::optional<QString>(); };
        env.bundleIdentifier = [=] { return showsOwnWindows ? QString() : platform::RunningApplication::ownBundleIdentifier(); };
        env.now = [] { return QDateTime::currentDateTime(); };
        manager_ = std::make_unique<zentola::VideoRecordingManager>(env);
    }

    zentola::PersistenceManager& settings() { return settings_; }
    zentola::VideoRecordingManager& manager() { return *manager_; }

    // Starts and waits; false (with the error's text in error()) when the start failed.
    bool start(zentola::CaptureMode mode, std::optional<zentola::SelectionRect> rect = {},
               std::optional<zentola::WindowInfo> window = {}, platform::ScreenRef screen = {}) {
        try {
            testing_support::runTask(manager_->startRecording(mode, rect, window, screen));
            error_.clear();
        } catch (const std::exception& e) {
            error_ = QString::fromStdString(platform::plainText(e));
        }
        return error_.isEmpty() && manager_->isRecording();
    }
    std::optional<QUrl> stop() { return testing_support::runTask(manager_->stopRecording()); }
    const QString& error() const { return error_; }
    const QString folder;

private:
    platform::DefaultsStore store_;
    zentola::PersistenceManager settings_;
    std::unique_ptr<zentola::VideoRecordingManager> manager_;
    QString error_;
};
