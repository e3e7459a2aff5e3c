#pragma once

#include "packages/GlobalShortcuts/Shortcut.h"

#include <QList>

#include <functional>
#include <string>

namespace platform {
struct HotKeyEvent;
}

namespace GlobalShortcuts {

// Makes shortcuts global through the desktop's hot-key service and turns its events into calls of
// the key-down and key-up callbacks. While a menu is open the hot keys are withdrawn and the
// application's own key events are matched instead; when it closes they are registered again under
// their old identifiers. Main thread only.
//
// A refused shortcut keeps its record and is tried again whenever the menus close, and now and then
// while another program holds its keys (it may let go), until the system takes it or it is
// unregistered. One the system cannot take at all (an unusable stored record) is not polled.
class SystemGlobalShortcuts {
public:
    using Callback = std::function<void(const Shortcut&)>;
    // Told once when the system refuses the shortcut (the status), not at each further try, and
    // once when a refused shortcut is taken after all (noErr).
    using RegistrationCallback = std::function<void(const Shortcut&, int status)>;

    static constexpr quint32 signature = 0x48544B59;  // 'HTKY'
    static constexpr int eventParameterNotFoundErr = -9870;
    // Milliseconds between two tries of the refused shortcuts: a grab or two each time, nothing
    // while none is refused.
    static constexpr int retryInterval = 2000;

    // Without a registration callback, a refusal and a late success are logged by logRegistration.
    static void registerShortcut(const Shortcut& shortcut, Callback onKeyDown, Callback onKeyUp,
                                 RegistrationCallback onRegistration = {});
    // "Error registering hotkey <what>: <status>" for a refusal, "Registered hotkey <what> after it
    // was refused" for a late success.
    static std::string registrationLine(const QString& what, int status);
    static void logRegistration(const Shortcut& shortcut, int status);
    static void unregisterShortcut(const Shortcut& shortcut);
    // Puts registration and event delivery in line with the package's isEnabled and isMenuOpen.
    static void updateEventHandler();
    // The desktop's own enabled shortcuts, where they can be read.
    static QList<Shortcut> system();
    // Whether the desktop or another program has the shortcut: it is in the list, or, where the
    // list cannot be read, a trial registration finds it held. This application's own are not.
    static bool isSystemShortcut(const Shortcut& shortcut);

    // The installed handler: noErr when the event was ours and consumed, eventNotHandledErr (or a
    // parameter error) when it was not.
    static int handleEvent(const platform::HotKeyEvent* event);

    // Forgets every record and the installed handler (tests).
    static void resetForTesting();
};

}  // namespace GlobalShortcuts
