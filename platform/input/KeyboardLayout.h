#pragma once

#include <QString>

#include <memory>
#include <optional>

struct xkb_keymap;

namespace platform {

// What a key types on a keyboard layout: the unshifted text of a virtual key code in the first
// ASCII-capable group of the keymap, so letters stay Latin while a non-Latin layout is active.
class KeyboardLayout {
public:
    // The text of the key on the keymap the X server uses now (the default U.S. keymap without a
    // display), or none when the key types nothing printable.
    static std::optional<QString> translate(int virtualKeyCode);

    // A keymap built from layout names, such as "ru,us" (tests and a fallback).
    static KeyboardLayout fromNames(const QString& layouts, const QString& variants = {});
    // The X server's current keymap, or none without a display.
    static std::optional<KeyboardLayout> current();
    // Puts a fixed layout in place of the current one (tests); none restores the current one.
    static void setCurrentForTesting(std::optional<KeyboardLayout> layout);

    std::optional<QString> translateKey(int virtualKeyCode) const;
    bool isValid() const { return keymap_ != nullptr; }
    // The index of the first group whose letter keys type the ASCII letters, or none.
    std::optional<int> asciiCapableGroup() const;

private:
    explicit KeyboardLayout(xkb_keymap* keymap);
    std::shared_ptr<xkb_keymap> keymap_;
};

}  // namespace platform
