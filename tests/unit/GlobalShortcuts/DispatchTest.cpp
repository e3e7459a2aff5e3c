#include "PackageFixture.h"

#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"

#include <QCoreApplication>
#include <qcoro/qcorotask.h>

using namespace GlobalShortcuts;
using platform::HotKeyCenter;

namespace {

const Shortcut cmdShift6(Key::six, ModifierFlags(ModifierFlags::command | ModifierFlags::shift));
const Shortcut cmdShift7(Key::seven, ModifierFlags(ModifierFlags::command | ModifierFlags::shift));

class Dispatch : public PackageFixture {
protected:
    int press6() { return center.send(HotKeyCenter::kindHotKeyPressed, 22, 768); }
    int release6() { return center.send(HotKeyCenter::kindHotKeyReleased, 22, 768); }
    static void turn() { QCoreApplication::processEvents(); }
};

TEST_F(Dispatch, KeyUpActionsRunInOrderOnRelease) {
    const Name name("dispatchOrder");
    std::vector<int> calls;
    onKeyUp(name, [&] { calls.push_back(1); });
    EXPECT_TRUE(center.attempts.empty());  // nothing stored, nothing registered
    setShortcut(cmdShift6, name);
    onKeyUp(name, [&] { calls.push_back(2); });
    onKeyDown(name, [&] { calls.push_back(0); });
    EXPECT_EQ(center.attempts.size(), 1u);

    EXPECT_EQ(press6(), HotKeyCenter::noErr);
    EXPECT_EQ(calls, std::vector<int>{0});
    EXPECT_EQ(release6(), HotKeyCenter::noErr);
    EXPECT_EQ(calls, (std::vector<int>{0, 1, 2}));
}

TEST_F(Dispatch, EveryNameHoldingTheShortcutFiresAndOthersDoNot) {
    const Name a("dispatchA"), b("dispatchB"), c("dispatchC");
    int fired = 0, other = 0;
    setShortcut(cmdShift6, a);
    setShortcut(cmdShift6, b);
    setShortcut(cmdShift7, c);
    onKeyUp(a, [&] { ++fired; });
    onKeyUp(b, [&] { ++fired; });
    onKeyUp(c, [&] { ++other; });
    release6();
    EXPECT_EQ(fired, 2);
    EXPECT_EQ(other, 0);
}

TEST_F(Dispatch, ANameLettingGoOfASharedShortcutLeavesItToTheOther) {
    const Name a("sharedA"), b("sharedB");
    int firedA = 0, firedB = 0;
    setShortcut(cmdShift6, a);
    setShortcut(cmdShift6, b);
    onKeyUp(a, [&] { ++firedA; });
    onKeyUp(b, [&] { ++firedB; });

    removeHandler(a);
    release6();
    EXPECT_EQ(firedB, 1);
    setShortcut(cmdShift7, a);
    release6();
    EXPECT_EQ(firedB, 2);
    setShortcut(cmdShift6, a);
    setShortcut(std::nullopt, a);
    release6();
    EXPECT_EQ(firedB, 3);
    EXPECT_EQ(firedA, 0);

    // With nobody left to answer, the shortcut is withdrawn.
    removeHandler(b);
    EXPECT_FALSE(center.isLive(22, 768));
}

TEST_F(Dispatch, PausedPackageRunsNothing) {
    const Name name("paused");
    int fired = 0;
    setShortcut(cmdShift6, name);
    onKeyDown(name, [&] { ++fired; });
    onKeyUp(name, [&] { ++fired; });
    setIsPaused(true);
    press6();
    release6();
    EXPECT_EQ(fired, 0);
    setIsPaused(false);
    press6();
    EXPECT_EQ(fired, 1);
}

TEST_F(Dispatch, DisabledPackageWithdrawsHotKeysAndGetsThemBackUnderTheSameIdentifiers) {
    const Name name("enabledSwitch");
    int fired = 0;
    setShortcut(cmdShift6, name);
    onKeyUp(name, [&] { ++fired; });
    const quint32 id = center.live.begin()->second.identity.id;
    const size_t attempts = center.attempts.size();

    setIsEnabled(true);  // already true: nothing happens
    EXPECT_EQ(center.attempts.size(), attempts);

    setIsEnabled(false);
    EXPECT_TRUE(center.live.empty());
    EXPECT_FALSE(center.kinds.count(HotKeyCenter::kindHotKeyReleased));
    EXPECT_NE(release6(), HotKeyCenter::noErr);

    setIsEnabled(true);
    ASSERT_EQ(center.live.size(), 1u);
    EXPECT_EQ(center.live.begin()->second.identity.id, id);
    release6();
    EXPECT_EQ(fired, 1);
}

TEST_F(Dispatch, OpenMenuMatchesRawKeysAndClosingRegistersAgain) {
    const Name name("menuOpen");
    int downs = 0, ups = 0;
    setShortcut(cmdShift6, name);
    onKeyDown(name, [&] { ++downs; });
    onKeyUp(name, [&] { ++ups; });
    const quint32 id = center.live.begin()->second.identity.id;

    setIsMenuOpen(true);
    EXPECT_TRUE(center.live.empty());
    platform::HotKeyEvent raw;
    raw.kind = HotKeyCenter::kindRawKeyDown;
    raw.keyCode = 22;
    raw.modifiers = 0x300 | 0x400;  // caps lock is no modifier
    EXPECT_EQ(SystemGlobalShortcuts::handleEvent(&raw), HotKeyCenter::noErr);
    raw.kind = HotKeyCenter::kindRawKeyRepeat;
    EXPECT_EQ(SystemGlobalShortcuts::handleEvent(&raw), HotKeyCenter::eventNotHandledErr);
    raw.kind = HotKeyCenter::kindRawKeyUp;
    EXPECT_EQ(SystemGlobalShortcuts::handleEvent(&raw), HotKeyCenter::noErr);
    raw.keyCode = 26;  // not registered: passes through
    EXPECT_EQ(SystemGlobalShortcuts::handleEvent(&raw), HotKeyCenter::eventNotHandledErr);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);

    // Someone else took the combination while the menu was open.
    center.refused.insert({22, 768});
    testing::internal::CaptureStdout();
    setIsMenuOpen(false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error registering hotkey ⇧⌘6: -9878\n");
    EXPECT_EQ(center.attempts.back().identity.id, id);
    center.refused.clear();
    raw.kind = HotKeyCenter::kindRawKeyDown;
    raw.keyCode = 22;
    EXPECT_EQ(SystemGlobalShortcuts::handleEvent(&raw), HotKeyCenter::eventNotHandledErr);  // record dropped
}

TEST_F(Dispatch, IdentifiersCountRefusalsAndForeignEventsAreNotHandled) {
    center.refused.insert({26, 768});
    int fired = 0;
    auto count = [&](const Shortcut&) { ++fired; };
    testing::internal::CaptureStdout();
    SystemGlobalShortcuts::registerShortcut(cmdShift6, count, count);
    SystemGlobalShortcuts::registerShortcut(cmdShift7, count, count);
    SystemGlobalShortcuts::registerShortcut(Shortcut(Key::eight, ModifierFlags(ModifierFlags::command)), count, count);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error registering hotkey ⇧⌘7: -9878\n");
    ASSERT_EQ(center.attempts.size(), 3u);
    EXPECT_EQ(center.attempts[0].identity.id, 1u);
    EXPECT_EQ(center.attempts[1].identity.id, 2u);
    EXPECT_EQ(center.attempts[2].identity.id, 3u);
    EXPECT_EQ(center.attempts[0].identity.signature, 0x48544B59u);
    EXPECT_EQ(center.installs, 1);

    EXPECT_EQ(center.deliver(HotKeyCenter::kindHotKeyPressed, {0x41424344, 1}), HotKeyCenter::eventNotHandledErr);
    EXPECT_EQ(center.deliver(HotKeyCenter::kindHotKeyPressed, {0x48544B59, 2}), HotKeyCenter::eventNotHandledErr);
    EXPECT_EQ(SystemGlobalShortcuts::handleEvent(nullptr), HotKeyCenter::eventNotHandledErr);
    platform::HotKeyEvent odd;
    odd.kind = 9;
    EXPECT_EQ(SystemGlobalShortcuts::handleEvent(&odd), HotKeyCenter::eventNotHandledErr);
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(center.deliver(HotKeyCenter::kindHotKeyPressed, {0x48544B59, 3}), HotKeyCenter::noErr);
    EXPECT_EQ(fired, 1);

    // Registered twice under two identifiers: one unregister removes both.
    SystemGlobalShortcuts::registerShortcut(cmdShift6, count, count);
    EXPECT_EQ(center.live.size(), 3u);
    SystemGlobalShortcuts::unregisterShortcut(cmdShift6);
    EXPECT_EQ(center.live.size(), 1u);
    EXPECT_EQ(center.deliver(HotKeyCenter::kindHotKeyPressed, {0x48544B59, 1}), HotKeyCenter::eventNotHandledErr);
}

TEST_F(Dispatch, RegisteringWhileDisabledWithdrawsAtOnce) {
    setIsEnabled(false);
    const Name name("lateStart");
    setShortcut(cmdShift6, name);
    EXPECT_EQ(center.installs, 1);
    EXPECT_TRUE(center.live.empty());
    setIsEnabled(true);
    EXPECT_TRUE(center.isLive(22, 768));
}

TEST_F(Dispatch, SystemListKeepsOnlyEnabledEntriesWithIntegers) {
    center.symbolic = QVariantList{
        QVariantMap{{"kHISymbolicHotKeyEnabled", true}, {"kHISymbolicHotKeyCode", 111}, {"kHISymbolicHotKeyModifiers", 0}},
        QVariantMap{{"kHISymbolicHotKeyEnabled", false}, {"kHISymbolicHotKeyCode", 1}, {"kHISymbolicHotKeyModifiers", 256}},
        QVariantMap{{"kHISymbolicHotKeyCode", 2}, {"kHISymbolicHotKeyModifiers", 256}},
        QVariantMap{{"kHISymbolicHotKeyEnabled", true}, {"kHISymbolicHotKeyCode", "3"}, {"kHISymbolicHotKeyModifiers", 256}},
        QVariantMap{{"kHISymbolicHotKeyEnabled", true}, {"kHISymbolicHotKeyCode", 49}, {"kHISymbolicHotKeyModifiers", 0x500}},
    };
    EXPECT_EQ(SystemGlobalShortcuts::system(), (QList<Shortcut>{Shortcut(111, 0), Shortcut(49, 0x100)}));
    center.symbolic = QVariantList{QVariant(5)};
    EXPECT_TRUE(SystemGlobalShortcuts::system().isEmpty());
    center.symbolic.reset();
    EXPECT_TRUE(SystemGlobalShortcuts::system().isEmpty());
}

QCoro::Task<> collect(std::shared_ptr<EventStream> stream, std::vector<EventType>* out) {
    while (auto event = co_await stream->next())
        out->push_back(*event);
}

TEST_F(Dispatch, StreamsDeliverFromTheNextTurnAndReleaseTheirRegistration) {
    const Name name("streamed");
    setShortcut(cmdShift6, name);
    disable({name});  // only the streams need it now
    std::vector<EventType> all, upsOnly;
    auto stream = events(name);
    auto filtered = events(EventType::keyUp, name);
    collect(stream, &all);
    collect(filtered, &upsOnly);
    EXPECT_FALSE(center.isLive(22, 768));  // set-up waits for the next turn
    turn();
    ASSERT_TRUE(center.isLive(22, 768));

    press6();
    release6();
    EXPECT_EQ(all, (std::vector<EventType>{EventType::keyDown, EventType::keyUp}));
    EXPECT_EQ(upsOnly, std::vector<EventType>{EventType::keyUp});

    setIsPaused(true);
    press6();
    setIsPaused(false);
    EXPECT_EQ(all.size(), 2u);

    // A legacy action keeps the registration alive; removing all legacy handlers does not take it
    // from a live stream.
    onKeyUp(name, [] {});
    removeAllHandlers();
    EXPECT_TRUE(center.isLive(22, 768));

    stream->finish();
    filtered->finish();
    turn();
    EXPECT_FALSE(center.isLive(22, 768));
    press6();
    EXPECT_EQ(all.size(), 2u);
}

TEST_F(Dispatch, LegacyActionKeepsRegistrationAfterStreamsEnd) {
    const Name name("mixed");
    setShortcut(cmdShift6, name);
    onKeyUp(name, [] {});
    {
        auto stream = events(name);
        turn();
    }
    turn();
    EXPECT_TRUE(center.isLive(22, 768));
    removeHandler(name);
    EXPECT_FALSE(center.isLive(22, 768));
}

TEST_F(Dispatch, StreamBuffersUntilAwaitedAndDropsTheRestWhenFinished) {
    const Name name("buffered");
    setShortcut(cmdShift6, name);
    auto stream = events(name);
    turn();
    press6();
    release6();
    std::vector<EventType> got;
    collect(stream, &got);  // takes what was buffered, then waits
    EXPECT_EQ(got, (std::vector<EventType>{EventType::keyDown, EventType::keyUp}));
    stream->finish();  // its consumer holds it and would wait for good

    auto late = events(name);
    turn();
    press6();
    late->finish();
    std::vector<EventType> none;
    collect(late, &none);
    EXPECT_TRUE(none.empty());
}

TEST_F(Dispatch, StreamDroppedBeforeItsSetUpLeavesNothingBehind) {
    const Name name("shortLived");
    setShortcut(cmdShift6, name);
    disable({name});
    events(name).reset();
    turn();
    turn();
    EXPECT_FALSE(center.isLive(22, 768));
}

}  // namespace
