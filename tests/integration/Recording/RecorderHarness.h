#pragma once

#include "Features/Capture/VideoRecordingManager.h"
#include "Services/PersistenceManager.h"
#include "platform/defaults/DefaultsStore.h"

#include <QString>

#include <memory>

// A recorder over the real X server, sound server and encoders, with its settings in a store of
// its own and the movies in a folder of their own.
class RecorderHarness {
public:
    explicit RecorderHarness(const QString& folder);

    zentola::PersistenceManager& settings() { return settings_; }
    zentola::VideoRecordingManager& manager() { return *manager_; }
    QString folder() const { return folder_; }

    // Starts and waits; false (with the error's text in error()) when the start failed.
    bool start(zentola::CaptureMode mode, std::optional<zentola::SelectionRect> rect = {},
               std::optional<zentola::WindowInfo> window = {}, platform::ScreenRef screen = {});
    std::optional<QUrl> stop();
    const QString& error() const { return error_; }

private:
    QString folder_;
    platform::DefaultsStore store_;
    zentola::PersistenceManager settings_;
    std::unique_ptr<zentola::VideoRecordingManager> manager_;
    QString error_;
};
