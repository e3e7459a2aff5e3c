// Real key grabs on the X server, driven from a second client with XTest.
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/input/HotKeyCenter.h"
#include "platform/input/KeyCodeTable.h"
#include "platform/input/KeyboardLayout.h"

#include "OtherClient.h"

#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace GlobalShortcuts;

namespace {

const Shortcut ctrlShift6(Key::six, ModifierFlags(ModifierFlags::command | ModifierFlags::shift));
const Shortcut ctrlShift7(Key::seven, ModifierFlags(ModifierFlags::command | ModifierFlags::shift));
const Shortcut ctrlShift9(Key::nine, ModifierFlags(ModifierFlags::command | ModifierFlags::shift));

class HotKeyIntegration : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(other.ok()) << "no X server";
        store = std::make_unique<platform::DefaultsStore>(dir.filePath("defaults.json"));
        setDefaultsStore(store.get());
        resetForTesting();
        onKeyDown(name, [this] { ++downs; });
        onKeyUp(name, [this] { ++ups; });
    }
    void TearDown() override {
        resetForTesting();
        setDefaultsStore(nullptr);
    }

    // A second shortcut pressed after the first: once it has arrived, anything the first would
    // have produced has arrived too, since one connection delivers in order.
    void pressSentinelAndWait() {
        int sentinel = 0;
        onKeyUp(sentinelName, [&] { ++sentinel; });
        setShortcut(ctrlShift9, sentinelName);
        other.chord({Key::command, Key::shift, Key::nine});
        ASSERT_TRUE(waitFor([&] { return sentinel == 1; }));
        removeHandler(sentinelName);
    }

    QTemporaryDir dir;
    std::unique_ptr<platform::DefaultsStore> store;
    OtherClient other;
    Name name{"integrationShortcut"};
    Name sentinelName{"integrationSentinel"};
    int downs = 0;
    int ups = 0;
};

TEST_F(HotKeyIntegration, ControlShiftSixFiresOnePressAndOneRelease) {
    setShortcut(ctrlShift6, name);
    other.chord({Key::command, Key::shift, Key::six});
    ASSERT_TRUE(waitFor([&] { return ups == 1; }));
    EXPECT_EQ(downs, 1);
    pressSentinelAndWait();
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);

    // Without Shift it is another combination.
    other.chord({Key::command, Key::six});
    pressSentinelAndWait();
    EXPECT_EQ(downs, 1);
}

TEST_F(HotKeyIntegration, CombinationHeldByAnotherClientIsRefusedAndLogged) {
    ASSERT_TRUE(other.grab(Key::seven, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT));
    platform::HotKeyCenter::HotKeyRef ref = 7;
    EXPECT_EQ(platform::HotKeyCenter::shared().registerHotKey(26, 0x300, {0x48544B59, 99}, &ref), -9878);
    EXPECT_EQ(ref, 0u);

    testing::internal::CaptureStdout();
    setShortcut(ctrlShift7, name);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Error registering hotkey ⇧⌘7: -9878\n"), std::string::npos) << out;
    // Still stored: the refusal is only logged.
    EXPECT_EQ(getShortcut(name), ctrlShift7);

    // The lock-key variants that were granted before the refusal were given back.
    constexpr quint16 ctrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
    EXPECT_TRUE(other.grab(Key::seven, ctrlShift | XCB_MOD_MASK_LOCK));
    EXPECT_TRUE(other.grab(Key::seven, ctrlShift | XCB_MOD_MASK_2));
    EXPECT_TRUE(other.grab(Key::seven, ctrlShift | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2));

    setShortcut(ctrlShift6, name);
    other.chord({Key::command, Key::shift, Key::six});
    EXPECT_TRUE(waitFor([&] { return ups == 1; }));
}

TEST_F(HotKeyIntegration, EveryLockVariantIsGrabbedUntilUnregistered) {
    constexpr quint16 ctrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
    const quint16 variants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
    setShortcut(ctrlShift6, name);
    for (quint16 v : variants)
        EXPECT_FALSE(other.grab(Key::six, ctrlShift | v)) << v;

    setShortcut(std::nullopt, name);
    for (quint16 v : variants)
        EXPECT_TRUE(other.grab(Key::six, ctrlShift | v)) << v;
}

TEST_F(HotKeyIntegration, FiresWithNumLockAndCapsLockOn) {
    setShortcut(ctrlShift6, name);
    other.chord({Key::keypadClear});  // Num Lock
    other.chord({Key::capsLock});
    const quint16 state = other.pointerState();
    EXPECT_TRUE(state & XCB_MOD_MASK_2) << state;
    EXPECT_TRUE(state & XCB_MOD_MASK_LOCK) << state;

    other.chord({Key::command, Key::shift, Key::six});
    const bool fired = waitFor([&] { return ups == 1; });
    other.chord({Key::keypadClear});
    other.chord({Key::capsLock});
    EXPECT_TRUE(fired);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(other.pointerState() & (XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK), 0);
}

TEST_F(HotKeyIntegration, HeldKeysFireOnePressAndOneRelease) {
    setShortcut(ctrlShift6, name);
    other.pressAll({Key::command, Key::shift, Key::six});
    // Repeated presses of a held key, as auto-repeat makes them.
    for (int i = 0; i < 5; ++i)
        other.press(Key::six);
    other.sync();
    ASSERT_TRUE(waitFor([&] { return downs == 1; }));
    // And a real hold, long enough for the server's own auto-repeat.
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < 1200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(ups, 0);
    other.releaseAll({Key::six, Key::shift, Key::command});
    ASSERT_TRUE(waitFor([&] { return ups == 1; }));
    pressSentinelAndWait();
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
}

TEST_F(HotKeyIntegration, ReleaseArrivesWhenAModifierGoesUpFirst) {
    setShortcut(ctrlShift6, name);
    other.pressAll({Key::command, Key::shift, Key::six});
    other.releaseAll({Key::shift, Key::six, Key::command});
    EXPECT_TRUE(waitFor([&] { return ups == 1; }));
    EXPECT_EQ(downs, 1);
}

TEST_F(HotKeyIntegration, SecureInputProbeWhileAHotKeyIsHeldKeepsItsRelease) {
    setShortcut(ctrlShift6, name);
    other.pressAll({Key::command, Key::shift, Key::six});
    ASSERT_TRUE(waitFor([&] { return downs == 1; }));
    EXPECT_FALSE(platform::HotKeyCenter::shared().isSecureEventInputEnabled());
    other.releaseAll({Key::six, Key::shift, Key::command});
    EXPECT_TRUE(waitFor([&] { return ups == 1; }));
    // And the next press is a press of its own.
    other.chord({Key::command, Key::shift, Key::six});
    EXPECT_TRUE(waitFor([&] { return downs == 2 && ups == 2; }));
}

TEST_F(HotKeyIntegration, DisabledPackageStopsFiringUntilEnabledAgain) {
    setShortcut(ctrlShift6, name);
    setIsEnabled(false);
    other.chord({Key::command, Key::shift, Key::six});
    setIsEnabled(true);  // the sentinel needs the package on; the press above is already delivered
    pressSentinelAndWait();
    EXPECT_EQ(downs, 0);
    EXPECT_EQ(ups, 0);

    other.chord({Key::command, Key::shift, Key::six});
    EXPECT_TRUE(waitFor([&] { return ups == 1; }));
    EXPECT_EQ(downs, 1);
}

TEST_F(HotKeyIntegration, OpenMenuReceivesShortcutThroughItsKeyEvents) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs the xcb platform";
    initialize();
    setShortcut(ctrlShift6, name);
    QMenu menu;
    menu.addAction("Item");
    menu.popup(QPoint(100, 100));
    ASSERT_TRUE(waitFor([&] { return isMenuOpen(); }));
    ASSERT_TRUE(waitFor([&] { return QWidget::keyboardGrabber() == &menu || QApplication::activePopupWidget() == &menu; }));

    other.chord({Key::command, Key::shift, Key::six});
    EXPECT_TRUE(waitFor([&] { return ups == 1; }));
    EXPECT_EQ(downs, 1);
    EXPECT_TRUE(menu.isVisible());

    menu.hide();
    ASSERT_TRUE(waitFor([&] { return !isMenuOpen(); }));
    other.chord({Key::command, Key::shift, Key::six});
    EXPECT_TRUE(waitFor([&] { return ups == 2; }));
}

}  // namespace

namespace {

TEST(KeyboardIntegration, ServerKeymapNamesTheKeys) {
    auto layout = platform::KeyboardLayout::current();
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->translateKey(static_cast<int>(Key::a.rawValue)), QString("a"));
    EXPECT_EQ(platform::KeyboardLayout::translate(static_cast<int>(Key::six.rawValue)), QString("6"));
    EXPECT_EQ(ctrlShift6.presentableDescription(), QString::fromUtf8("⇧⌘6"));
}

TEST(KeyboardIntegration, KeyboardHeldByAnotherClientReadsAsSecureInput) {
    OtherClient other;
    ASSERT_TRUE(other.ok());
    auto& center = platform::HotKeyCenter::shared();
    EXPECT_FALSE(center.isSecureEventInputEnabled());
    EXPECT_FALSE(center.isSecureEventInputEnabled());  // the probe gave the keyboard back
    ASSERT_TRUE(other.grabKeyboard());
    EXPECT_TRUE(center.isSecureEventInputEnabled());
}

}  // namespace

namespace {

TEST(KeyboardIntegration, OurOwnKeyboardGrabIsNotSecureInput) {
    // The overlay grabs the keyboard while it shows; its own shortcut must not then warn.
    QWidget panel;
    panel.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    panel.resize(50, 50);
    panel.show();
    QApplication::processEvents();
    panel.grabKeyboard();
    QApplication::processEvents();
    EXPECT_FALSE(platform::HotKeyCenter::shared().isSecureEventInputEnabled());
    panel.releaseKeyboard();
}

}  // namespace
