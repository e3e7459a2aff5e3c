#pragma once

#include "platform/desktop/ProcessRunner.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

namespace zentola {

// Whether the process may record the screen and use the microphone. Both flags start false and are
// refreshed by the check and request operations only.
class PermissionManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasScreenRecordingPermission READ hasScreenRecordingPermission NOTIFY
                   hasScreenRecordingPermissionChanged)
    Q_PROPERTY(bool hasMicrophonePermission READ hasMicrophonePermission NOTIFY hasMicrophonePermissionChanged)

public:
    // The desktop facilities the checks use; system() is the real desktop.
    struct Environment {
        std::function<bool()> preflightScreenCapture;
        std::function<std::optional<QString>()> bundleIdentifier;
        std::function<QString()> homeDirectory;
        std::function<bool(const QString& path)> fileExists;
        std::function<platform::ProcessRunner::Result(const QString& program, const QStringList& arguments)> runProcess;
        // 0 not determined, 1 restricted, 2 denied, 3 authorised.
        std::function<int()> microphoneStatus;
        std::function<QCoro::Task<bool>()> requestMicrophoneAccess;
        std::function<void()> openMicrophoneSettings;

        static Environment system();
    };

    static PermissionManager& shared();
    // Runs both checks, as the shared instance does when it is made.
    explicit PermissionManager(Environment environment, QObject* parent = nullptr);

    bool hasScreenRecordingPermission() const { return hasScreenRecordingPermission_; }
    bool hasMicrophonePermission() const { return hasMicrophonePermission_; }

    void checkScreenRecordingPermission();
    void checkMicrophonePermission();
    QCoro::Task<bool> requestMicrophonePermission();
    void openMicrophoneSettings();

    // The permission database lookup: the query text with both values quoted as SQL literals.
    static QString permissionQuery(const QString& bundleID, const QString& service);
    // True only when the database exists and the query program prints a count of 1 or more.
    bool hasTCCEntry(const QString& bundleID, const QString& service);

signals:
    void hasScreenRecordingPermissionChanged(bool value);
    void hasMicrophonePermissionChanged(bool value);

private:
    bool checkTCCScreenRecordingPermission();
    void autoResetPermissionsForSignatureMismatch(const QString& bundleID);
    void setScreenRecording(bool value);
    void setMicrophone(bool value);

    Environment env_;
    bool hasScreenRecordingPermission_ = false;
    bool hasMicrophonePermission_ = false;
};

}  // namespace zentola
