#pragma once

#include <optional>
#include <string_view>
#include <vector>

class QKeyEvent;

namespace platform {

// Virtual key codes (the values stored shortcuts use, e.g. 22 for "6") against the keys of a Linux
// keyboard, named as XKB names key positions (<AE06>, <UP>). The names stay the same on every X
// server; the server's key codes do not (evdev servers put <UP> at 111, xfree86 ones at 98), so
// codes are always looked up in the keymap of the server in question.
class KeyCodeTable {
public:
    static std::optional<std::string_view> keyName(int virtualKeyCode);
    // Every virtual key code that names a key position, in no particular order.
    static const std::vector<int>& virtualKeyCodes();

    // The key's code on the X server the application uses now (through its current keymap).
    static std::optional<int> xKeycodeFromVirtual(int virtualKeyCode);
    static std::optional<int> virtualFromXKeycode(int xKeycode);

    // The virtual key code of a Qt key (as typed on a U.S. layout), for key events that carry no
    // native scan code, such as synthesized ones.
    static std::optional<int> virtualFromQtKey(int qtKey, bool keypad);

    // The key's virtual code: from the X keycode when the event has one, else from its Qt key.
    static std::optional<int> virtualKeyCode(const QKeyEvent& event);
};

}  // namespace platform
