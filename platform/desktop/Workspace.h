#pragma once

#include "platform/capture/RunningApplication.h"

#include <QDBusConnection>
#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace platform {

// The desktop's file and settings launcher, and which application has the active window.
class Workspace {
public:
    enum class ApplicationEvent { didActivate, didDeactivate };
    using ObserverToken = quint64;

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

    // Brings the window to the front with the keyboard focus, restoring it when minimised, whichever
    // application has the active window.
    static void activate(QWidget* window);
    // Lets go of the input as the X server does when a window is unmapped, for a window that stays
    // mapped out of sight: the pointer grab a button press gave the application ends, and when the
    // window holds the keyboard focus it goes to the root window, from where a window manager gives
    // it to the window it would focus next.
    static void resignInput(QWidget* window);
    // Whether the window manager lists windows in a taskbar, or leaves them out when asked (it
    // supports the skip-taskbar state): whether a normal window gives the application an entry there.
    static bool showsTaskbarEntries();

    // Calls the observer on the main thread each time the active window passes from one
    // application to another: didDeactivate for the one that had it, didActivate for the one that
    // takes it. Read from the window manager's _NET_ACTIVE_WINDOW on the root window; without an
    // X server nothing is reported.
    static ObserverToken addApplicationObserver(ApplicationEvent event,
                                                std::function<void(const RunningApplication&)> observer);
    static void removeApplicationObserver(ObserverToken token);
    // Whether the application is one of the desktop's settings programs, which stand for the
    // platform's system settings (those openSettings starts among them).
    static bool isSystemSettings(const RunningApplication& application);
};

}  // namespace platform
