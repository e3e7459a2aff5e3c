#include "packages/GlobalShortcuts/Shortcut.h"

#include "packages/GlobalShortcuts/EventMask.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/Localization.h"
#include "packages/GlobalShortcuts/UnicodeScalar.h"
#include "platform/input/KeyCodeTable.h"
#include "platform/input/KeyboardLayout.h"

#include <QAction>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QMenu>
#include <QTextBoundaryFinder>
#include <QWidget>

#include <limits>
#include <unordered_map>

namespace GlobalShortcuts {

namespace {

// A key with a fixed rendering: the toolkit's key the position produces on a Linux keyboard (which
// also names it), and its menu key equivalent. Keypad keys have no place in menus.
struct SpecialKey {
    QKeyCombination name;
    std::optional<QString> menuEquivalent;
    bool inMenus = true;
};

const std::unordered_map<qint64, SpecialKey>& keyToSpecialKeyMapping() {
    static const std::unordered_map<qint64, SpecialKey> map = [] {
        std::unordered_map<qint64, SpecialKey> m;
        const struct {
            Key key;
            int qtKey;
            char16_t glyph;
        } glyphs[] = {{Key::return_, Qt::Key_Return, 0x21A9},   {Key::delete_, Qt::Key_Backspace, 0x232B},
                      {Key::deleteForward, Qt::Key_Delete, 0x2326}, {Key::end, Qt::Key_End, 0x2198},
                      {Key::escape, Qt::Key_Escape, 0x238B},    {Key::home, Qt::Key_Home, 0x2196},
                      {Key::tab, Qt::Key_Tab, 0x21E5},          {Key::pageUp, Qt::Key_PageUp, 0x21DE},
                      {Key::pageDown, Qt::Key_PageDown, 0x21DF}, {Key::upArrow, Qt::Key_Up, 0x2191},
                      {Key::rightArrow, Qt::Key_Right, 0x2192}, {Key::downArrow, Qt::Key_Down, 0x2193},
                      {Key::leftArrow, Qt::Key_Left, 0x2190}};
        for (const auto& g : glyphs)
            m.emplace(g.key.rawValue, SpecialKey{QKeyCombination(Qt::Key(g.qtKey)), QString(QChar(g.glyph))});
        // The help key sits where a PC keyboard has Insert.
        m.emplace(Key::help.rawValue, SpecialKey{QKeyCombination(Qt::Key_Insert), QStringLiteral("?") + QChar(0x20DD)});
        m.emplace(Key::space.rawValue, SpecialKey{QKeyCombination(Qt::Key_Space), QStringLiteral(" ")});
        const Key fkeys[] = {Key::f1,  Key::f2,  Key::f3,  Key::f4,  Key::f5,  Key::f6,  Key::f7,
                             Key::f8,  Key::f9,  Key::f10, Key::f11, Key::f12, Key::f13, Key::f14,
                             Key::f15, Key::f16, Key::f17, Key::f18, Key::f19, Key::f20};
        for (int i = 0; i < 20; ++i)
            m.emplace(fkeys[i].rawValue,
                      SpecialKey{QKeyCombination(Qt::Key(Qt::Key_F1 + i)), characterFromUnicodeScalar(0xF704 + i)});
        // F13 sits where a PC keyboard has Print, and is named so.
        m.at(Key::f13.rawValue).name = QKeyCombination(Qt::Key_Print);
        auto pad = [&](Key key, int qtKey) {
            m.emplace(key.rawValue, SpecialKey{QKeyCombination(Qt::KeypadModifier, Qt::Key(qtKey)), std::nullopt, false});
        };
        const Key keypad[] = {Key::keypad0, Key::keypad1, Key::keypad2, Key::keypad3, Key::keypad4,
                              Key::keypad5, Key::keypad6, Key::keypad7, Key::keypad8, Key::keypad9};
        for (int i = 0; i < 10; ++i)
            pad(keypad[i], Qt::Key_0 + i);
        pad(Key::keypadDecimal, Qt::Key_Period);
        pad(Key::keypadDivide, Qt::Key_Slash);
        pad(Key::keypadEnter, Qt::Key_Enter);
        pad(Key::keypadEquals, Qt::Key_Equal);
        pad(Key::keypadMinus, Qt::Key_Minus);
        pad(Key::keypadMultiply, Qt::Key_Asterisk);
        pad(Key::keypadPlus, Qt::Key_Plus);
        // The keypad's clear key sits where a PC keyboard has Num Lock.
        m.emplace(Key::keypadClear.rawValue, SpecialKey{QKeyCombination(Qt::Key_NumLock), std::nullopt, false});
        return m;
    }();
    return map;
}

const SpecialKey* specialKey(qint64 code) {
    const auto& map = keyToSpecialKeyMapping();
    auto it = map.find(code);
    return it == map.end() ? nullptr : &it->second;
}

// A key the layout gives no character: named as the toolkit names the key at its place, else by its
// code (a stored record may hold any number), never by a replacement character.
QString keyWithoutCharacter(qint64 code) {
    static const std::unordered_map<qint64, Qt::Key> named{{Key::mute.rawValue, Qt::Key_VolumeMute},
                                                           {Key::volumeUp.rawValue, Qt::Key_VolumeUp},
                                                           {Key::volumeDown.rawValue, Qt::Key_VolumeDown}};
    if (auto it = named.find(code); it != named.end())
        return QKeySequence(it->second).toString(QKeySequence::NativeText);
    return QStringLiteral("Key %1").arg(code);
}

bool isSingleCharacter(const QString& text) {
    if (text.isEmpty())
        return false;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    return finder.toNextBoundary() == text.size();
}

}  // namespace

Shortcut::Shortcut(qint64 code, qint64 mods)
    : carbonKeyCode(code), carbonModifiers(ModifierFlags::fromCarbon(mods).carbon()) {}

Shortcut::Shortcut(Key key, ModifierFlags mods) : carbonKeyCode(key.rawValue), carbonModifiers(mods.carbon()) {}

std::optional<Shortcut> Shortcut::fromEvent(QEvent::Type type, qint64 keyCode, ModifierFlags flags) {
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return std::nullopt;
    flags.rawValue &= ~ModifierFlags::function;
    return Shortcut(keyCode, flags.carbon());
}

std::optional<Shortcut> Shortcut::fromEvent(const QEvent* event) {
    if (!event || (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease))
        return std::nullopt;
    const auto* key = static_cast<const QKeyEvent*>(event);
    // A modifier key alone only changes the modifier state; it is no shortcut.
    if (EventMask::isModifierKey(key->key()))
        return std::nullopt;
    auto code = platform::KeyCodeTable::virtualKeyCode(*key);
    if (!code)
        return std::nullopt;
    return fromEvent(event->type(), *code, ModifierFlags::fromQt(key->modifiers()));
}

std::optional<Shortcut> Shortcut::fromName(const Name& name) { return getShortcut(name); }

QByteArray Shortcut::encode() const {
    // Written by hand: QJsonObject would sort the members, and the key code comes first.
    return QByteArray("{\"carbonKeyCode\":") + QByteArray::number(carbonKeyCode) + ",\"carbonModifiers\":" +
           QByteArray::number(carbonModifiers) + "}";
}

std::optional<Shortcut> Shortcut::decode(const QByteArray& json) {
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    QJsonObject o = doc.object();
    // Whole numbers only, all 64 bits of them.
    auto integer = [](const QJsonValue& v) -> std::optional<qint64> {
        constexpr qint64 notWhole = std::numeric_limits<qint64>::min();
        const qint64 n = v.toInteger(notWhole);
        if (n != notWhole || v.toInteger(0) == notWhole)
            return n;
        return std::nullopt;
    };
    auto code = integer(o.value("carbonKeyCode"));
    auto mods = integer(o.value("carbonModifiers"));
    if (!code || !mods)
        return std::nullopt;
    return Shortcut(Raw{}, *code, *mods);
}

std::optional<platform::KeyboardLayout::KeyText> Shortcut::keyToCharacter() const {
    if (specialKey(carbonKeyCode) || carbonKeyCode < 0 || carbonKeyCode > 0xFFFF)
        return std::nullopt;
    auto text = platform::KeyboardLayout::translate(static_cast<int>(carbonKeyCode));
    if (!text || !isSingleCharacter(text->character))
        return std::nullopt;
    return text;
}

QString Shortcut::presentableDescription() const {
    QString text = modifiers().symbolicRepresentation();
    if (carbonKeyCode == Key::space.rawValue) {
        // The package's word for the space bar, its first letter a capital.
        const QString word = localized("space_key");
        return text + word.left(1).toUpper() + word.mid(1);
    }
    if (const SpecialKey* special = specialKey(carbonKeyCode))
        return text + QKeySequence(special->name).toString(QKeySequence::NativeText);
    auto key = keyToCharacter();
    return text + (key ? key->capital : keyWithoutCharacter(carbonKeyCode));
}

std::optional<QString> Shortcut::menuItemKeyEquivalent() const {
    if (const SpecialKey* special = specialKey(carbonKeyCode))
        return special->menuEquivalent;
    auto key = keyToCharacter();
    return key ? std::optional(key->character) : std::nullopt;
}

std::optional<QKeyCombination> Shortcut::toKeyCombination() const {
    // Qt has no Fn modifier: the combination without it would answer to another key press.
    if (modifiers().contains(ModifierFlags::function))
        return std::nullopt;
    int qtKey = 0;
    if (const SpecialKey* special = specialKey(carbonKeyCode)) {
        if (!special->inMenus)
            return std::nullopt;
        qtKey = special->name.key();
    } else {
        auto key = keyToCharacter();
        if (!key)
            return std::nullopt;
        // Qt names a character key by the character's single upper case, as its key events do:
        // ß stays ß (Key_ssharp), where the full upper case "SS" would make it the S key.
        qtKey = static_cast<int>(QChar::toUpper(key->character.toUcs4().value(0)));
    }
    return QKeyCombination(modifiers().toQt(), static_cast<Qt::Key>(qtKey));
}

QKeySequence Shortcut::toKeySequence() const {
    auto combination = toKeyCombination();
    return combination ? QKeySequence(*combination) : QKeySequence();
}

QAction* Shortcut::menuItemWithMatchingShortcut(const QWidget* menu) const {
    if (!menu)
        return nullptr;
    auto wanted = toKeyCombination();
    if (!wanted)
        return nullptr;
    for (QAction* action : menu->actions()) {
        const QKeySequence sequence = action->shortcut();
        if (sequence.count() == 1 && sequence[0] == *wanted)
            return action;
        if (QMenu* submenu = action->menu())
            if (QAction* found = menuItemWithMatchingShortcut(submenu))
                return found;
    }
    return nullptr;
}

size_t qHash(const Shortcut& shortcut, size_t seed) {
    return qHashMulti(seed, shortcut.carbonKeyCode, shortcut.carbonModifiers);
}

}  // namespace GlobalShortcuts
