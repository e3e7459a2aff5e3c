#pragma once

#include <QString>
#include <QtGlobal>

namespace platform {

// A process that owns windows on the screen. On X11 the bundle identifier is the windows' WM_CLASS
// class, except for this process, which reports ownBundleIdentifier().
struct RunningApplication {
    QString bundleIdentifier;
    QString applicationName;  // the process name (/proc/PID/comm) or the WM_CLASS class
    qint32 processID = 0;

    // This process's identifier: "com.zentola.Zentola".
    static QString ownBundleIdentifier();
};

}  // namespace platform
