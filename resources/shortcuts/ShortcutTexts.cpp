#include "resources/shortcuts/ShortcutTexts.h"

#include <QHash>

namespace GlobalShortcuts {

std::optional<QString> ShortcutTexts::text(const QString& key) {
    static const QHash<QString, QString> english{
        {"record_shortcut", "Record Shortcut"},
        {"press_shortcut", "Press Shortcut"},
        {"keyboard_shortcut_used_by_menu_item", "This keyboard shortcut cannot be used as it’s already used by the “%@” menu item."},
        {"keyboard_shortcut_disallowed", "This keyboard shortcut is not allowed. It needs Ctrl or Super with Alt."},
        {"keyboard_shortcut_used_by_system", "This keyboard shortcut cannot be used as it’s already a system-wide keyboard shortcut."},
        {"keyboard_shortcuts_can_be_changed", "Most system-wide keyboard shortcuts can be changed in your desktop’s keyboard settings."},
        {"ok", "OK"},
        {"force_use_shortcut", "Use Anyway"},
        {"space_key", "space"},
    };
    auto it = english.constFind(key);
    if (it == english.constEnd())
        return std::nullopt;
    return *it;
}

}  // namespace GlobalShortcuts
