#pragma once

#include <QString>

#include <functional>

namespace platform {

// Tells the user of something they must know, where a tray app's user looks: the desktop's
// notification service when the session bus has one, else the tray icon's own message. Callers
// still write their log line; this is only what the user sees. Main thread only.
class UserNotice {
public:
    // Shows the title and body once. Answers whether something on the desktop took it.
    static bool show(const QString& title, const QString& body);

    // What shows the message when no notification service answers (the tray icon's balloon);
    // returns false when it cannot (no tray). An empty function removes it.
    using Fallback = std::function<bool(const QString& title, const QString& body)>;
    static void setFallback(Fallback fallback);
};

}  // namespace platform
