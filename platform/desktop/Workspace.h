#pragma once

#include <QDBusConnection>
#include <QString>
#include <QUrl>

namespace platform {

// The desktop's file and settings launcher.
class Workspace {
public:
    // Which settings page to show.
    enum class SettingsPage { microphone, screenCapture, accessibility };

    // Opens a file or URL with its default application. False when nothing could open it.
    static bool open(const QUrl& url);
    static bool openFile(const QString& path);
    // Asks the file manager on the session bus to show the file selected, without waiting for it;
    // when none answers, opens the folder that holds it.
    static bool revealInFileManager(const QString& path);
    static bool revealInFileManager(const QString& path, QDBusConnection bus);
    // Opens the desktop's settings for the page when a known settings program is installed.
    static bool openSettings(SettingsPage page);
};

}  // namespace platform
