#include "App/ShortcutDefaults.h"

#include "packages/GlobalShortcuts/ApplicationShortcuts.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"

namespace zentola {

void ShortcutDefaults::registerDefaults() {
    using namespace GlobalShortcuts;
    for (const Name& name : {Name::openOverlay(), Name::instantCapture(), Name::quickRecord()})
        if (!getShortcut(name))
            setShortcut(applicationDefault(name), name);
}

}  // namespace zentola
