#include "App/ShortcutDefaults.h"

#include "packages/GlobalShortcuts/GlobalShortcuts.h"

namespace zentola {

void ShortcutDefaults::registerDefaults() {
    using namespace GlobalShortcuts;
    const ModifierFlags commandShift(ModifierFlags::command | ModifierFlags::shift);
    const std::pair<const Name&, Key> defaults[] = {
        {Name::openOverlay(), Key::six},
        {Name::instantCapture(), Key::seven},
        {Name::quickRecord(), Key::eight},
    };
    for (const auto& [name, key] : defaults)
        if (!getShortcut(name))
            setShortcut(Shortcut(key, commandShift), name);
}

}  // namespace zentola
