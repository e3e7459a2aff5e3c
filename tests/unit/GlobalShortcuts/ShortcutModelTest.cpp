#include "PackageFixture.h"

#include "packages/GlobalShortcuts/Name.h"
#include "packages/GlobalShortcuts/Shortcut.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <limits>

using namespace GlobalShortcuts;

namespace {

constexpr quint64 cmd = ModifierFlags::command, shift = ModifierFlags::shift, opt = ModifierFlags::option,
                  ctrl = ModifierFlags::control, fn = ModifierFlags::function;

TEST(ModifierConversion, FlagsAndMaskMapBothWaysAndDropEverythingElse) {
    struct Row {
        quint64 flag;
        qint64 carbon;
    };
    for (Row r : {Row{ctrl, 0x1000}, Row{opt, 0x800}, Row{shift, 0x200}, Row{cmd, 0x100}, Row{fn, 0x20000}}) {
        EXPECT_EQ(ModifierFlags(r.flag).carbon(), r.carbon);
        EXPECT_EQ(ModifierFlags::fromCarbon(r.carbon).rawValue, r.flag);
    }
    // Caps lock, numeric pad, help and device bits have no hot-key bit.
    EXPECT_EQ(ModifierFlags(ModifierFlags::capsLock | ModifierFlags::numericPad | ModifierFlags::help | 0x2 | cmd).carbon(),
              0x100);
    // Caps lock (0x400), the right-side bits and anything higher have no flag.
    EXPECT_EQ(ModifierFlags::fromCarbon(0x400 | 0x2000 | 0x4000 | 0x8000 | 0x40000 | 0x1).rawValue, 0u);
    EXPECT_EQ(ModifierFlags::fromCarbon(0x1B00 | 0x20000).carbon(), 0x21B00);
}

TEST(ModifierConversion, QtModifiersFollowTheX11Keyboard) {
    EXPECT_EQ(ModifierFlags::fromQt(Qt::ControlModifier | Qt::ShiftModifier).rawValue, cmd | shift);
    EXPECT_EQ(ModifierFlags::fromQt(Qt::MetaModifier | Qt::AltModifier).rawValue, ctrl | opt);
    EXPECT_EQ(ModifierFlags(cmd | ctrl | opt | shift).toQt(),
              Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(ModifierFlags(fn).toQt(), Qt::NoModifier);
}

TEST(ShortcutModel, ConstructionKeepsOnlyTheFiveModifierBits) {
    EXPECT_EQ(Shortcut(0, 0x500).carbonModifiers, 0x100);
    EXPECT_EQ(Shortcut(0, 0x2200).carbonModifiers, 0x200);
    EXPECT_EQ(Shortcut(-5, 0x21B00).carbonModifiers, 0x21B00);
    EXPECT_EQ(Shortcut(-5, 0).carbonKeyCode, -5);
    const Shortcut six(Key::six, ModifierFlags(cmd | shift | ModifierFlags::capsLock));
    EXPECT_EQ(six.carbonKeyCode, 22);
    EXPECT_EQ(six.carbonModifiers, 768);
    EXPECT_EQ(six.modifiers().rawValue, cmd | shift);
}

TEST(ShortcutRecord, EncodesCompactlyAndDecodesBack) {
    const Shortcut six(Key::six, ModifierFlags(cmd | shift));
    EXPECT_EQ(six.encode(), QByteArray(R"({"carbonKeyCode":22,"carbonModifiers":768})"));
    EXPECT_EQ(Shortcut::decode(six.encode()), six);
    EXPECT_EQ(Shortcut::decode(R"({"carbonModifiers":768,"extra":"x","carbonKeyCode":22})"), six);
}

TEST(ShortcutRecord, DecodingKeepsTheMaskAsWritten) {
    auto decoded = Shortcut::decode(R"({"carbonKeyCode":0,"carbonModifiers":1280})");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->carbonModifiers, 1280);
    EXPECT_NE(*decoded, Shortcut(0, 1280));
    EXPECT_EQ(Shortcut(0, 1280).carbonModifiers, 0x100);
}

TEST(ShortcutRecord, TakesEverySixtyFourBitInteger) {
    auto big = Shortcut::decode(R"({"carbonKeyCode":9007199254740993,"carbonModifiers":-9223372036854775808})");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->carbonKeyCode, 9007199254740993);
    EXPECT_EQ(big->carbonModifiers, std::numeric_limits<qint64>::min());
    EXPECT_EQ(Shortcut::decode(big->encode()), big);
    EXPECT_FALSE(Shortcut::decode(R"({"carbonKeyCode":18446744073709551616,"carbonModifiers":0})"));
}

TEST(ShortcutRecord, RejectsRecordsWithoutTwoIntegers) {
    for (const char* bad : {R"({"carbonKeyCode":22})", R"({"carbonModifiers":768})",
                            R"({"carbonKeyCode":"22","carbonModifiers":768})", R"({"carbonKeyCode":22.5,"carbonModifiers":768})",
                            R"({"carbonKeyCode":true,"carbonModifiers":768})", R"({"carbonKeyCode":22,"carbonModifiers":null})",
                            R"([22,768])", "0", "", "{not json"})
        EXPECT_FALSE(Shortcut::decode(bad)) << bad;
}

TEST(ShortcutFromEvent, TakesKeyEventsWithoutTheFunctionFlag) {
    auto up = Shortcut::fromEvent(QEvent::KeyPress, Key::upArrow.rawValue, ModifierFlags(fn | ModifierFlags::numericPad));
    ASSERT_TRUE(up);
    EXPECT_EQ(up->carbonKeyCode, 126);
    EXPECT_EQ(up->carbonModifiers, 0);
    EXPECT_TRUE(Shortcut::fromEvent(QEvent::KeyRelease, 1, ModifierFlags(cmd)));
    EXPECT_FALSE(Shortcut::fromEvent(QEvent::MouseButtonRelease, 1, ModifierFlags(cmd)));
}

TEST(ShortcutFromEvent, ReadsQtKeyEvents) {
    // Shift turns "6" into "^"; it is still the "6" key.
    QKeyEvent caret(QEvent::KeyPress, Qt::Key_AsciiCircum, Qt::ControlModifier | Qt::ShiftModifier, "^");
    EXPECT_EQ(Shortcut::fromEvent(&caret), Shortcut(Key::six, ModifierFlags(cmd | shift)));
    QKeyEvent keypad(QEvent::KeyRelease, Qt::Key_5, Qt::AltModifier | Qt::KeypadModifier, "5");
    EXPECT_EQ(Shortcut::fromEvent(&keypad), Shortcut(Key::keypad5, ModifierFlags(opt)));
    QKeyEvent f5(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
    EXPECT_EQ(Shortcut::fromEvent(&f5), Shortcut(Key::f5, ModifierFlags()));

    QKeyEvent shiftAlone(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_FALSE(Shortcut::fromEvent(&shiftAlone));
    QKeyEvent unknown(QEvent::KeyPress, Qt::Key_Print, Qt::ControlModifier);
    EXPECT_FALSE(Shortcut::fromEvent(&unknown));
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton, Qt::LeftButton,
                      Qt::ControlModifier);
    EXPECT_FALSE(Shortcut::fromEvent(&click));
    QEvent other(QEvent::ShortcutOverride);
    EXPECT_FALSE(Shortcut::fromEvent(&other));
}

class NameIdentity : public PackageFixture {};

TEST_F(NameIdentity, RawValueAloneDecidesEqualityAndHash) {
    Name plain = Name::fromRawValue("modelTestName");
    Name withDefault("modelTestName", Shortcut(Key::a, ModifierFlags(cmd)));
    EXPECT_EQ(plain, withDefault);
    EXPECT_EQ(qHash(plain), qHash(withDefault));
    EXPECT_FALSE(plain.defaultShortcut());
    EXPECT_NE(plain, Name::fromRawValue("other"));
    QSet<Name> set{plain, withDefault};
    EXPECT_EQ(set.size(), 1);
}

}  // namespace
