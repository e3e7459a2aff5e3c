#pragma once

#include <QString>

#include <memory>
#include <optional>

struct xkb_keymap;

namespace platform {

// What a key types on a keyboard layout, read from the first group of the keymap that types the
// Latin letters, so letters stay Latin while a non-Latin layout is active.
class KeyboardLayout {
public:
    struct KeyText {
        // The key's unshifted character; a dead key gives its accent as a character of its own.
        QString character;
        // How the key is named in capitals: the layout's own Shift when that gives the upper case
        // of the letter (Turkish ı and i stay apart as I and İ), else the character's single upper
        // case, so ß stays ß.
        QString capital;
    };

    // The key on the keymap the X server uses now, or none when it types nothing printable. A
    // keymap without a Latin group, or no display at all, reads as the U.S. layout.
    static std::optional<KeyText> translate(int virtualKeyCode);

    // A keymap built from layout names, such as "ru,us" (tests and a fallback).
    static KeyboardLayout fromNames(const QString& layouts, const QString& variants = {});
    // The X server's current keymap, or none without a display.
    static std::optional<KeyboardLayout> current();
    // Puts a fixed layout in place of the current one (tests); none restores the current one.
    static void setCurrentForTesting(std::optional<KeyboardLayout> layout);

    std::optional<KeyText> translateKey(int virtualKeyCode) const;
    bool isValid() const { return keymap_ != nullptr; }
    // The index of the first group in which keys type every letter from a to z, or none.
    std::optional<int> asciiCapableGroup() const;

private:
    explicit KeyboardLayout(xkb_keymap* keymap);
    std::optional<QString> character(int xKeycode, int group, int level) const;
    std::shared_ptr<xkb_keymap> keymap_;
};

}  // namespace platform
