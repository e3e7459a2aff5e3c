// Real key grabs, keyboard layouts and the recorder on the X server, driven from a second client
// with XTest; and the X11 hot-key service on its own, with a server that can go away and a modifier
// map that moves keys.
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/Recorder.h"
#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"
#include "platform/core/NotificationCenter.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/input/KeyCodeTable.h"
#include "platform/input/KeyboardLayout.h"
#include "platform/input/X11HotKeyCenter.h"
#include "support/AlertAnswerer.h"
#include "support/LiveDesktop.h"
#include "support/Printed.h"
#include "support/WaitUntil.h"

#include <QAbstractEventDispatcher>
#include <QAbstractItemView>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QMenu>
#include <QWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <gtest/gtest.h>

using namespace GlobalShortcuts;
using platform::HotKeyCenter;

namespace {

const Shortcut ctrlShift6(22, 0x300), ctrlShift7(26, 0x300);
constexpr quint16 ctrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
constexpr quint32 signature = 0x48544B59;

// The key symbol each key the tests press types on a U.S. keyboard.
// Counts the key releases that reach a widget.
struct KeyReleases : QObject {
    explicit KeyReleases(QObject* watched) { watched->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::KeyRelease;
        return false;
    }
    int count = 0;
};

xcb_keysym_t keysym(Key key) {
    const std::pair<Key, xcb_keysym_t> syms[] = {
        {Key::six, '6'},           {Key::seven, '7'},          {Key::eight, '8'},
        {Key::command, 0xffe3},    {Key::shift, 0xffe1},       {Key::option, 0xffe9},
        {Key::rightOption, 0xffea}, {Key::control, 0xffeb},     {Key::keypadClear, 0xff7f},
        {Key::capsLock, 0xffe5},   {Key::upArrow, 0xff52},     {Key::downArrow, 0xff54},
        {Key::keypadEnter, 0xff8d}, {Key::f13, 0xff61 /* Print */}};
    for (auto [k, sym] : syms)
        if (k == key)
            return sym;
    return 0;
}

// Another client of the same X server: types with XTest and can hold grabs of its own.
class OtherClient {
public:
    OtherClient() : c(xcb_connect(nullptr, nullptr)), root(xcb_setup_roots_iterator(xcb_get_setup(c)).data->root) {}
    ~OtherClient() { xcb_disconnect(c); }
    bool ok() const { return !xcb_connection_has_error(c); }
    // The key's code as this server's keymap has it: servers number their keys differently.
    quint8 xKey(Key key) const {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym(key));
        const quint8 code = codes ? codes[0] : 0;
        free(codes);
        xcb_key_symbols_free(symbols);
        return code;
    }
    // A real click of the left button at a root position.
    void click(QPoint at) {
        xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, qint16(at.x()), qint16(at.y()), 0);
        xcb_test_fake_input(c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    void ungrabKeyboard() {
        xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
        sync();
    }
    void sync() { free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
    // A window of this client, mapped; once a window manager manages windows it takes it into a
    // frame of its own.
    xcb_window_t probe() {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root, 0, 0, 20, 20, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(c, w);
        xcb_flush(c);
        return w;
    }
    std::vector<xcb_atom_t> rootProperties() const {
        auto* list = xcb_list_properties_reply(c, xcb_list_properties(c, root), nullptr);
        std::vector<xcb_atom_t> atoms;
        if (list)
            atoms.assign(xcb_list_properties_atoms(list), xcb_list_properties_atoms(list) + list->atoms_len);
        free(list);
        return atoms;
    }
    bool framed(xcb_window_t w) const {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        const bool inFrame = tree && tree->parent != root;
        free(tree);
        return inFrame;
    }
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
    void ungrab(Key key, quint16 modifiers) {
        xcb_ungrab_key(c, xKey(key), root, modifiers);
        sync();
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
    // There too the modifiers may go up before the key.
    other.keys({Key::command, Key::shift, Key::six});
    other.keys({Key::shift, Key::command, Key::six}, false);
    EXPECT_TRUE(waitUntil([&] { return ups == 3; }));
    EXPECT_EQ(downs, 3);
    menu.hide();
    ASSERT_TRUE(waitUntil([&] { return !isMenuOpen(); }));
    other.chord({Key::command, Key::shift, Key::six});
    EXPECT_TRUE(waitUntil([&] { return ups == 4; }));

    // A shortcut held while its menu closes goes up elsewhere; a plain 6 in the next menu is the menu's.
    const auto openMenu = [&] {
        menu.popup(QPoint(100, 100));
        return waitUntil([&] { return isMenuOpen() && QApplication::activePopupWidget() == &menu; });
    };
    ASSERT_TRUE(openMenu());
    other.keys({Key::command, Key::shift, Key::six});
    ASSERT_TRUE(waitUntil([&] { return downs == 5; }));
    menu.hide();
    ASSERT_TRUE(waitUntil([&] { return !isMenuOpen(); }));
    other.keys({Key::shift, Key::command, Key::six}, false);
    ASSERT_TRUE(openMenu());
    KeyReleases menuReleases(&menu);
    other.chord({Key::six});
    EXPECT_TRUE(waitUntil([&] { return menuReleases.count == 1; }));
    EXPECT_EQ(ups, 4);
    menu.hide();
    ASSERT_TRUE(waitUntil([&] { return !isMenuOpen(); }));

    // A combo box's open list holds the keyboard as a menu does.
    QComboBox box;
    box.addItems({"MOV", "MP4"});
    box.show();
    box.showPopup();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activePopupWidget() != nullptr; }));
    other.chord({Key::command, Key::shift, Key::six});
    EXPECT_TRUE(waitUntil([&] { return ups == 5; }));
    EXPECT_TRUE(box.view()->isVisible());  // the list stays open
    box.hidePopup();
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

TEST_F(HotKeyIntegration, ARefusedShortcutIsTakenOnceTheOtherProgramLetsGo_ToldOnceEach) {
    ASSERT_TRUE(other.grab(Key::seven, ctrlShift));
    std::vector<QVariantMap> told;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        registrationDidChange, [&](const QVariantMap& info) { told.push_back(info); });
    std::shared_ptr<void> stop(nullptr, [&](void*) { platform::NotificationCenter::defaultCenter().removeObserver(token); });
    CapturedStdout printed;
    setShortcut(ctrlShift7, name);
    spinFor(2 * SystemGlobalShortcuts::retryInterval + 500);  // tried again meanwhile, and refused again
    ASSERT_EQ(told.size(), 1u);
    other.chord({Key::command, Key::shift, Key::seven});  // the other program's
    other.ungrab(Key::seven, ctrlShift);
    EXPECT_TRUE(waitUntil([&] { return told.size() == 2; }, 4 * SystemGlobalShortcuts::retryInterval));
    other.chord({Key::command, Key::shift, Key::seven});
    EXPECT_TRUE(waitUntil([&] { return ups == 1; }));
    EXPECT_EQ(printed.text(), "Error registering hotkey Ctrl+Shift+7: -9878\n"
                              "Registered hotkey Ctrl+Shift+7 after it was refused\n");
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0].value("names").toList().value(0).value<Name>(), name);
    EXPECT_EQ(told[0].value("shortcut"), "Ctrl+Shift+7");
    EXPECT_EQ(told[0].value("status"), HotKeyCenter::eventHotKeyExistsErr);
    EXPECT_EQ(told[1].value("isActive"), true);
}

// Records no key of this server has, or that no hot key can hold, name the shortcut and what was
// stored, never the combination their text would suggest.
TEST_F(HotKeyIntegration, AStoredRecordThatCannotBeUsedIsLoggedByNameAndRecord) {
    for (const char* record : {R"({"carbonKeyCode":200,"carbonModifiers":768})",
                               R"({"carbonKeyCode":4294967296,"carbonModifiers":768})",
                               R"({"carbonKeyCode":26,"carbonModifiers":4294968064})"}) {
        store.setString("GlobalShortcuts_integrationShortcut", record);
        CapturedStdout printed;
        disable({name});
        enable({name});
        EXPECT_EQ(printed.text(), "Error registering hotkey integrationShortcut, stored as " + std::string(record) + ": -50\n");
        EXPECT_FALSE(getShortcut(name)->description().contains(QChar(0xFFFD)));
    }
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
    // Used anyway, it is taken once the other program lets go.
    int taken = 0;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        registrationDidChange, [&](const QVariantMap& info) { taken += info.value("isActive").toBool(); });
    other.ungrab(Key::seven, ctrlShift);
    EXPECT_TRUE(waitUntil([&] { return taken == 1; }, 4 * SystemGlobalShortcuts::retryInterval));
    platform::NotificationCenter::defaultCenter().removeObserver(token);
}

// Clicked with the pointer under a window manager: the recorder's window is active again only some
// time after the alert has gone, and recording must not start again then.
TEST_F(HotKeyIntegration, UseAnywayClickedWithThePointerEndsRecordingFreesTheKeyboardAndTheShortcutsFire) {
    QProcess windowManager;
    const std::vector<xcb_atom_t> before = other.rootProperties();
    const xcb_window_t probe = other.probe();
    windowManager.start("openbox", {"--replace"});  // one still ending would keep it out
    std::shared_ptr<void> stop(nullptr, [&](void*) {
        windowManager.kill();  // asked to end, it takes its time and overlaps the next test
        windowManager.waitForFinished(5000);
        // The desktop as it was for the tests that follow: without the manager's root properties.
        for (xcb_atom_t a : other.rootProperties())
            if (std::find(before.begin(), before.end(), a) == before.end())
                xcb_delete_property(other.c, other.root, a);
        xcb_destroy_window(other.c, probe);
        other.sync();
    });
    ASSERT_TRUE(waitUntil([&] { return other.framed(probe); }));
    ASSERT_TRUE(other.grab(Key::seven, ctrlShift));  // another program's
    const Name recorded("forcedHere");
    QWidget window;
    window.resize(300, 120);
    RecorderCocoa* field = (new Recorder(recorded, {}, &window))->control();
    field->move(80, 40);
    window.show();
    // Placed by the window manager; the click also makes it active, whatever its focus rules.
    ASSERT_TRUE(waitUntil([&] { return window.windowHandle()->isExposed(); }));
    other.click(field->mapToGlobal(field->rect().center()));
    ASSERT_TRUE(waitUntil([&] { return field->isRecording(); }));
    // The alert runs a loop of its own: the click comes from a timer that runs inside it.
    bool clicked = false;
    QTimer clicker;
    clicker.setInterval(10);
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isActiveWindow())
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == "Use Anyway" && !clicked) {
                        clicked = true;
                        clicker.stop();
                        other.click(b->mapToGlobal(b->rect().center()));
                    }
    });
    clicker.start();
    testing::internal::CaptureStdout();  // the refused registration's line
    other.chord({Key::command, Key::shift, Key::seven});
    ASSERT_TRUE(waitUntil([&] { return getShortcut(recorded) == ctrlShift7; }));
    // The window manager gives the window back its focus: only now would recording start again.
    ASSERT_TRUE(waitUntil([&] { return window.isActiveWindow(); }));
    QCoreApplication::processEvents();
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(field->isRecording());
    EXPECT_FALSE(isPaused());
    EXPECT_EQ(field->text(), "Ctrl+Shift+7");
    EXPECT_TRUE(other.grabKeyboard()) << "the recorder still holds the keyboard";
    other.ungrabKeyboard();
    other.chord({Key::command, Key::shift, Key::six});
    EXPECT_TRUE(waitUntil([&] { return ups == 1; }));
    EXPECT_EQ(getShortcut(name), ctrlShift6);  // the press went to its shortcut, not into the field
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

// Xorg without evdev numbers its keys as xfree86 did: Up is 98 there, 111 on Xvfb (where 98 is the
// keypad's Enter and 111 Print).
TEST(X11HotKeyCenter, OnEveryServerTheKeysPressedAreTheKeysGrabbedAndRecorded) {
    QTemporaryDir folder;
    std::vector<std::unique_ptr<live::OwnXorgServer>> xorg;
    for (bool ownServer : {false, true}) {
        if (ownServer) {
            xorg.push_back(std::make_unique<live::OwnXorgServer>(folder.path()));
            ASSERT_TRUE(xorg.back()->start());
        }
        const std::string server = ownServer ? "Xorg" : "Xvfb";
        OtherClient other;  // on the server DISPLAY names now
        // A recorder in a program on that server stores the keys pressed, and names them. (Before the
        // grabs below: a combination held elsewhere would bring the conflict alert.)
        for (auto [keys, stored] : std::initializer_list<std::pair<std::vector<Key>, const char*>>{
                 {{Key::command, Key::downArrow}, R"({"carbonKeyCode":125,"carbonModifiers":256} Ctrl+Down)"},
                 {{Key::command, Key::upArrow}, R"({"carbonKeyCode":126,"carbonModifiers":256} Ctrl+Up)"},
                 {{Key::command, Key::shift, Key::seven}, R"({"carbonKeyCode":26,"carbonModifiers":768} Ctrl+Shift+7)"},
                 {{Key::f13}, R"({"carbonKeyCode":105,"carbonModifiers":0} Print)"}}) {  // alone, as F13
            QProcess program;
            program.start(RECORDER_PROGRAM, {});
            QByteArray out;
            ASSERT_TRUE(waitUntil([&] { return (out += program.readAllStandardOutput()).contains("recording\n"); }))
                << server;
            for (Key k : keys)
                other.keys({k});
            for (auto it = keys.rbegin(); it != keys.rend(); ++it)
                other.keys({*it}, false);
            EXPECT_TRUE(waitUntil([&] { return (out += program.readAllStandardOutput()).endsWith("\n") &&
                                              out.count('\n') == 2; }))
                << server;
            EXPECT_EQ(out.split('\n').value(1).toStdString(), stored) << server;
            program.waitForFinished(5000);
        }
        platform::X11HotKeyCenter center;
        ASSERT_TRUE(center.hasDispatcherTarget()) << server;
        std::vector<quint32> fired;
        HotKeyCenter::HandlerRef handler = 0;
        center.installHandler([&](const platform::HotKeyEvent& e) {
            if (e.kind == HotKeyCenter::kindHotKeyPressed)
                fired.push_back(e.identity ? e.identity->id : 0);
            return HotKeyCenter::noErr;
        }, &handler);
        center.addEventTypes(handler, {HotKeyCenter::kindHotKeyPressed});
        HotKeyCenter::HotKeyRef ref = 0;
        ASSERT_EQ(center.registerHotKey(126, 0x100, {signature, 1}, &ref), HotKeyCenter::noErr);  // Ctrl+Up
        ASSERT_EQ(center.registerHotKey(125, 0x100, {signature, 2}, &ref), HotKeyCenter::noErr);  // Ctrl+Down
        ASSERT_EQ(center.registerHotKey(26, 0x300, {signature, 3}, &ref), HotKeyCenter::noErr);   // Ctrl+Shift+7
        ASSERT_EQ(center.registerHotKey(105, 0, {signature, 4}, &ref), HotKeyCenter::noErr);      // Print
        other.chord({Key::command, Key::keypadEnter});  // what Down was taken for before
        other.chord({Key::command, Key::upArrow});
        other.chord({Key::command, Key::downArrow});
        other.chord({Key::command, Key::shift, Key::seven});
        other.chord({Key::f13});
        EXPECT_TRUE(waitUntil([&] { return fired.size() == 4; })) << server;
        EXPECT_EQ(fired, (std::vector<quint32>{1, 2, 3, 4})) << server;
        // A recorded key press carries the server's code; it reads back as the key pressed.
        ASSERT_TRUE(xkb_x11_setup_xkb_extension(other.c, 1, 0, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr,
                                                nullptr, nullptr));
        auto keymap = platform::KeyboardLayout::fromConnection(other.c);
        ASSERT_TRUE(keymap) << server;
        EXPECT_EQ(keymap->virtualKeyCode(other.xKey(Key::downArrow)), Key::downArrow.rawValue) << server;
        EXPECT_EQ(keymap->virtualKeyCode(other.xKey(Key::upArrow)), Key::upArrow.rawValue) << server;
        EXPECT_EQ(keymap->virtualKeyCode(other.xKey(Key::seven)), Key::seven.rawValue) << server;
        EXPECT_EQ(keymap->virtualKeyCode(other.xKey(Key::control)), Key::control.rawValue) << server;
        EXPECT_EQ(keymap->virtualKeyCode(other.xKey(Key::f13)), Key::f13.rawValue) << server;
        if (!ownServer)
            continue;
        EXPECT_NE(other.xKey(Key::upArrow), 111) << "the server numbers its keys like Xvfb";
        // Another key-code set while the grabs stand: they follow their keys to the new codes.
        ASSERT_EQ(QProcess::execute("setxkbmap", {"-rules", "evdev", "-keycodes", "evdev", "-layout", "us"}), 0);
        ASSERT_EQ(other.xKey(Key::upArrow), 111);
        center.processPendingEvents();  // the server told the center before setxkbmap ended
        other.chord({Key::command, Key::downArrow});
        other.chord({Key::command, Key::upArrow});
        EXPECT_TRUE(waitUntil([&] { return fired.size() == 6; }));
        EXPECT_EQ(fired, (std::vector<quint32>{1, 2, 3, 4, 2, 1}));
    }
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
    moved[5 * perModifier] = other.xKey(Key::option);
    moved[5 * perModifier + 1] = other.xKey(Key::rightOption);
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
