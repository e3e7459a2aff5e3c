#include "packages/GlobalShortcuts/Name.h"

#include "packages/GlobalShortcuts/GlobalShortcuts.h"

namespace GlobalShortcuts {

Name::Name(const QString& rawValue, std::optional<Shortcut> defaultShortcut)
    : rawValue_(rawValue), defaultShortcut_(defaultShortcut) {
    if (defaultShortcut_ && !userDefaultsContains(*this))
        userDefaultsSet(*this, *defaultShortcut_);
    initialize();
}

std::optional<Shortcut> Name::shortcut() const { return getShortcut(*this); }

void Name::setShortcut(const std::optional<Shortcut>& shortcut) const { GlobalShortcuts::setShortcut(shortcut, *this); }

const Name& Name::openOverlay() {
    static const Name name("openOverlay");
    return name;
}

const Name& Name::instantCapture() {
    static const Name name("instantCapture");
    return name;
}

const Name& Name::quickRecord() {
    static const Name name("quickRecord");
    return name;
}

}  // namespace GlobalShortcuts
