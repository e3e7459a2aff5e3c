#pragma once

#include <optional>

class QKeyEvent;

namespace platform {

// Virtual key codes (the values stored shortcuts use, e.g. 22 for "6") against the keys of a Linux
// keyboard. evdev codes are the kernel's; an X keycode is the evdev code plus 8.
class KeyCodeTable {
public:
    static std::optional<int> evdevFromVirtual(int virtualKeyCode);
    static std::optional<int> virtualFromEvdev(int evdevCode);
    static std::optional<int> xKeycodeFromVirtual(int virtualKeyCode);
    static std::optional<int> virtualFromXKeycode(int xKeycode);

    // The virtual key code of a Qt key (as typed on a U.S. layout), for key events that carry no
    // native scan code, such as synthesized ones.
    static std::optional<int> virtualFromQtKey(int qtKey, bool keypad);

    // The key's virtual code: from the X keycode when the event has one, else from its Qt key.
    static std::optional<int> virtualKeyCode(const QKeyEvent& event);
};

}  // namespace platform
