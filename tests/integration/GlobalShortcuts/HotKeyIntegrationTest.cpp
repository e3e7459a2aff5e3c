// Real key grabs, keyboard layouts and the recorder on the X server, driven from a second client
// with XTest; and the X11 hot-key service on its own, with a server that can go away and a modifier
// map that moves keys.
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/Recorder.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/input/KeyCodeTable.h"
#include "platform/input/X11HotKeyCenter.h"
#include "support/AlertAnswerer.h"
#include "support/Printed.h"
#include "support/WaitUntil.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <gtest/gtest.h>

using namespace GlobalShortcuts;
using platform::HotKeyCenter;

namespace {

const Shortcut ctrlShift6(22, 0x300), ctrlShift7(26, 0x300);
constexpr quint16 ctrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
constexpr quint32 signature = 0x48544B59;

quint8 xKey(Key key) { return quint8(*platform::KeyCodeTable::xKeycodeFromVirtual(int(key.rawValue))); }

// Another client of the same X server: types with XTest and can hold grabs of its own.
class OtherClient {
public:
    OtherClient() : c(xcb_connect(nullptr, nullptr)), root(xcb_setup_roots_iterator(xcb_get_setup(c)).data->root) {}
    ~OtherClient() { xcb_disconnect(c); }
    bool ok() const { return !xcb_connection_has_error(c); }
    // Presses (or releases) the keys in order, and returns once the server has handled them.
    void keys(std::initializer_list<Key> keys, bool press = true) {
        for (Key k : keys)
            xcb_test_fake_input(c, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, xKey(k), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    void chord(std::initializer_list<Key> pressed) {
        keys(pressed);
        for (auto it = std::rbegin(pressed); it != std::rend(pressed); ++it)
            keys({*it}, false);
    }
    bool grab(Key key, quint16 modifiers) {
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_grab_key_checked(c, 1, root, modifiers, xKey(key), XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        free(error);
        return !error;
    }
    bool grabKeyboard() {
        auto* reply = xcb_grab_keyboard_reply(
            c, xcb_grab_keyboard(c, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr);
        const bool ok = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
        free(reply);
        return ok;
    }
    xcb_connection_t* c;
    xcb_window_t root;
};

class HotKeyIntegration : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(other.ok()) << "no X server";
        setDefaultsStore(&store);
        resetForTesting();
        onKeyDown(name, [this] { ++downs; });
        onKeyUp(name, [this] { ++ups; });
        setShortcut(ctrlShift6, name);
    }
    void TearDown() override {
        resetForTesting();
        setDefaultsStore(nullptr);
    }

    QTemporaryDir dir;
    platform::DefaultsStore store{dir.filePath("defaults.json")};
    OtherClient other;
    Name name{"integrationShortcut"};
    int downs = 0, ups = 0;
};

TEST_F(HotKeyIntegration, OnePressAndOneReleaseHoweverTheKeysAreHeldWhateverTheLocksAndThroughAnOpenMenu) {
    other.chord({Key::keypadClear, Key::capsLock});  // Num Lock and Caps Lock on
    other.keys({Key::command, Key::shift, Key::six, Key::six, Key::six});  // repeats, as auto-repeat makes them
    EXPECT_TRUE(waitUntil([&] { return downs == 1; }));
    spinFor(1200);  // a real hold, long enough for the server's own auto-repeat
    // Probing for another program's keyboard grab must not take this key's release from us.
    EXPECT_FALSE(HotKeyCenter::shared().isSecureEventInputEnabled());
    EXPECT_EQ(ups, 0);
    other.keys({Key::shift, Key::six, Key::command}, false);  // a modifier going up first changes nothing
    EXPECT_TRUE(waitUntil([&] { return ups == 1; }));
    EXPECT_EQ(downs, 1);  // events come in order: no repeat is still on its way
    other.chord({Key::keypadClear, Key::capsLock});  // and off

    initialize();  // with a menu open the shortcut arrives through the menu's key events
    QMenu menu;
    menu.addAction("Item");
    menu.popup(QPoint(100, 100));
    ASSERT_TRUE(waitUntil([&] { return isMenuOpen() && QApplication::activePopupWidget() == &menu; }));
    other.chord({Key::command, Key::shift, Key::six});
    EXPECT_TRUE(waitUntil([&] { return downs == 2 && ups == 2; }));
    menu.hide();
    ASSERT_TRUE(waitUntil([&] { return !isMenuOpen(); }));
    other.chord({Key::command, Key::shift, Key::six});
    EXPECT_TRUE(waitUntil([&] { return ups == 3; }));
}

TEST_F(HotKeyIntegration, GrabsCoverEveryLockVariantAndAnotherClientsHoldIsFoundRefusedAndLogged) {
    auto& center = HotKeyCenter::shared();
    const quint16 lockVariants[] = {XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2, 0};
    for (quint16 v : lockVariants)
        EXPECT_FALSE(other.grab(Key::six, ctrlShift | v)) << v;
    EXPECT_FALSE(center.isHotKeyTakenElsewhere(22, 0x300) || center.isHotKeyTakenElsewhere(28, 0x300));  // ours; free
    ASSERT_TRUE(other.grab(Key::eight, ctrlShift) && other.grab(Key::seven, ctrlShift));  // the trial gave 8 back
    EXPECT_TRUE(center.isHotKeyTakenElsewhere(26, 0x300));
    CapturedStdout printed;
    setShortcut(ctrlShift7, name);
    EXPECT_EQ(printed.text(), "Error registering hotkey Ctrl+Shift+7: -9878\n");
    EXPECT_EQ(getShortcut(name), ctrlShift7);  // still stored: the refusal is only logged
    // Lock variants granted before the refusal were given back, and so was Ctrl+Shift+6.
    for (quint16 v : lockVariants)
        EXPECT_TRUE((!v || other.grab(Key::seven, ctrlShift | v)) && other.grab(Key::six, ctrlShift | v)) << v;
}

TEST_F(HotKeyIntegration, SecureInputIsAnotherProgramHoldingTheKeyboardNeverOurs) {
    auto& center = HotKeyCenter::shared();
    EXPECT_FALSE(center.isSecureEventInputEnabled());  // nobody holds the keyboard, and the probe gives it back
    // The overlay holds the keyboard while it shows; its own shortcut must not then warn.
    QWidget panel;
    panel.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    panel.show();
    QCoreApplication::processEvents();
    panel.grabKeyboard();
    EXPECT_FALSE(center.isSecureEventInputEnabled());
    panel.releaseKeyboard();
    ASSERT_TRUE(waitUntil([&] { return other.grabKeyboard(); }));
    EXPECT_TRUE(center.isSecureEventInputEnabled());
}

TEST_F(HotKeyIntegration, RecorderHearsCombinationsTheApplicationOrAnotherProgramHolds) {
    const Name recorded("recordedHere");  // Ctrl+Shift+6 is the application's own grab
    ASSERT_TRUE(other.grab(Key::seven, ctrlShift));
    QWidget window;
    RecorderCocoa* field = (new Recorder(recorded, {}, &window))->control();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return window.isActiveWindow(); }));
    auto pressWhileRecording = [&](Key key) {
        field->setFocus();
        ASSERT_TRUE(waitUntil([&] { return field->isRecording(); }));
        other.chord({Key::command, Key::shift, key});
    };
    pressWhileRecording(Key::six);  // moves it from one name to another
    EXPECT_TRUE(waitUntil([&] { return getShortcut(recorded) == ctrlShift6; }) && field->text() == "Ctrl+Shift+6");
    {  // another program's: the system-conflict alert
        AlertAnswerer answer("OK");
        pressWhileRecording(Key::seven);
        EXPECT_TRUE(waitUntil([&] { return answer.titles == QStringList{"OK", "Use Anyway"}; }));
    }
    AlertAnswerer answer("Use Anyway");
    CapturedStdout printed;
    pressWhileRecording(Key::seven);
    const bool stored = waitUntil([&] { return getShortcut(recorded) == ctrlShift7; });
    EXPECT_EQ(printed.text(), "Error registering hotkey Ctrl+Shift+7: -9878\n");
    EXPECT_TRUE(stored);
}

// Puts each layout on the X server, and the one it had back afterwards.
TEST(LayoutIntegration, EveryLayoutThatTypesLatinLettersNamesItsKeys) {
    QProcess query;
    query.start("setxkbmap", {"-query"});
    ASSERT_TRUE(query.waitForFinished(5000));
    const QString settings = QString::fromUtf8(query.readAllStandardOutput());
    auto saved = [&](const QString& field) { return settings.section(field + ":", 1).section('\n', 0, 0).trimmed(); };
    struct Layout {
        const char* layout;
        const char* variant;
        std::vector<std::pair<Key, const char*>> keys;
    };
    for (const Layout& l : std::initializer_list<Layout>{
             {"fr", "", {{Key::q, "Ctrl+A"}, {Key::a, "Ctrl+Q"}, {Key::leftBracket, "Ctrl+^"}}},
             {"us", "dvorak", {{Key::s, "Ctrl+O"}, {Key::q, "Ctrl+'"}}},
             // Turkish keeps its two letters i apart: the key of ı is I, the key of i is İ.
             {"tr", "", {{Key::i, "Ctrl+I"}, {Key::quote, "Ctrl+İ"}, {Key::q, "Ctrl+Q"}}},
             {"de", "", {{Key::y, "Ctrl+Z"}, {Key::minus, "Ctrl+ß"}, {Key::backtick, "Ctrl+^"}}}}) {
        EXPECT_EQ(QProcess::execute("setxkbmap", {"-layout", l.layout, "-variant", l.variant}), 0);
        for (auto [key, text] : l.keys) {
            const Shortcut shortcut(key.rawValue, 0x100);
            EXPECT_EQ(shortcut.description(), QString::fromUtf8(text)) << l.layout;
            EXPECT_FALSE(shortcut.toKeySequence().isEmpty()) << text;  // menus have a key to go by
        }
    }
    EXPECT_EQ(QProcess::execute("setxkbmap", {"-layout", saved("layout"), "-variant", saved("variant")}), 0);
}

TEST(X11HotKeyCenter, LostServerConnectionNeitherCrashesNorSpins) {
    QString display;
    for (int n = 170; display.isEmpty(); ++n)
        if (!QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)) && !QFile::exists(QString("/tmp/.X%1-lock").arg(n)))
            display = QString(":%1").arg(n);
    QProcess server;
    server.start("Xvfb", {display, "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists("/tmp/.X11-unix/X" + display.mid(1)); }));
    platform::X11HotKeyCenter center;
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", display.toUtf8());  // read when the center first connects
    ASSERT_TRUE(center.hasDispatcherTarget());
    qputenv("DISPLAY", saved);
    HotKeyCenter::HotKeyRef ref = 0, second = 5;
    ASSERT_EQ(center.registerHotKey(22, 0x300, {signature, 1}, &ref), HotKeyCenter::noErr);
    server.kill();
    server.waitForFinished(5000);
    // A killed server leaves its lock and socket behind, which would use up the display numbers.
    QFile::remove("/tmp/.X" + display.mid(1) + "-lock");
    QFile::remove("/tmp/.X11-unix/X" + display.mid(1));
    int wakeUps = 0;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, &server, [&] { ++wakeUps; });
    QEventLoop idle;
    QTimer::singleShot(300, &idle, &QEventLoop::quit);
    idle.exec();
    EXPECT_LT(wakeUps, 100);
    EXPECT_FALSE(center.hasDispatcherTarget() || center.isSecureEventInputEnabled());
    EXPECT_NE(center.registerHotKey(26, 0x300, {signature, 2}, &second), HotKeyCenter::noErr);
    EXPECT_FALSE(center.isHotKeyTakenElsewhere(26, 0x300));
    EXPECT_EQ(center.unregisterHotKey(ref), HotKeyCenter::noErr);
}

TEST(X11HotKeyCenter, TakesEachCombinationOnceDeliversOnTheMainThreadAndFollowsTheModifierMap) {
    OtherClient other;
    platform::X11HotKeyCenter center;
    QThread* worker = QThread::create([&] { center.hasDispatcherTarget(); });  // connected elsewhere first
    worker->start();
    worker->wait();
    delete worker;
    std::vector<quint32> kinds;
    bool onMain = true;
    HotKeyCenter::HandlerRef handler = 0;
    center.installHandler([&](const platform::HotKeyEvent& e) {
        kinds.push_back(e.kind);
        onMain = onMain && QThread::currentThread() == QCoreApplication::instance()->thread();
        return HotKeyCenter::noErr;
    }, &handler);
    center.addEventTypes(handler, {HotKeyCenter::kindHotKeyPressed, HotKeyCenter::kindHotKeyReleased});
    auto presses = [&] { return std::count(kinds.begin(), kinds.end(), HotKeyCenter::kindHotKeyPressed); };
    HotKeyCenter::HotKeyRef ref = 7, again = 7, alt = 0, altShift = 0;
    EXPECT_TRUE(center.registerHotKey(0, 0x20000 | 0x100, {signature, 1}, &ref) == HotKeyCenter::paramErr && !ref);  // Fn
    EXPECT_EQ(center.registerHotKey(63, 0x100, {signature, 2}, &ref), HotKeyCenter::paramErr);  // the Fn key
    EXPECT_EQ(center.registerHotKey(500, 0x100, {signature, 3}, &ref), HotKeyCenter::paramErr);
    EXPECT_FALSE(center.isHotKeyTakenElsewhere(500, 0x100) || platform::KeyCodeTable::virtualFromXKeycode(3));
    ASSERT_EQ(center.registerHotKey(28, 0x1000, {signature, 4}, &ref), HotKeyCenter::noErr);  // Super+8
    EXPECT_EQ(center.registerHotKey(28, 0x1000, {signature, 5}, &again), HotKeyCenter::eventHotKeyExistsErr);
    ASSERT_EQ(center.registerHotKey(28, 0x800, {signature, 6}, &alt), HotKeyCenter::noErr);  // Alt+8, Alt on Mod1
    // Both Alt keys move from Mod1 to Mod3, as xmodmap can do, until the test ends.
    auto* reply = xcb_get_modifier_mapping_reply(other.c, xcb_get_modifier_mapping(other.c), nullptr);
    const size_t perModifier = reply->keycodes_per_modifier;
    const std::vector<xcb_keycode_t> saved(xcb_get_modifier_mapping_keycodes(reply),
                                           xcb_get_modifier_mapping_keycodes(reply) + 8 * perModifier);
    free(reply);
    auto setModifierMap = [&](std::vector<xcb_keycode_t> map) {
        free(xcb_set_modifier_mapping_reply(other.c, xcb_set_modifier_mapping(other.c, perModifier, map.data()), nullptr));
    };
    std::vector<xcb_keycode_t> moved = saved;
    std::fill(moved.begin() + 3 * perModifier, moved.begin() + 6 * perModifier, 0);
    std::copy(saved.begin() + 4 * perModifier, saved.begin() + 5 * perModifier, moved.begin() + 4 * perModifier);
    moved[5 * perModifier] = xKey(Key::option);
    moved[5 * perModifier + 1] = xKey(Key::rightOption);
    setModifierMap(moved);
    std::shared_ptr<void> restore(nullptr, [&](void*) { setModifierMap(saved); });  // whatever happens
    // The map change reaches the center as an event of its connection, before this press.
    other.chord({Key::control, Key::eight});
    ASSERT_TRUE(waitUntil([&] { return kinds.size() == 2; }));
    EXPECT_EQ(kinds, (std::vector<quint32>{HotKeyCenter::kindHotKeyPressed, HotKeyCenter::kindHotKeyReleased}));
    EXPECT_TRUE(onMain);
    other.chord({Key::option, Key::eight});
    EXPECT_TRUE(waitUntil([&] { return presses() == 2; })) << "grabbed before the change";
    ASSERT_EQ(center.registerHotKey(28, 0xA00, {signature, 7}, &altShift), HotKeyCenter::noErr);  // Alt+Shift+8
    other.chord({Key::option, Key::shift, Key::eight});
    EXPECT_TRUE(waitUntil([&] { return presses() == 3; })) << "grabbed after the change";
    EXPECT_EQ(center.unregisterHotKey(ref), HotKeyCenter::noErr);
    EXPECT_EQ(center.unregisterHotKey(ref), HotKeyCenter::paramErr);
    EXPECT_EQ(center.registerHotKey(28, 0x1000, {signature, 8}, &again), HotKeyCenter::noErr);
}

}  // namespace
