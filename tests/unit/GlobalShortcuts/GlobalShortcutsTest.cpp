#include "PackageFixture.h"

#include "packages/GlobalShortcuts/Shortcut.h"
#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"
#include "packages/GlobalShortcuts/UnicodeScalar.h"
#include "platform/input/KeyboardLayout.h"
#include "support/Printed.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <qcoro/qcorotask.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace GlobalShortcuts;
using platform::KeyboardLayout;
using platform::HotKeyCenter;

namespace {

constexpr quint64 cmd = ModifierFlags::command, shift = ModifierFlags::shift, opt = ModifierFlags::option,
                  ctrl = ModifierFlags::control, fn = ModifierFlags::function;

Shortcut make(Key key, quint64 flags) { return Shortcut(key, ModifierFlags(flags)); }
void use(const char* layouts) { KeyboardLayout::setCurrentForTesting(KeyboardLayout::fromNames(layouts)); }
const Shortcut cmdShift6(22, 768), cmdShift7(26, 768);
constexpr quint32 signature = 0x48544B59;

class Package : public PackageFixture {
protected:
    int press6() { return center.send(HotKeyCenter::kindHotKeyPressed, 22, 768); }
    int release6() { return center.send(HotKeyCenter::kindHotKeyReleased, 22, 768); }
    static int raw(quint32 kind, quint32 keyCode, quint32 modifiers = 0x300) {
        const platform::HotKeyEvent event{kind, std::nullopt, keyCode, modifiers};
        return SystemGlobalShortcuts::handleEvent(&event);
    }
};

TEST(ShortcutModel, KeepsTheFiveModifierBitsTakesKeyEventsWithoutFnAndDecodesWhatIsWritten) {
    EXPECT_EQ(Shortcut(0, 0x500 | 0x2000 | 0x20000).carbonModifiers, 0x20100);  // caps lock, right shift go
    EXPECT_EQ(make(Key::six, cmd | shift | ModifierFlags::capsLock | ModifierFlags::numericPad), Shortcut(22, 768));
    EXPECT_EQ(Shortcut::fromEvent(QEvent::KeyPress, Key::upArrow.rawValue, ModifierFlags(fn)), Shortcut(126, 0));
    // Shift turns "6" into "^"; it is still the "6" key.
    QKeyEvent caret(QEvent::KeyPress, Qt::Key_AsciiCircum, Qt::ControlModifier | Qt::ShiftModifier, "^");
    EXPECT_EQ(Shortcut::fromEvent(&caret), make(Key::six, cmd | shift));
    QKeyEvent keypad(QEvent::KeyRelease, Qt::Key_5, Qt::AltModifier | Qt::KeypadModifier, "5");
    EXPECT_EQ(Shortcut::fromEvent(&keypad), make(Key::keypad5, opt));
    QKeyEvent shiftAlone(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
    QMouseEvent click(QEvent::MouseButtonPress, {1, 1}, {1, 1}, Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_FALSE(Shortcut::fromEvent(&shiftAlone) || Shortcut::fromEvent(&click) ||
                 Shortcut::fromEvent(QEvent::MouseButtonRelease, 1, ModifierFlags()));

    EXPECT_EQ(Shortcut(22, 768).encode(), QByteArray(R"({"carbonKeyCode":22,"carbonModifiers":768})"));
    const auto asWritten =
        Shortcut::decode(R"({"carbonModifiers":-9223372036854775808,"x":1,"carbonKeyCode":9007199254740993})");
    ASSERT_TRUE(asWritten);
    EXPECT_EQ(asWritten->carbonKeyCode, 9007199254740993);
    EXPECT_NE(*Shortcut::decode(R"({"carbonKeyCode":0,"carbonModifiers":1280})"), Shortcut(0, 1280));  // not normalised
    for (const char* bad : {R"({"carbonKeyCode":22})", R"({"carbonKeyCode":"22","carbonModifiers":0})", R"([22,768])",
                            R"({"carbonKeyCode":22.5,"carbonModifiers":0})",
                            R"({"carbonKeyCode":18446744073709551616,"carbonModifiers":0})"})
        EXPECT_FALSE(Shortcut::decode(bad)) << bad;
}

TEST_F(Package, ShortcutsReadAsOnALinuxKeyboardAndInMenus) {
    const std::pair<Shortcut, const char*> rows[] = {
        {make(Key::six, cmd | shift), "Ctrl+Shift+6"}, {make(Key::f1, ctrl | opt | shift | cmd), "Super+Ctrl+Alt+Shift+F1"},
        {make(Key::a, fn), "Fn+A"}, {make(Key::help, cmd), "Ctrl+Ins"}, {make(Key::keypad5, opt), "Alt+Num+5"},
        {make(Key::keypadClear, 0), "NumLock"}, {make(Key::space, cmd), "Ctrl+Space"}, {make(Key::semicolon, cmd), "Ctrl+;"},
        {make(Key::f13, 0), "Print"}, {make(Key::mute, cmd), "Ctrl+Volume Mute"},
        // Stored records of keys that no layout names: named by their code.
        {Shortcut(0x7F, 0x100), "Ctrl+Key 127"}, {Shortcut(4294967296, 0x300), "Ctrl+Shift+Key 4294967296"}};
    for (auto [shortcut, text] : rows)
        EXPECT_EQ(shortcut.description(), QString::fromUtf8(text)) << text;
    for (int code = -1; code <= 200; ++code)
        EXPECT_FALSE(Shortcut(code, 0x100).description().contains(QChar(0xFFFD))) << code;
    EXPECT_EQ(make(Key::f13, cmd).toKeySequence(), QKeySequence(Qt::CTRL | Qt::Key_Print));
    // The tray menu writes the same combination the same way.
    EXPECT_EQ(make(Key::six, cmd | shift).toKeySequence().toString(QKeySequence::NativeText), "Ctrl+Shift+6");
    const Shortcut f1 = make(Key::f1, ctrl | opt | shift | cmd);
    EXPECT_EQ(f1.menuItemKeyEquivalent(), characterFromUnicodeScalar(0xF704));
    EXPECT_EQ(f1.toKeySequence(), QKeySequence("Meta+Ctrl+Alt+Shift+F1"));
    EXPECT_EQ(make(Key::a, cmd).menuItemKeyEquivalent(), QString("a"));
    EXPECT_EQ(make(Key::help, 0).toKeyCombination(), QKeyCombination(Qt::Key_Insert));
    // Keypad keys, keys no layout types, and the Fn key have no place in a menu.
    for (const Shortcut& none : {make(Key::keypad5, opt), Shortcut(0x7F, 0x100), make(Key::s, cmd | fn)})
        EXPECT_TRUE(none.toKeySequence().isEmpty());
    EXPECT_FALSE(make(Key::keypad5, opt).menuItemKeyEquivalent() || characterFromUnicodeScalar(0xD800) ||
                 characterFromUnicodeScalar(0x110000) || characterFromUnicodeScalar(-1));
}

TEST_F(Package, LettersComeFromTheGroupThatTypesThemAndSharpSKeepsItsOwnKey) {
    use("ru,us");
    EXPECT_EQ(make(Key::q, cmd).description(), "Ctrl+Q");
    use("ru");  // no Latin group at all: the U.S. keys printed beside its own
    EXPECT_FALSE(KeyboardLayout::fromNames("ru").asciiCapableGroup());
    EXPECT_EQ(make(Key::q, cmd).description(), "Ctrl+Q");
    use("de");
    const Shortcut sharpS = make(Key::minus, cmd);
    EXPECT_EQ(sharpS.description(), QString::fromUtf8("Ctrl+ß"));
    EXPECT_EQ(sharpS.toKeyCombination(), QKeyCombination(Qt::ControlModifier, Qt::Key_ssharp));
    use("be");  // the micro sign's upper case is Greek: the key keeps its own sign
    EXPECT_EQ(make(Key::backslash, cmd).description(), QString::fromUtf8("Ctrl+µ"));
    EXPECT_EQ(make(Key::q, cmd).description(), "Ctrl+A");  // letters still take their capitals
    QMenu menu;
    menu.addAction("Save", QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(sharpS.menuItemWithMatchingShortcut(&menu), nullptr);
    EXPECT_EQ(make(Key::s, cmd).menuItemWithMatchingShortcut(&menu), menu.actions().front());
    EXPECT_EQ(make(Key::s, cmd | shift).menuItemWithMatchingShortcut(&menu), nullptr);
    EXPECT_FALSE(make(Key::s, cmd).menuItemWithMatchingShortcut(nullptr) ||
                 make(Key::keypad5, cmd).menuItemWithMatchingShortcut(&menu));
}

TEST_F(Package, StoringRegistersAndPostsEachTimeClearingRemovesOrDisablesOnceAndResetRestores) {
    const Name name("openOverlay"), withDefault("withDefault", cmdShift7);
    name.setShortcut(cmdShift6);
    EXPECT_EQ(store.stringForKey("GlobalShortcuts_openOverlay"), QString(R"({"carbonKeyCode":22,"carbonModifiers":768})"));
    setShortcut(cmdShift6, name);  // again: through the system again, under a new identifier
    EXPECT_EQ(center.attempts.back().identity.id, center.attempts.front().identity.id + 2);
    EXPECT_EQ(posted, (std::vector<QString>{"withDefault", "openOverlay", "openOverlay"}));
    for (int twice = 0; twice < 2; ++twice) {
        setShortcut(std::nullopt, name);
        setShortcut(std::nullopt, withDefault);
    }
    EXPECT_EQ(posted.size(), 5u);
    EXPECT_FALSE(store.contains("GlobalShortcuts_openOverlay"));
    EXPECT_EQ(store.object("GlobalShortcuts_withDefault"), QVariant(false));
    EXPECT_FALSE(getShortcut(Name("withDefault", cmdShift7)));  // a default fills only an absent key
    EXPECT_TRUE(center.live.empty());
    // A name is its raw value: the default takes no part.
    EXPECT_EQ(Name::fromRawValue("withDefault"), withDefault);

    const Name plain("plain");  // unreadable values stay untold
    for (QVariant value : {QVariant(QString("nonsense")), QVariant(qint64(22)), QVariant(true)}) {
        store.set("GlobalShortcuts_plain", value);
        setShortcut(std::nullopt, plain);
        EXPECT_TRUE(store.contains("GlobalShortcuts_plain") && !getShortcut(plain));
    }
    setShortcut(cmdShift6, plain);
    setShortcut(std::nullopt, withDefault);
    reset({withDefault, plain});
    EXPECT_EQ(getShortcut(withDefault), cmdShift7);
    EXPECT_FALSE(store.contains("GlobalShortcuts_plain"));
    store.setBool("GlobalShortcuts_falseOne", false);
    store.setString("unrelated", "keep");
    EXPECT_EQ(allNames(), (QSet<Name>{withDefault, Name::fromRawValue("falseOne")}));
    resetAll();  // the rebuilt names carry no default
    EXPECT_FALSE(store.contains("GlobalShortcuts_withDefault"));
    EXPECT_TRUE(store.contains("GlobalShortcuts_falseOne") && store.contains("unrelated"));
    EXPECT_TRUE(center.live.empty());
}

TEST_F(Package, EveryNameHoldingTheShortcutRunsItsActionsInOrderUnlessPaused) {
    const Name a("dispatchA"), b("dispatchB"), c("dispatchC");
    std::vector<int> calls;
    onKeyUp(a, [&] { calls.push_back(1); });
    EXPECT_TRUE(center.attempts.empty());  // nothing stored, nothing registered
    setShortcut(cmdShift6, a);
    setShortcut(cmdShift6, b);
    setShortcut(cmdShift7, c);
    onKeyUp(a, [&] { calls.push_back(2); });
    onKeyDown(a, [&] { calls.push_back(0); });
    onKeyUp(b, [&] { calls.push_back(3); });
    onKeyUp(c, [&] { calls.push_back(9); });
    EXPECT_EQ(press6() + release6(), HotKeyCenter::noErr);
    std::sort(calls.begin() + 1, calls.end());  // across names the order is not defined
    EXPECT_EQ(calls, (std::vector<int>{0, 1, 2, 3}));
    setIsPaused(true);
    release6();
    setIsPaused(false);
    // A name letting go of a shared shortcut leaves it to the other.
    removeHandler(a);
    setShortcut(cmdShift7, a);
    release6();
    EXPECT_EQ(calls.size(), 5u);
    removeHandler(b);  // with nobody left to answer, the shortcut is withdrawn
    EXPECT_FALSE(center.isLive(22, 768));
}

TEST_F(Package, DisablingOrAnOpenMenuWithdrawsHotKeysAndTheyComeBackUnderTheSameIdentifiers) {
    setIsEnabled(false);
    const Name name("switched");
    int downs = 0, ups = 0;
    setShortcut(cmdShift6, name);  // the first registration installs the handler, which withdraws it at once
    onKeyDown(name, [&] { ++downs; });
    onKeyUp(name, [&] { ++ups; });
    EXPECT_FALSE(isEnabled(name) || release6() == HotKeyCenter::noErr);
    setIsEnabled(true);
    setIsEnabled(true);  // already true: nothing happens
    ASSERT_EQ(center.attempts.size(), 2u);
    EXPECT_EQ(center.attempts[1].identity.id, center.attempts[0].identity.id);
    disable({name});
    EXPECT_TRUE(getShortcut(name) && release6() != HotKeyCenter::noErr);
    enable({name});
    EXPECT_TRUE(isEnabled(name) && release6() == HotKeyCenter::noErr);
    // With a menu open, keys arrive as raw key events instead.
    const quint32 id = center.live.begin()->second.identity.id;
    setIsMenuOpen(true);
    EXPECT_TRUE(center.live.empty());
    EXPECT_EQ(raw(HotKeyCenter::kindRawKeyDown, 22, 0x300 | 0x400), HotKeyCenter::noErr);  // caps lock is no modifier
    EXPECT_EQ(raw(HotKeyCenter::kindRawKeyRepeat, 22), HotKeyCenter::eventNotHandledErr);
    EXPECT_EQ(raw(HotKeyCenter::kindRawKeyUp, 22), HotKeyCenter::noErr);
    EXPECT_EQ(raw(HotKeyCenter::kindRawKeyUp, 26), HotKeyCenter::eventNotHandledErr);  // not ours
    EXPECT_EQ(downs + ups, 3);
    center.refused.insert({22, 768});  // someone else took it while the menu was open
    std::vector<QVariantMap> told;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        registrationDidChange, [&](const QVariantMap& info) { told.push_back(info); });
    CapturedStdout printed;
    setIsMenuOpen(false);
    setIsMenuOpen(true);
    setIsMenuOpen(false);  // tried again, still refused: told once
    EXPECT_EQ(center.attempts.back().identity.id, id);
    EXPECT_FALSE(center.isLive(22, 768));
    center.refused.clear();  // and let go again
    setIsMenuOpen(true);
    setIsMenuOpen(false);
    platform::NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(printed.text(), "Error registering hotkey Ctrl+Shift+6: -9878\n"
                              "Registered hotkey Ctrl+Shift+6 after it was refused\n");
    EXPECT_EQ(center.attempts.back().identity.id, id);  // under its own identifier still
    EXPECT_EQ(release6(), HotKeyCenter::noErr);
    EXPECT_EQ(ups, 3);
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0].value("names").toList().value(0).value<Name>(), name);
    EXPECT_EQ(told[0].value("status"), HotKeyCenter::eventHotKeyExistsErr);
    EXPECT_EQ(told[1].value("isActive"), true);
}

TEST_F(Package, IdentifiersCountRefusalsOnlyOurEventsAreHandledAndOtherProgramsHoldSystemShortcuts) {
    center.refused.insert({26, 768});
    int fired = 0;
    auto count = [&](const Shortcut&) { ++fired; };
    for (const Shortcut& s : {cmdShift6, cmdShift7, Shortcut(28, 0x100), cmdShift6})
        SystemGlobalShortcuts::registerShortcut(s, count, count);
    EXPECT_TRUE(center.attempts[2].identity.id == 3 && center.installs == 1);
    for (platform::HotKeyIdentity foreign : {platform::HotKeyIdentity{0x41424344, 1}, {signature, 2}})
        EXPECT_EQ(center.deliver(HotKeyCenter::kindHotKeyPressed, foreign), HotKeyCenter::eventNotHandledErr);
    EXPECT_EQ(SystemGlobalShortcuts::handleEvent(nullptr), HotKeyCenter::eventNotHandledErr);
    EXPECT_EQ(raw(9, 22), HotKeyCenter::eventNotHandledErr);
    EXPECT_EQ(center.deliver(HotKeyCenter::kindHotKeyPressed, {signature, 3}), HotKeyCenter::noErr);
    EXPECT_EQ(fired, 1);
    SystemGlobalShortcuts::unregisterShortcut(cmdShift6);  // both of its registrations
    EXPECT_EQ(center.live.size(), 1u);

    auto entry = [](QVariant enabled, QVariant code, int modifiers) {
        return QVariantMap{{"kHISymbolicHotKeyEnabled", enabled}, {"kHISymbolicHotKeyCode", code},
                           {"kHISymbolicHotKeyModifiers", modifiers}};
    };
    center.symbolic = QVariantList{entry(true, 111, 0), entry(false, 1, 256), entry(QVariant(), 2, 256),
                                   entry(true, "3", 256), entry(true, 49, 0x500)};
    EXPECT_EQ(SystemGlobalShortcuts::system(), (QList<Shortcut>{Shortcut(111, 0), Shortcut(49, 0x100)}));
    EXPECT_TRUE(SystemGlobalShortcuts::isSystemShortcut(Shortcut(49, 0x100)));
    center.symbolic = QVariantList{QVariant(5)};
    EXPECT_TRUE(SystemGlobalShortcuts::system().isEmpty());
    // Where the desktop keeps no list, a combination another program holds is the system's.
    EXPECT_TRUE(SystemGlobalShortcuts::isSystemShortcut(cmdShift7));
    EXPECT_FALSE(SystemGlobalShortcuts::isSystemShortcut(cmdShift6) || SystemGlobalShortcuts::isSystemShortcut({-1, 0}));
}

QCoro::Task<> collect(std::shared_ptr<EventStream> stream, std::vector<EventType>* out) {
    while (auto event = co_await stream->next())
        out->push_back(*event);
}

TEST_F(Package, StreamsDeliverFromTheNextTurnAndReleaseTheirRegistration) {
    const Name name("streamed");
    setShortcut(cmdShift6, name);
    disable({name});  // only the streams need it now
    events(name).reset();  // dropped before its set-up: leaves nothing behind
    std::vector<EventType> all, upsOnly;
    auto stream = events(name);
    auto filtered = events(EventType::keyUp, name);
    collect(filtered, &upsOnly);
    EXPECT_FALSE(center.isLive(22, 768));  // set-up waits for the next turn
    turn();
    press6();
    release6();
    collect(stream, &all);  // takes what was buffered, then waits
    EXPECT_EQ(all, (std::vector<EventType>{EventType::keyDown, EventType::keyUp}));
    EXPECT_EQ(upsOnly, std::vector<EventType>{EventType::keyUp});
    // A legacy action keeps the registration; removing all legacy handlers leaves the streams'.
    onKeyUp(name, [] {});
    removeAllHandlers();
    EXPECT_TRUE(center.isLive(22, 768));
    onKeyUp(name, [] {});
    stream->finish();
    filtered->finish();
    turn();
    EXPECT_TRUE(center.isLive(22, 768));
    removeHandler(name);
    EXPECT_FALSE(center.isLive(22, 768));
}

// Finished as the application goes away, when no further turn runs what was posted: its consumer
// still ends, rather than keeping itself, the stream and its state alive for good.
TEST_F(Package, AStreamFinishedWithoutAFurtherTurnStillEndsItsConsumer) {
    auto stream = events(Name("closing"));
    bool ended = false;
    [](std::shared_ptr<EventStream> s, bool* ended) -> QCoro::Task<> {
        while (co_await s->next()) {
        }
        *ended = true;
    }(stream, &ended);
    turn();
    stream->finish();
    QCoreApplication::removePostedEvents(qApp, QEvent::MetaCall);  // the turn that never comes
    EXPECT_TRUE(ended);
}

}  // namespace
