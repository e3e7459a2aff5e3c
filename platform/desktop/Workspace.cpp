#include "platform/desktop/Workspace.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <utility>
#include <vector>

namespace platform {

bool Workspace::open(const QUrl& url) {
    return url.isValid() && QDesktopServices::openUrl(url);
}

bool Workspace::openFile(const QString& path) {
    return open(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

bool Workspace::revealInFileManager(const QString& path) {
    return revealInFileManager(path, QDBusConnection::sessionBus());
}

bool Workspace::revealInFileManager(const QString& path, QDBusConnection bus) {
    const QFileInfo info(path);
    const QUrl folder = QUrl::fromLocalFile(info.absolutePath());
    if (!bus.isConnected())
        return open(folder);
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       service, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded)} << QString();
    // Not waited for: a busy file manager must not stall the caller, and one that is not running
    // yet is started by the bus. When none answers, the folder opens instead.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, folder] {
        if (watcher->isError())
            open(folder);
        watcher->deleteLater();
    });
    return true;
}

bool Workspace::openSettings(SettingsPage page) {
    // Settings programs of the common desktops, most specific first.
    std::vector<std::pair<QString, QStringList>> candidates;
    switch (page) {
    case SettingsPage::microphone:
        candidates = {{"pavucontrol", {"--tab=4"}},
                      {"gnome-control-center", {"sound"}},
                      {"systemsettings", {"kcm_pulseaudio"}},
                      {"xfce4-mixer", {}}};
        break;
    case SettingsPage::screenCapture:
    case SettingsPage::accessibility:
        candidates = {{"gnome-control-center", {"privacy"}}, {"systemsettings", {}}};
        break;
    }
    for (const auto& [program, arguments] : candidates) {
        const QString found = QStandardPaths::findExecutable(program);
        if (!found.isEmpty() && QProcess::startDetached(found, arguments))
            return true;
    }
    return false;
}

}  // namespace platform
