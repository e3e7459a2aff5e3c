#pragma once

#include <QtGlobal>

#include <optional>

class QEvent;

namespace GlobalShortcuts {

// Event-type masks of the event monitors, one bit per event type (bit n for type n).
struct EventMask {
    static constexpr int leftMouseDown = 1;
    static constexpr int leftMouseUp = 2;
    static constexpr int rightMouseDown = 3;
    static constexpr int rightMouseUp = 4;
    static constexpr int keyDown = 10;
    static constexpr int keyUp = 11;
    static constexpr int flagsChanged = 12;

    static constexpr quint64 bit(int type) { return quint64(1) << type; }
    // The event's type number, or none for events no mask can name.
    static std::optional<int> typeOf(const QEvent* event);
    static bool matches(quint64 mask, const QEvent* event);
    // Keys that only change the modifier state: their presses and releases are flag changes.
    static bool isModifierKey(int qtKey);
};

}  // namespace GlobalShortcuts
