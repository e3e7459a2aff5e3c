#pragma once

#include "packages/GlobalShortcuts/Key.h"
#include "packages/GlobalShortcuts/ModifierFlags.h"
#include "platform/input/KeyboardLayout.h"

#include <QByteArray>
#include <QEvent>
#include <QKeyCombination>
#include <QKeySequence>
#include <QString>

#include <functional>
#include <optional>

class QAction;
class QWidget;

namespace GlobalShortcuts {

class Name;

// One key combination: a virtual key code and a hot-key modifier mask (command 0x100, shift 0x200,
// option 0x800, control 0x1000, function 0x20000).
struct Shortcut {
    qint64 carbonKeyCode = 0;
    qint64 carbonModifiers = 0;

    // Keeps the key code and only the five modifier bits of the mask.
    Shortcut(qint64 carbonKeyCode, qint64 carbonModifiers);
    Shortcut(Key key, ModifierFlags modifiers);

    // The shortcut of a key press or release; none for any other event and for keys alone that
    // only change modifiers. The function flag is never taken over.
    static std::optional<Shortcut> fromEvent(const QEvent* event);
    static std::optional<Shortcut> fromEvent(QEvent::Type type, qint64 keyCode, ModifierFlags flags);
    // The shortcut stored for the name, if any.
    static std::optional<Shortcut> fromName(const Name& name);

    // The JSON record {"carbonKeyCode":…,"carbonModifiers":…}, compact. Decoding takes both
    // members exactly as written, in any order, and ignores others.
    QByteArray encode() const;
    static std::optional<Shortcut> decode(const QByteArray& json);

    Key key() const { return Key(carbonKeyCode); }
    ModifierFlags modifiers() const { return ModifierFlags::fromCarbon(carbonModifiers); }

    // The modifiers' names then the key's, as on a Linux keyboard and in menus ("Ctrl+Shift+6"):
    // the key's name for special keys, else its character on the current layout in capitals
    // (U+FFFD when it types nothing single).
    QString presentableDescription() const;
    QString description() const { return presentableDescription(); }
    // The key alone as a menu shows it; none for keypad keys and keys the layout cannot type.
    std::optional<QString> menuItemKeyEquivalent() const;
    // The shortcut as Qt's key combination; none where there is no key equivalent or the
    // shortcut needs the Fn key.
    std::optional<QKeyCombination> toKeyCombination() const;
    QKeySequence toKeySequence() const;
    // The first action of the menu (a QMenu or QMenuBar) or its submenus, depth first, whose
    // shortcut is this one.
    QAction* menuItemWithMatchingShortcut(const QWidget* menu) const;

    friend bool operator==(const Shortcut&, const Shortcut&) = default;

private:
    struct Raw {};
    Shortcut(Raw, qint64 code, qint64 modifiers) : carbonKeyCode(code), carbonModifiers(modifiers) {}
    std::optional<platform::KeyboardLayout::KeyText> keyToCharacter() const;
};

size_t qHash(const Shortcut& shortcut, size_t seed = 0);

}  // namespace GlobalShortcuts

template <>
struct std::hash<GlobalShortcuts::Shortcut> {
    size_t operator()(const GlobalShortcuts::Shortcut& s) const noexcept { return GlobalShortcuts::qHash(s); }
};
