#include "platform/desktop/Workspace.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
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
    const QString absolute = info.absoluteFilePath();
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(service).value()) {
        QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                           service, QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded)} << QString();
        const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
    }
    return open(QUrl::fromLocalFile(info.absolutePath()));
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
