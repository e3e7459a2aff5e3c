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

// A key with a fixed rendering: its text, its menu key equivalent, its Qt key.
struct SpecialKey {
    QString presentable;
    std::optional<QString> menuEquivalent;
    std::optional<int> qtKey;
};

QString keypadGlyph(const QString& base) { return base + QChar(0x20E3); }

const std::unordered_map<qint64, SpecialKey>& keyToSpecialKeyMapping() {
    static const std::unordered_map<qint64, SpecialKey> map = [] {
        std::unordered_map<qint64, SpecialKey> m;
        auto glyph = [&](Key key, char16_t g, int qtKey) {
            m.emplace(key.rawValue, SpecialKey{QString(QChar(g)), QString(QChar(g)), qtKey});
        };
        glyph(Key::return_, 0x21A9, Qt::Key_Return);
        glyph(Key::delete_, 0x232B, Qt::Key_Backspace);
        glyph(Key::deleteForward, 0x2326, Qt::Key_Delete);
        glyph(Key::end, 0x2198, Qt::Key_End);
        glyph(Key::escape, 0x238B, Qt::Key_Escape);
        glyph(Key::home, 0x2196, Qt::Key_Home);
        glyph(Key::tab, 0x21E5, Qt::Key_Tab);
        glyph(Key::pageUp, 0x21DE, Qt::Key_PageUp);
        glyph(Key::pageDown, 0x21DF, Qt::Key_PageDown);
        glyph(Key::upArrow, 0x2191, Qt::Key_Up);
        glyph(Key::rightArrow, 0x2192, Qt::Key_Right);
        glyph(Key::downArrow, 0x2193, Qt::Key_Down);
        glyph(Key::leftArrow, 0x2190, Qt::Key_Left);
        const QString help = QStringLiteral("?") + QChar(0x20DD);
        m.emplace(Key::help.rawValue, SpecialKey{help, help, Qt::Key_Help});
        // The space bar's text is looked up when shown, so it follows the package's texts.
        m.emplace(Key::space.rawValue, SpecialKey{QString(), QStringLiteral(" "), Qt::Key_Space});
        const Key fkeys[] = {Key::f1,  Key::f2,  Key::f3,  Key::f4,  Key::f5,  Key::f6,  Key::f7,
                             Key::f8,  Key::f9,  Key::f10, Key::f11, Key::f12, Key::f13, Key::f14,
                             Key::f15, Key::f16, Key::f17, Key::f18, Key::f19, Key::f20};
        for (int i = 0; i < 20; ++i)
            m.emplace(fkeys[i].rawValue, SpecialKey{QStringLiteral("F%1").arg(i + 1),
                                                    characterFromUnicodeScalar(0xF704 + i), Qt::Key_F1 + i});
        const Key keypad[] = {Key::keypad0, Key::keypad1, Key::keypad2, Key::keypad3, Key::keypad4,
                              Key::keypad5, Key::keypad6, Key::keypad7, Key::keypad8, Key::keypad9};
        for (int i = 0; i < 10; ++i)
            m.emplace(keypad[i].rawValue, SpecialKey{keypadGlyph(QString::number(i)), std::nullopt, std::nullopt});
        auto pad = [&](Key key, const QString& base) {
            m.emplace(key.rawValue, SpecialKey{keypadGlyph(base), std::nullopt, std::nullopt});
        };
        pad(Key::keypadClear, QString(QChar(0x2612)));
        pad(Key::keypadDecimal, QStringLiteral("."));
        pad(Key::keypadDivide, QStringLiteral("/"));
        pad(Key::keypadEnter, QString(QChar(0x21A9)));
        pad(Key::keypadEquals, QStringLiteral("="));
        pad(Key::keypadMinus, QStringLiteral("-"));
        pad(Key::keypadMultiply, QStringLiteral("*"));
        pad(Key::keypadPlus, QStringLiteral("+"));
        return m;
    }();
    return map;
}

const SpecialKey* specialKey(qint64 code) {
    const auto& map = keyToSpecialKeyMapping();
    auto it = map.find(code);
    return it == map.end() ? nullptr : &it->second;
}

bool isSingleCharacter(const QString& text) {
    if (text.isEmpty())
        return false;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    return finder.toNextBoundary() == text.size();
}

QString capitalized(const QString& text) {
    // A key shows one character: ß stays ß rather than growing into SS.
    if (isSingleCharacter(text)) {
        const QString upper = text.toUpper();
        return isSingleCharacter(upper) ? upper : text;
    }
    QString result = text.toLower();
    bool wordStart = true;
    for (QChar& c : result) {
        if (wordStart && c.isLetter())
            c = c.toUpper();
        wordStart = c.isSpace();
    }
    return result;
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

std::optional<QString> Shortcut::keyToCharacter() const {
    if (specialKey(carbonKeyCode) || carbonKeyCode < 0 || carbonKeyCode > 0xFFFF)
        return std::nullopt;
    auto text = platform::KeyboardLayout::translate(static_cast<int>(carbonKeyCode));
    if (!text || !isSingleCharacter(*text))
        return std::nullopt;
    return text;
}

QString Shortcut::presentableDescription() const {
    QString text = modifiers().symbolicRepresentation();
    if (carbonKeyCode == Key::space.rawValue)
        return text + capitalized(localized("space_key"));
    if (const SpecialKey* special = specialKey(carbonKeyCode))
        return text + special->presentable;
    return text + capitalized(keyToCharacter().value_or(QString(QChar(0xFFFD))));
}

std::optional<QString> Shortcut::menuItemKeyEquivalent() const {
    if (const SpecialKey* special = specialKey(carbonKeyCode))
        return special->menuEquivalent;
    return keyToCharacter();
}

std::optional<QKeyCombination> Shortcut::toKeyCombination() const {
    // Qt has no Fn modifier: the combination without it would answer to another key press.
    if (modifiers().contains(ModifierFlags::function))
        return std::nullopt;
    int qtKey = 0;
    if (const SpecialKey* special = specialKey(carbonKeyCode)) {
        if (!special->qtKey)
            return std::nullopt;
        qtKey = *special->qtKey;
    } else {
        auto character = keyToCharacter();
        if (!character)
            return std::nullopt;
        // Qt names a character key by its upper-case code point.
        qtKey = static_cast<int>(character->toUpper().toUcs4().value(0));
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
