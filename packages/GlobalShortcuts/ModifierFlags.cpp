#include "packages/GlobalShortcuts/ModifierFlags.h"

#include <QCoreApplication>

namespace GlobalShortcuts {

namespace {

struct Pair {
    quint64 flag;
    qint64 carbon;
};
constexpr Pair kPairs[] = {
    {ModifierFlags::control, 0x1000},
    {ModifierFlags::option, 0x800},
    {ModifierFlags::shift, 0x200},
    {ModifierFlags::command, 0x100},
    {ModifierFlags::function, 0x20000},
};

}  // namespace

ModifierFlags ModifierFlags::fromCarbon(qint64 carbon) {
    ModifierFlags flags;
    for (const Pair& p : kPairs)
        if (carbon & p.carbon)
            flags.rawValue |= p.flag;
    return flags;
}

qint64 ModifierFlags::carbon() const {
    qint64 mask = 0;
    for (const Pair& p : kPairs)
        if (rawValue & p.flag)
            mask |= p.carbon;
    return mask;
}

ModifierFlags ModifierFlags::fromQt(Qt::KeyboardModifiers modifiers) {
    ModifierFlags flags;
    if (modifiers & Qt::ControlModifier)
        flags.rawValue |= command;
    if (modifiers & Qt::MetaModifier)
        flags.rawValue |= control;
    if (modifiers & Qt::AltModifier)
        flags.rawValue |= option;
    if (modifiers & Qt::ShiftModifier)
        flags.rawValue |= shift;
    if (modifiers & Qt::KeypadModifier)
        flags.rawValue |= numericPad;
    return flags;
}

Qt::KeyboardModifiers ModifierFlags::toQt() const {
    Qt::KeyboardModifiers m;
    if (rawValue & command)
        m |= Qt::ControlModifier;
    if (rawValue & control)
        m |= Qt::MetaModifier;
    if (rawValue & option)
        m |= Qt::AltModifier;
    if (rawValue & shift)
        m |= Qt::ShiftModifier;
    if (rawValue & numericPad)
        m |= Qt::KeypadModifier;
    return m;
}

QString ModifierFlags::symbolicRepresentation() const {
    // Names and order as the toolkit writes a shortcut in menus, with the Linux name of the Super
    // key; "QShortcut" is the toolkit's own context, so a translation of it applies here too.
    QString s;
    auto add = [&](quint64 flag, const char* name, const char* context) {
        if (rawValue & flag)
            s += (context ? QCoreApplication::translate(context, name) : QString::fromLatin1(name)) + u'+';
    };
    add(control, "Super", nullptr);
    add(command, "Ctrl", "QShortcut");
    add(option, "Alt", "QShortcut");
    add(shift, "Shift", "QShortcut");
    add(function, "Fn", nullptr);
    return s;
}

}  // namespace GlobalShortcuts
