#pragma once

#include "packages/GlobalShortcuts/Name.h"
#include "packages/GlobalShortcuts/Shortcut.h"

#include <QString>

#include <functional>
#include <optional>

class QLabel;

namespace GlobalShortcuts {

// The combination the application stores for one of its own names where the user has none:
// Ctrl+Shift+6, +7 and +8 for openOverlay, instantCapture and quickRecord; none for other names.
std::optional<Shortcut> applicationDefault(const Name& name);

// How the application names that combination wherever it shows it (tray menu, onboarding, notes):
// as its recorder shows it, for the keyboard layout in use now. On AZERTY the key of "6" types "-",
// and Linux toolkits name a key by what it types, so it reads "Ctrl+Shift+-" there.
QString applicationDefaultText(const Name& name);

// What the application calls the shortcut of one of its own names, as its settings list it ("Open
// capture overlay"); the raw value for other names.
QString applicationShortcutTitle(const Name& name);

// Writes the label's text now and again whenever the keyboard layout changes.
void followKeyboardLayout(QLabel* label, std::function<QString()> text);

}  // namespace GlobalShortcuts
