#include "packages/GlobalShortcuts/Key.h"
#include "platform/input/KeyCodeTable.h"

#include <QKeyEvent>

#include <gtest/gtest.h>

#include <set>

using platform::KeyCodeTable;
using GlobalShortcuts::Key;

namespace {

TEST(KeyCodeTable, KnownKeysLandOnTheirXKeycodes) {
    struct Row {
        Key key;
        int xKeycode;
    };
    // X keycodes of a standard PC keyboard (evdev + 8).
    for (Row r : {Row{Key::a, 38}, Row{Key::six, 15}, Row{Key::seven, 16}, Row{Key::eight, 17}, Row{Key::zero, 19},
                  Row{Key::q, 24}, Row{Key::return_, 36}, Row{Key::space, 65}, Row{Key::delete_, 22},
                  Row{Key::deleteForward, 119}, Row{Key::escape, 9}, Row{Key::f1, 67}, Row{Key::f12, 96},
                  Row{Key::upArrow, 111}, Row{Key::keypad5, 84}, Row{Key::keypadEnter, 104},
                  Row{Key::command, 37}, Row{Key::shift, 50}, Row{Key::option, 64}, Row{Key::control, 133},
                  Row{Key::capsLock, 66}, Row{Key::keypadClear, 77}})
        EXPECT_EQ(KeyCodeTable::xKeycodeFromVirtual(static_cast<int>(r.key.rawValue)), r.xKeycode) << r.key.rawValue;
}

TEST(KeyCodeTable, EveryMappedKeyMapsBackToItself) {
    std::set<int> evdevSeen;
    int mapped = 0;
    for (int v = 0; v < 128; ++v) {
        auto evdev = KeyCodeTable::evdevFromVirtual(v);
        if (!evdev)
            continue;
        ++mapped;
        EXPECT_TRUE(evdevSeen.insert(*evdev).second) << "two keys on evdev " << *evdev;
        EXPECT_EQ(KeyCodeTable::virtualFromEvdev(*evdev), v);
        EXPECT_EQ(KeyCodeTable::virtualFromXKeycode(*evdev + 8), v);
    }
    // Every named key but Fn, plus the ISO key beside the left Shift.
    EXPECT_EQ(mapped, 113);
    EXPECT_FALSE(KeyCodeTable::evdevFromVirtual(static_cast<int>(Key::function.rawValue)));
    EXPECT_FALSE(KeyCodeTable::virtualFromXKeycode(3));
    EXPECT_FALSE(KeyCodeTable::xKeycodeFromVirtual(-1));
}

TEST(KeyCodeTable, QtKeysOfAUsLayoutIncludingShiftedSymbols) {
    EXPECT_EQ(KeyCodeTable::virtualFromQtKey(Qt::Key_Exclam, false), 18);
    EXPECT_EQ(KeyCodeTable::virtualFromQtKey(Qt::Key_BraceLeft, false), 33);
    EXPECT_EQ(KeyCodeTable::virtualFromQtKey(Qt::Key_F17, false), 64);
    EXPECT_EQ(KeyCodeTable::virtualFromQtKey(Qt::Key_7, true), 89);
    EXPECT_EQ(KeyCodeTable::virtualFromQtKey(Qt::Key_7, false), 26);
    EXPECT_EQ(KeyCodeTable::virtualFromQtKey(Qt::Key_Minus, true), 78);
    EXPECT_FALSE(KeyCodeTable::virtualFromQtKey(Qt::Key_Print, false));
    // Off the xcb platform a scan code means nothing; the Qt key decides.
    QKeyEvent event(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, 38, 0, 0);
    EXPECT_EQ(KeyCodeTable::virtualKeyCode(event), 11);
}

}  // namespace
