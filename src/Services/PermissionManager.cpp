#include "Services/PermissionManager.h"

#include "platform/core/Log.h"
#include "platform/desktop/Permissions.h"
#include "platform/desktop/Workspace.h"
#include "resources/Bundle.h"

#include <QDir>
#include <QFileInfo>

namespace zentola {
namespace {

// An SQL string literal: quotes doubled, so an identifier cannot end the literal early.
QString sqlLiteral(const QString& text) {
    QString quoted = text;
    quoted.replace('\'', "''");
    return '\'' + quoted + '\'';
}

}  // namespace

PermissionManager::Environment PermissionManager::Environment::system() {
    return Environment{
        [] { return platform::Permissions::preflightScreenCapture(); },
        []() -> std::optional<QString> { return Bundle::identifier(); },
        [] { return QDir::homePath(); },
        [](const QString& path) { return QFileInfo(path).isFile(); },
        [](const QString& program, const QStringList& arguments) {
            return platform::ProcessRunner::run(program, arguments);
        },
        [] { return static_cast<int>(platform::Permissions::microphoneStatus()); },
        [] { return platform::Permissions::requestMicrophoneAccess(); },
        [] { platform::Workspace::openSettings(platform::Workspace::SettingsPage::microphone); },
    };
}

PermissionManager& PermissionManager::shared() {
    static PermissionManager* manager = new PermissionManager(Environment::system());
    return *manager;
}

PermissionManager::PermissionManager(Environment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)) {
    checkScreenRecordingPermission();
    checkMicrophonePermission();
}

void PermissionManager::setScreenRecording(bool value) {
    if (hasScreenRecordingPermission_ == value)
        return;
    hasScreenRecordingPermission_ = value;
    emit hasScreenRecordingPermissionChanged(value);
}

void PermissionManager::setMicrophone(bool value) {
    if (hasMicrophonePermission_ == value)
        return;
    hasMicrophonePermission_ = value;
    emit hasMicrophonePermissionChanged(value);
}

void PermissionManager::checkScreenRecordingPermission() {
    if (env_.preflightScreenCapture()) {
        setScreenRecording(true);
        return;
    }
    setScreenRecording(checkTCCScreenRecordingPermission());
}

bool PermissionManager::checkTCCScreenRecordingPermission() {
    const auto bundleID = env_.bundleIdentifier();
    if (!bundleID || bundleID->isEmpty())
        return false;
    if (hasTCCEntry(*bundleID, "kTCCServiceScreenCapture"))
        autoResetPermissionsForSignatureMismatch(*bundleID);
    return false;
}

QString PermissionManager::permissionQuery(const QString& bundleID, const QString& service) {
    return "    SELECT COUNT(*) FROM access \n    WHERE service=" + sqlLiteral(service) +
           " AND client_type=0 AND client=" + sqlLiteral(bundleID);
}

bool PermissionManager::hasTCCEntry(const QString& bundleID, const QString& service) {
    const QString database = env_.homeDirectory() + "/Library/Application Support/com.apple.TCC/TCC.db";
    // Without a permission database there is nothing to ask.
    if (!env_.fileExists(database))
        return false;
    const auto result = env_.runProcess("/usr/bin/sqlite3", {database, permissionQuery(bundleID, service)});
    if (!result.started || result.exitCode != 0)
        return false;
    // Only a count is an answer; an error message is not an entry.
    bool isNumber = false;
    const qlonglong count = QString::fromUtf8(result.output).trimmed().toLongLong(&isNumber);
    return isNumber && count >= 1;
}

void PermissionManager::autoResetPermissionsForSignatureMismatch(const QString& bundleID) {
    platform::logLine("[PermissionManager] Signature mismatch detected, auto-resetting permissions for clean onboarding");
    for (const char* service : {"ScreenCapture", "Microphone", "Accessibility"})
        env_.runProcess("/usr/bin/tccutil", {"reset", service, bundleID});
}

void PermissionManager::checkMicrophonePermission() {
    setMicrophone(env_.microphoneStatus() == 3);
}

QCoro::Task<bool> PermissionManager::requestMicrophonePermission() {
    const int status = env_.microphoneStatus();
    platform::logLine("[Zentola] Microphone authorization status: " + std::to_string(status) +
                      " (0=notDetermined, 1=restricted, 2=denied, 3=authorized)");
    bool result = false;
    switch (status) {
    case 0: {
        platform::logLine("[Zentola] Microphone not determined, requesting access...");
        const bool granted = co_await env_.requestMicrophoneAccess();
        platform::logLine(std::string("[Zentola] Microphone access request result: ") + (granted ? "true" : "false"));
        setMicrophone(granted);
        co_return granted;
    }
    case 1:
        platform::logLine("[Zentola] Microphone access restricted");
        break;
    case 2:
        platform::logLine("[Zentola] Microphone access denied - user needs to enable in System Settings");
        break;
    case 3:
        platform::logLine("[Zentola] Microphone already authorized");
        result = true;
        break;
    default:
        platform::logLine("[Zentola] Microphone unknown status");
        break;
    }
    setMicrophone(result);
    co_return result;
}

void PermissionManager::openMicrophoneSettings() {
    env_.openMicrophoneSettings();
}

}  // namespace zentola
