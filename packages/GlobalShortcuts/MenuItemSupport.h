#pragma once

#include "packages/GlobalShortcuts/Name.h"
#include "packages/GlobalShortcuts/Shortcut.h"

#include <optional>

class QAction;

namespace GlobalShortcuts {

// Menu items (actions) that show a shortcut.
class MenuItemSupport {
public:
    // Shows the shortcut as the action's key sequence; none clears it.
    static void setShortcut(QAction* action, const std::optional<Shortcut>& shortcut);
    // Binds the action to a name: it shows the name's stored shortcut now and after every change
    // (on the next event-loop turn). Binding another name replaces the binding; none unbinds and
    // clears.
    static void setShortcutFor(QAction* action, const std::optional<Name>& name);
};

}  // namespace GlobalShortcuts
