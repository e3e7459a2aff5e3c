#pragma once

#include <QString>

#include <functional>

namespace platform {

// Tells the user of something they must know, where a tray app's user looks: the desktop's
// notification service (org.freedesktop.Notifications on the session bus) when the session has
// one, else the tray icon's own message. With neither, the caller's log line is all there is.
// Callers still write their log line; this is only what the user sees.
class UserNotice {
public:
    // Returns at once, from any thread; the desktop is never waited for. A notice the same as one
    // told in the last five seconds (while that one is still on screen) is not told again: one
    // failure that several paths report is one notice, and a burst of the same failure does not
    // pile up.
    static void show(const QString& title, const QString& body);

    // What shows the message when no notification service takes it (the tray icon's message);
    // returns false when it cannot (no tray). Set on the main thread, where it runs. An empty
    // function removes it.
    using Fallback = std::function<bool(const QString& title, const QString& body)>;
    static void setFallback(Fallback fallback);
};

}  // namespace platform
