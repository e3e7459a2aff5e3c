#include "packages/GlobalShortcuts/Shortcut.h"
#include "packages/GlobalShortcuts/UnicodeScalar.h"
#include "platform/input/KeyboardLayout.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include <gtest/gtest.h>

using namespace GlobalShortcuts;
using platform::KeyboardLayout;

namespace {

constexpr quint64 cmd = ModifierFlags::command, shift = ModifierFlags::shift, opt = ModifierFlags::option,
                  ctrl = ModifierFlags::control, fn = ModifierFlags::function;

Shortcut make(Key key, quint64 flags) { return Shortcut(key, ModifierFlags(flags)); }

class Display : public testing::Test {
protected:
    void SetUp() override { KeyboardLayout::setCurrentForTesting(KeyboardLayout::fromNames("us")); }
    void TearDown() override { KeyboardLayout::setCurrentForTesting(std::nullopt); }
};

TEST_F(Display, ModifierGlyphsComeInFixedOrderBeforeTheKey) {
    EXPECT_EQ(make(Key::six, cmd | shift).presentableDescription(), QString::fromUtf8("⇧⌘6"));
    EXPECT_EQ(make(Key::f1, ctrl | opt | shift | cmd).presentableDescription(), QString::fromUtf8("⌃⌥⇧⌘F1"));
    EXPECT_EQ(make(Key::a, fn).presentableDescription(), QString::fromUtf8("🌐︎A"));
    EXPECT_EQ(make(Key::six, cmd | shift).description(), make(Key::six, cmd | shift).presentableDescription());
}

TEST_F(Display, SpecialKeysUseTheirGlyphs) {
    struct Row {
        Key key;
        const char* text;
    };
    for (Row r : {Row{Key::return_, "↩"}, Row{Key::delete_, "⌫"}, Row{Key::deleteForward, "⌦"}, Row{Key::end, "↘"},
                  Row{Key::escape, "⎋"}, Row{Key::help, "?⃝"}, Row{Key::home, "↖"}, Row{Key::tab, "⇥"},
                  Row{Key::pageUp, "⇞"}, Row{Key::pageDown, "⇟"}, Row{Key::upArrow, "↑"}, Row{Key::rightArrow, "→"},
                  Row{Key::downArrow, "↓"}, Row{Key::leftArrow, "←"}, Row{Key::f20, "F20"}, Row{Key::f13, "F13"},
                  Row{Key::keypad5, "5⃣"}, Row{Key::keypadClear, "☒⃣"}, Row{Key::keypadEnter, "↩⃣"},
                  Row{Key::keypadMultiply, "*⃣"}, Row{Key::keypadEquals, "=⃣"}, Row{Key::space, "Space"}})
        EXPECT_EQ(make(r.key, cmd).presentableDescription(), QString::fromUtf8("⌘") + QString::fromUtf8(r.text)) << r.text;
}

TEST_F(Display, LayoutKeysShowTheirCapitalisedCharacter) {
    EXPECT_EQ(make(Key::a, cmd).presentableDescription(), QString::fromUtf8("⌘A"));
    EXPECT_EQ(make(Key::a, cmd).menuItemKeyEquivalent(), QString("a"));
    EXPECT_EQ(make(Key::backtick, opt).presentableDescription(), QString::fromUtf8("⌥`"));
    EXPECT_EQ(make(Key::semicolon, cmd).presentableDescription(), QString::fromUtf8("⌘;"));
    // A code no key has: the replacement character, no menu equivalent, no key combination.
    const Shortcut nowhere(0x7F, 0x100);
    EXPECT_EQ(nowhere.presentableDescription(), QString::fromUtf8("⌘\uFFFD"));
    EXPECT_FALSE(nowhere.menuItemKeyEquivalent());
    EXPECT_FALSE(nowhere.toKeyCombination());
}

TEST_F(Display, LettersComeFromTheAsciiCapableGroup) {
    KeyboardLayout::setCurrentForTesting(KeyboardLayout::fromNames("ru,us"));
    EXPECT_EQ(KeyboardLayout::fromNames("ru,us").asciiCapableGroup(), 1);
    EXPECT_EQ(make(Key::q, cmd).presentableDescription(), QString::fromUtf8("⌘Q"));
    KeyboardLayout::setCurrentForTesting(KeyboardLayout::fromNames("de"));
    EXPECT_EQ(make(Key::y, cmd).presentableDescription(), QString::fromUtf8("⌘Z"));  // German keyboards swap Y and Z
    EXPECT_EQ(make(Key::minus, cmd).presentableDescription(), QString::fromUtf8("⌘ß"));
    KeyboardLayout::setCurrentForTesting(KeyboardLayout::fromNames("ru"));
    EXPECT_FALSE(KeyboardLayout::fromNames("ru").asciiCapableGroup());
    EXPECT_EQ(make(Key::q, cmd).presentableDescription(), QString::fromUtf8("⌘\uFFFD"));
}

TEST_F(Display, KeyEquivalentsForMenusAndQt) {
    const Shortcut f1 = make(Key::f1, ctrl | opt | shift | cmd);
    EXPECT_EQ(f1.menuItemKeyEquivalent(), QString(QChar(0xF704)));
    EXPECT_EQ(make(Key::f20, cmd).menuItemKeyEquivalent(), QString(QChar(0xF717)));
    EXPECT_EQ(f1.toKeyCombination(),
              QKeyCombination(Qt::MetaModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::ControlModifier, Qt::Key_F1));
    EXPECT_EQ(make(Key::six, cmd | shift).toKeySequence(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_6));
    EXPECT_EQ(make(Key::space, 0).menuItemKeyEquivalent(), QString(" "));
    const Shortcut keypad = make(Key::keypad5, opt);
    EXPECT_EQ(keypad.presentableDescription(), QString::fromUtf8("⌥5⃣"));
    EXPECT_FALSE(keypad.menuItemKeyEquivalent());
    EXPECT_FALSE(keypad.toKeyCombination());
    EXPECT_TRUE(keypad.toKeySequence().isEmpty());
    // Qt cannot hold the Fn key, and the combination without it would be another one.
    const Shortcut withFn = make(Key::s, cmd | fn);
    EXPECT_EQ(withFn.menuItemKeyEquivalent(), QString("s"));
    EXPECT_FALSE(withFn.toKeyCombination());
    EXPECT_TRUE(withFn.toKeySequence().isEmpty());
}

TEST(UnicodeScalar, OnlyScalarValuesMakeCharacters) {
    EXPECT_EQ(characterFromUnicodeScalar(0x41), QString("A"));
    EXPECT_EQ(characterFromUnicodeScalar(0xF704), QString(QChar(0xF704)));
    EXPECT_EQ(characterFromUnicodeScalar(0x1F310), QString::fromUtf8("🌐"));
    EXPECT_EQ(characterFromUnicodeScalar(0x10FFFF)->size(), 2);
    for (qint64 bad : {qint64(-1), qint64(0xD800), qint64(0xDBFF), qint64(0xDFFF), qint64(0x110000), qint64(1) << 40})
        EXPECT_FALSE(characterFromUnicodeScalar(bad)) << bad;
}

TEST_F(Display, MenuSearchFindsTheFirstItemDepthFirstWithExactModifiers) {
    QMenuBar bar;
    QMenu* file = bar.addMenu("File");
    QAction* save = file->addAction("Save");
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction* saveAs = file->addAction("Save As");
    saveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    QMenu* nested = file->addMenu("Export");
    QAction* nestedItem = nested->addAction("Export PNG");
    nestedItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    QMenu* edit = bar.addMenu("Edit");
    QAction* laterDuplicate = edit->addAction("Also Export");
    laterDuplicate->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    QAction* chord = edit->addAction("Chord");
    chord->setShortcut(QKeySequence("Ctrl+K, Ctrl+D"));

    EXPECT_EQ(make(Key::s, cmd | shift).menuItemWithMatchingShortcut(&bar), saveAs);
    EXPECT_EQ(make(Key::s, cmd).menuItemWithMatchingShortcut(&bar), save);
    EXPECT_EQ(make(Key::e, cmd).menuItemWithMatchingShortcut(&bar), nestedItem);
    EXPECT_EQ(make(Key::e, cmd).menuItemWithMatchingShortcut(edit), laterDuplicate);
    EXPECT_EQ(make(Key::s, cmd | opt).menuItemWithMatchingShortcut(&bar), nullptr);
    EXPECT_EQ(make(Key::s, cmd | fn).menuItemWithMatchingShortcut(&bar), nullptr);
    EXPECT_EQ(make(Key::k, cmd).menuItemWithMatchingShortcut(&bar), nullptr);
    EXPECT_EQ(make(Key::keypad5, cmd).menuItemWithMatchingShortcut(&bar), nullptr);
    EXPECT_EQ(make(Key::s, cmd).menuItemWithMatchingShortcut(nullptr), nullptr);
}

}  // namespace
