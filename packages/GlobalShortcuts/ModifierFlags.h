#pragma once

#include <QString>
#include <Qt>
#include <QtGlobal>

namespace GlobalShortcuts {

// Event modifier flags with the desktop-independent values shortcuts are stored with. The hot-key
// mask ("carbon") is the other form: command 0x100, shift 0x200, option 0x800, control 0x1000,
// function 0x20000.
struct ModifierFlags {
    quint64 rawValue = 0;

    static constexpr quint64 capsLock = 0x10000;
    static constexpr quint64 shift = 0x20000;
    static constexpr quint64 control = 0x40000;
    static constexpr quint64 option = 0x80000;
    static constexpr quint64 command = 0x100000;
    static constexpr quint64 numericPad = 0x200000;
    static constexpr quint64 help = 0x400000;
    static constexpr quint64 function = 0x800000;
    static constexpr quint64 deviceIndependentMask = 0xFFFF0000;

    constexpr ModifierFlags() = default;
    constexpr explicit ModifierFlags(quint64 raw) : rawValue(raw) {}

    // From a hot-key mask: only the five modifier bits count.
    static ModifierFlags fromCarbon(qint64 carbon);
    // The hot-key mask of these flags; every flag but the five modifiers is dropped.
    qint64 carbon() const;

    // Qt names command Ctrl and control Meta (Super), as the X11 keyboard does.
    static ModifierFlags fromQt(Qt::KeyboardModifiers modifiers);
    Qt::KeyboardModifiers toQt() const;

    // The names of the set modifiers as on a Linux keyboard, each followed by "+", in the order
    // Super, Ctrl, Alt, Shift, Fn: "Ctrl+Shift+".
    QString symbolicRepresentation() const;

    constexpr bool contains(quint64 flags) const { return (rawValue & flags) == flags; }
    constexpr bool isEmpty() const { return rawValue == 0; }
    friend constexpr bool operator==(ModifierFlags, ModifierFlags) = default;
    friend constexpr ModifierFlags operator|(ModifierFlags a, ModifierFlags b) { return ModifierFlags(a.rawValue | b.rawValue); }
    friend constexpr ModifierFlags operator&(ModifierFlags a, ModifierFlags b) { return ModifierFlags(a.rawValue & b.rawValue); }
};

}  // namespace GlobalShortcuts
