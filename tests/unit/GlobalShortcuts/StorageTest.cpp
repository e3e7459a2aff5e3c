#include "PackageFixture.h"

using namespace GlobalShortcuts;

namespace {

const Shortcut cmdShift6(Key::six, ModifierFlags(ModifierFlags::command | ModifierFlags::shift));
const Shortcut cmdShift7(Key::seven, ModifierFlags(ModifierFlags::command | ModifierFlags::shift));

class Storage : public PackageFixture {};

TEST_F(Storage, SettingStoresTheRecordRegistersOnceAndPostsOnce) {
    const Name name("openOverlay");
    setShortcut(cmdShift6, name);
    EXPECT_EQ(store->stringForKey("GlobalShortcuts_openOverlay"),
              QString(R"({"carbonKeyCode":22,"carbonModifiers":768})"));
    ASSERT_EQ(center.attempts.size(), 1u);
    EXPECT_EQ(center.attempts[0].keyCode, 22u);
    EXPECT_EQ(center.attempts[0].modifiers, 768u);
    EXPECT_EQ(posted, std::vector<QString>{"openOverlay"});
    EXPECT_EQ(getShortcut(name), cmdShift6);
    EXPECT_TRUE(isEnabled(name));

    // The same shortcut again goes through the system again, under a new identifier.
    setShortcut(cmdShift6, name);
    ASSERT_EQ(center.attempts.size(), 2u);
    EXPECT_EQ(center.attempts[1].identity.id, center.attempts[0].identity.id + 1);
    EXPECT_EQ(center.live.size(), 1u);
    EXPECT_EQ(posted.size(), 2u);

    // Replacing withdraws the old combination.
    setShortcut(cmdShift7, name);
    EXPECT_FALSE(center.isLive(22, 768));
    EXPECT_TRUE(center.isLive(26, 768));
}

TEST_F(Storage, ClearingRemovesOrDisablesAndASecondClearDoesNothing) {
    const Name plain("plain");
    const Name withDefault("withDefault", cmdShift7);
    setShortcut(cmdShift6, plain);
    posted.clear();

    setShortcut(std::nullopt, plain);
    setShortcut(std::nullopt, withDefault);
    EXPECT_FALSE(store->contains("GlobalShortcuts_plain"));
    EXPECT_EQ(store->object("GlobalShortcuts_withDefault"), QVariant(false));
    EXPECT_FALSE(getShortcut(plain));
    EXPECT_FALSE(getShortcut(withDefault));
    EXPECT_TRUE(center.live.empty());
    EXPECT_EQ(posted, (std::vector<QString>{"plain", "withDefault"}));

    setShortcut(std::nullopt, plain);
    setShortcut(std::nullopt, withDefault);
    EXPECT_EQ(posted.size(), 2u);
    EXPECT_EQ(store->object("GlobalShortcuts_withDefault"), QVariant(false));
}

TEST_F(Storage, ADefaultIsStoredOnlyWhereTheKeyIsAbsent) {
    const Name first("defaulted", cmdShift6);
    EXPECT_EQ(getShortcut(first), cmdShift6);
    EXPECT_EQ(posted.size(), 1u);

    store->setBool("GlobalShortcuts_disabledOne", false);
    const Name disabled("disabledOne", cmdShift7);
    EXPECT_FALSE(getShortcut(disabled));
    EXPECT_TRUE(userDefaultsContains(disabled));
    EXPECT_EQ(posted.size(), 1u);
    EXPECT_FALSE(center.isLive(26, 768));
}

TEST_F(Storage, UnreadableValuesReadAsNoShortcut) {
    const Name name("odd");
    for (QVariant value : {QVariant(QString("nonsense")), QVariant(qint64(22)), QVariant(true),
                           QVariant(QString(R"({"carbonKeyCode":22})"))}) {
        store->set("GlobalShortcuts_odd", value);
        EXPECT_FALSE(getShortcut(name)) << value.toString().toStdString();
        // Clearing something unreadable changes nothing and tells no one.
        setShortcut(std::nullopt, name);
        EXPECT_TRUE(store->contains("GlobalShortcuts_odd"));
    }
    EXPECT_TRUE(posted.empty());
}

TEST_F(Storage, ResetRestoresDefaultsAndResetAllKeepsOnlyUndecodableValues) {
    const Name withDefault("resetDefault", cmdShift6);
    setShortcut(std::nullopt, withDefault);  // false stored
    const Name plain("resetPlain");
    setShortcut(cmdShift7, plain);

    reset({withDefault, plain});
    EXPECT_EQ(getShortcut(withDefault), cmdShift6);
    EXPECT_FALSE(store->contains("GlobalShortcuts_resetPlain"));

    setShortcut(cmdShift7, plain);
    store->setBool("GlobalShortcuts_falseOne", false);
    store->setString("GlobalShortcuts_garbage", "x");
    store->setString("unrelated", "keep");
    QSet<Name> names = allNames();
    EXPECT_EQ(names, (QSet<Name>{withDefault, plain, Name::fromRawValue("falseOne"), Name::fromRawValue("garbage")}));

    resetAll();
    EXPECT_FALSE(store->contains("GlobalShortcuts_resetDefault"));  // the rebuilt names carry no default
    EXPECT_FALSE(store->contains("GlobalShortcuts_resetPlain"));
    EXPECT_TRUE(store->contains("GlobalShortcuts_falseOne"));
    EXPECT_TRUE(store->contains("GlobalShortcuts_garbage"));
    EXPECT_TRUE(store->contains("unrelated"));
    EXPECT_TRUE(center.live.empty());
}

TEST_F(Storage, DisableKeepsTheStoredShortcutAndEnableBringsItBack) {
    const Name name("toggled");
    setShortcut(cmdShift6, name);
    posted.clear();
    disable({name});
    EXPECT_EQ(getShortcut(name), cmdShift6);
    EXPECT_FALSE(isEnabled(name));
    EXPECT_FALSE(center.isLive(22, 768));
    enable({name});
    EXPECT_TRUE(isEnabled(name));
    EXPECT_TRUE(center.isLive(22, 768));
    EXPECT_TRUE(posted.empty());

    setIsEnabled(false);
    EXPECT_FALSE(isEnabled(name));
}

}  // namespace
