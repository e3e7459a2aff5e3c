#pragma once

namespace zentola {

// The three capture shortcuts' default combinations, stored only where the user has none.
class ShortcutDefaults {
public:
    // Ctrl+Shift+6, +7 and +8 for openOverlay, instantCapture and quickRecord, in that order; a
    // stored shortcut is never overwritten.
    static void registerDefaults();
};

}  // namespace zentola
