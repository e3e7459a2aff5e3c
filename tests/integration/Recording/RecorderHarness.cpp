#include "RecorderHarness.h"

#include "platform/capture/RunningApplication.h"

#include <QDir>
#include <qcoro/qcorotask.h>

using namespace zentola;

RecorderHarness::RecorderHarness(const QString& folder)
    : folder_(folder), store_(folder + "/defaults.json"), settings_(store_) {
    QDir().mkpath(folder + "/Movies");
    settings_.saveVideoFolderAccess(QUrl::fromLocalFile(folder + "/Movies"));
    VideoRecordingManager::Environment env;
    env.persistence = [this]() -> PersistenceManager& { return settings_; };
    env.hasMicrophonePermission = [] { return true; };
    env.defaultAudioCaptureDeviceID = [] { return std::optional<QString>(); };
    env.bundleIdentifier = [] { return platform::RunningApplication::ownBundleIdentifier(); };
    env.now = [] { return QDateTime::currentDateTime(); };
    manager_ = std::make_unique<VideoRecordingManager>(env);
}

bool RecorderHarness::start(CaptureMode mode, std::optional<SelectionRect> rect, std::optional<WindowInfo> window,
                            platform::ScreenRef screen) {
    error_.clear();
    // waitFor cannot carry an exception out of the task, so the failure is caught inside.
    QCoro::waitFor([](VideoRecordingManager& m, QString& error, CaptureMode mode, std::optional<SelectionRect> rect,
                      std::optional<WindowInfo> window, platform::ScreenRef screen) -> QCoro::Task<void> {
        try {
            co_await m.startRecording(mode, rect, window, screen);
        } catch (const std::exception& e) {
            error = QString::fromStdString(platform::plainText(e));
            if (error.isEmpty())
                error = "failed";
        }
    }(*manager_, error_, mode, rect, window, screen));
    return error_.isEmpty() && manager_->isRecording();
}

std::optional<QUrl> RecorderHarness::stop() { return QCoro::waitFor(manager_->stopRecording()); }
