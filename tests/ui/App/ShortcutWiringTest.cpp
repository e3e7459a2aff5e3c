#include "DelegateFixture.h"

#include "App/HotkeyManager.h"
#include "App/ShortcutDefaults.h"

using namespace zentola;
using namespace GlobalShortcuts;
using platform::HotKeyCenter;

namespace {

const ModifierFlags commandShift(ModifierFlags::command | ModifierFlags::shift);

class ShortcutWiring : public DelegateFixture {
protected:
    // Key codes 22, 26 and 28 are 6, 7 and 8; 0x300 is command with shift.
    int release(quint32 keyCode) { return center.send(HotKeyCenter::kindHotKeyReleased, keyCode, 0x300); }
    int press(quint32 keyCode) { return center.send(HotKeyCenter::kindHotKeyPressed, keyCode, 0x300); }
};

TEST_F(ShortcutWiring, DefaultsAreStoredOnlyWhereNothingIsStored) {
    const Shortcut custom(Key::nine, ModifierFlags(ModifierFlags::option));
    setShortcut(custom, Name::instantCapture());
    ShortcutDefaults::registerDefaults();
    EXPECT_EQ(getShortcut(Name::openOverlay()), Shortcut(Key::six, commandShift));
    EXPECT_EQ(getShortcut(Name::instantCapture()), custom);
    EXPECT_EQ(getShortcut(Name::quickRecord()), Shortcut(Key::eight, commandShift));
    // The stored record the shortcut storage reads back at the next launch.
    const auto stored = Shortcut::decode(store->stringForKey("GlobalShortcuts_openOverlay").value_or("").toUtf8());
    EXPECT_EQ(stored, Shortcut(22, 0x300));

    setShortcut(std::nullopt, Name::quickRecord());  // cleared in the recorder
    ShortcutDefaults::registerDefaults();
    EXPECT_EQ(getShortcut(Name::quickRecord()), Shortcut(Key::eight, commandShift));
    EXPECT_EQ(getShortcut(Name::instantCapture()), custom);
}

TEST_F(ShortcutWiring, KeyReleaseLogsAndRunsItsTriggerOnALaterTurn) {
    int captures = 0, instants = 0, records = 0;
    HotkeyManager manager;
    ShortcutDefaults::registerDefaults();
    manager.registerShortcuts([&] { ++captures; }, [&] { ++instants; }, [&] { ++records; });

    EXPECT_EQ(press(22), HotKeyCenter::noErr);
    testing::internal::CaptureStdout();
    release(22);
    EXPECT_EQ(captures, 0);  // deferred past the key handling
    QCoreApplication::processEvents();
    release(26);
    release(28);
    QCoreApplication::processEvents();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[Zentola] Open overlay shortcut triggered\n[Zentola] Instant capture shortcut triggered\n"
              "[Zentola] Quick record shortcut triggered\n");
    EXPECT_EQ(captures, 1);
    EXPECT_EQ(instants, 1);
    EXPECT_EQ(records, 1);
}

TEST_F(ShortcutWiring, ReleasedManagerOnlyLogsAndUnregisterStopsDelivery) {
    int calls = 0;
    ShortcutDefaults::registerDefaults();
    {
        HotkeyManager old;
        old.registerShortcuts([&] { ++calls; }, [&] { ++calls; }, [&] { ++calls; });
    }
    HotkeyManager current;
    int currentCalls = 0;
    current.registerShortcuts([&] { ++currentCalls; }, {}, {});
    testing::internal::CaptureStdout();
    release(22);
    QCoreApplication::processEvents();
    // One line per registered handler: the old one still prints.
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[Zentola] Open overlay shortcut triggered\n[Zentola] Open overlay shortcut triggered\n");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(currentCalls, 1);

    current.unregister();
    EXPECT_FALSE(current.hasCallbacks());
    EXPECT_TRUE(center.live.empty());
    EXPECT_TRUE(getShortcut(Name::openOverlay()).has_value());
}

TEST_F(ShortcutWiring, DelegateSetUpWiresTheShortcutsToItsTriggers) {
    delegate->setupHotkey();
    const auto lines = run([&] { release(22); });
    EXPECT_EQ(lines, (std::vector<std::string>{"[Zentola] Open overlay shortcut triggered",
                                               "[Zentola] triggerCapture called", "[Zentola] Creating overlay",
                                               "[Zentola] Overlay show() called"}));
    run([&] { release(26); });
    ASSERT_EQ(captures.size(), 1u);
    // A second set-up (onboarding completed later) replaces the manager; one trigger per key still.
    delegate->setupHotkey();
    run([&] { release(28); });
    EXPECT_EQ(recordings.size(), 1u);
}

}  // namespace
