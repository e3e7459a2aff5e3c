// The X11 hot-key service on its own: a server of its own that can go away, a modifier map that
// moves keys, grabs seen from another client, and the thread events arrive on.
#include "platform/input/KeyCodeTable.h"
#include "platform/input/X11HotKeyCenter.h"

#include "OtherClient.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>


using platform::HotKeyCenter;
using platform::X11HotKeyCenter;

namespace {

constexpr quint32 signature = 0x48544B59;

// A private X server that a test may stop under a connected client.
class PrivateServer {
public:
    ~PrivateServer() { stop(); }
    bool start() {
        for (int n = 170; n < 200; ++n) {
            if (QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)) || QFile::exists(QString("/tmp/.X%1-lock").arg(n)))
                continue;
            display_ = QString(":%1").arg(n);
            process_.start("Xvfb", {display_, "-screen", "0", "640x480x24", "-nolisten", "tcp"});
            if (!process_.waitForStarted(5000))
                return false;
            return waitFor([n] { return QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)); });
        }
        return false;
    }
    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.kill();
        process_.waitForFinished(5000);
        // A killed server leaves its lock and socket behind, which would use up the display numbers.
        const QString n = display_.mid(1);
        QFile::remove("/tmp/.X" + n + "-lock");
        QFile::remove("/tmp/.X11-unix/X" + n);
    }
    const QString& display() const { return display_; }

private:
    QProcess process_;
    QString display_;
};

// Connects a center to the given display: the display is read when the center first connects.
void connectTo(X11HotKeyCenter& center, const QString& display) {
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", display.toUtf8());
    center.hasDispatcherTarget();
    qputenv("DISPLAY", saved);
}

// Event-loop wake-ups while the loop runs for a while with nothing to do.
int wakeUpsWhileIdle(int ms) {
    int wakeUps = 0;
    auto* dispatcher = QAbstractEventDispatcher::instance();
    auto connection = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { ++wakeUps; });
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(connection);
    return wakeUps;
}

TEST(X11HotKeyCenter, LostServerConnectionNeitherCrashesNorSpins) {
    PrivateServer server;
    ASSERT_TRUE(server.start());
    X11HotKeyCenter center;
    connectTo(center, server.display());
    ASSERT_TRUE(center.hasDispatcherTarget());
    HotKeyCenter::HotKeyRef ref = 0;
    ASSERT_EQ(center.registerHotKey(22, 0x300, {signature, 1}, &ref), HotKeyCenter::noErr);

    server.stop();
    EXPECT_LT(wakeUpsWhileIdle(300), 100);
    EXPECT_FALSE(center.hasDispatcherTarget());
    HotKeyCenter::HotKeyRef second = 5;
    EXPECT_NE(center.registerHotKey(26, 0x300, {signature, 2}, &second), HotKeyCenter::noErr);
    EXPECT_EQ(second, 0u);
    EXPECT_FALSE(center.isSecureEventInputEnabled());
    EXPECT_EQ(center.unregisterHotKey(ref), HotKeyCenter::noErr);
    EXPECT_LT(wakeUpsWhileIdle(100), 50);
}

TEST(X11HotKeyCenter, EventsArriveOnTheMainThreadWhicheverThreadConnectedFirst) {
    OtherClient other;
    ASSERT_TRUE(other.ok());
    X11HotKeyCenter center;
    QThread* worker = QThread::create([&] { center.hasDispatcherTarget(); });
    worker->start();
    worker->wait();
    delete worker;

    std::vector<quint32> kinds;
    std::vector<bool> onMain;
    HotKeyCenter::HandlerRef handler = 0;
    center.installHandler(
        [&](const platform::HotKeyEvent& e) {
            kinds.push_back(e.kind);
            onMain.push_back(QThread::currentThread() == QCoreApplication::instance()->thread());
            return HotKeyCenter::noErr;
        },
        &handler);
    center.addEventTypes(handler, {HotKeyCenter::kindHotKeyPressed, HotKeyCenter::kindHotKeyReleased});
    HotKeyCenter::HotKeyRef ref = 0;
    ASSERT_EQ(center.registerHotKey(28, 0x300, {signature, 1}, &ref), HotKeyCenter::noErr);  // Ctrl+Shift+8

    using GlobalShortcuts::Key;
    other.chord({Key::command, Key::shift, Key::eight});
    ASSERT_TRUE(waitFor([&] { return kinds.size() == 2; }));
    EXPECT_EQ(kinds, (std::vector<quint32>{HotKeyCenter::kindHotKeyPressed, HotKeyCenter::kindHotKeyReleased}));
    EXPECT_EQ(onMain, (std::vector<bool>{true, true}));
    center.unregisterHotKey(ref);
}

TEST(X11HotKeyCenter, RefusesWhatTheKeyboardCannotExpressAndTakesACombinationOnce) {
    X11HotKeyCenter center;
    HotKeyCenter::HotKeyRef ref = 7;
    EXPECT_EQ(center.registerHotKey(0, 0x20000 | 0x100, {signature, 1}, &ref), HotKeyCenter::paramErr);  // Fn
    EXPECT_EQ(ref, 0u);
    EXPECT_EQ(center.registerHotKey(63, 0x100, {signature, 2}, &ref), HotKeyCenter::paramErr);  // the Fn key
    EXPECT_EQ(center.registerHotKey(500, 0x100, {signature, 3}, &ref), HotKeyCenter::paramErr);
    ASSERT_EQ(center.registerHotKey(28, 0x1000, {signature, 4}, &ref), HotKeyCenter::noErr);  // Super+8
    HotKeyCenter::HotKeyRef again = 7;
    EXPECT_EQ(center.registerHotKey(28, 0x1000, {signature, 5}, &again), HotKeyCenter::eventHotKeyExistsErr);
    EXPECT_EQ(again, 0u);
    EXPECT_EQ(center.unregisterHotKey(ref), HotKeyCenter::noErr);
    EXPECT_EQ(center.unregisterHotKey(ref), HotKeyCenter::paramErr);
    EXPECT_EQ(center.registerHotKey(28, 0x1000, {signature, 6}, &again), HotKeyCenter::noErr);
    center.unregisterHotKey(again);
}

// Moves both Alt keys from Mod1 to Mod3 for the life of the object, as xmodmap can.
class AltOnMod3 {
public:
    explicit AltOnMod3(xcb_connection_t* connection) : connection_(connection) {
        auto* reply = xcb_get_modifier_mapping_reply(connection_, xcb_get_modifier_mapping(connection_), nullptr);
        perModifier_ = reply->keycodes_per_modifier;
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply);
        saved_.assign(codes, codes + 8 * perModifier_);
        free(reply);
        std::vector<xcb_keycode_t> moved = saved_;
        const int alts[] = {xKey(GlobalShortcuts::Key::option), xKey(GlobalShortcuts::Key::rightOption)};
        for (int i = 0; i < perModifier_; ++i) {
            xcb_keycode_t& mod1 = moved[3 * perModifier_ + i];
            if (std::find(std::begin(alts), std::end(alts), mod1) != std::end(alts))
                mod1 = 0;
            moved[5 * perModifier_ + i] = i < 2 ? static_cast<xcb_keycode_t>(alts[i]) : 0;
        }
        ok_ = set(moved);
    }
    ~AltOnMod3() { set(saved_); }
    bool ok() const { return ok_; }

private:
    bool set(std::vector<xcb_keycode_t> codes) {
        auto* reply = xcb_set_modifier_mapping_reply(
            connection_, xcb_set_modifier_mapping(connection_, perModifier_, codes.data()), nullptr);
        const bool done = reply && reply->status == XCB_MAPPING_STATUS_SUCCESS;
        free(reply);
        return done;
    }
    xcb_connection_t* connection_;
    int perModifier_ = 0;
    std::vector<xcb_keycode_t> saved_;
    bool ok_ = false;
};

TEST(X11HotKeyCenter, ModifiersFollowTheServerModifierMap) {
    using GlobalShortcuts::Key;
    OtherClient other;
    ASSERT_TRUE(other.ok());
    X11HotKeyCenter center;
    int presses = 0;
    HotKeyCenter::HandlerRef handler = 0;
    center.installHandler(
        [&](const platform::HotKeyEvent& e) {
            presses += e.kind == HotKeyCenter::kindHotKeyPressed;
            return HotKeyCenter::noErr;
        },
        &handler);
    center.addEventTypes(handler, {HotKeyCenter::kindHotKeyPressed});
    // Option+8, registered while Alt is still Mod1.
    HotKeyCenter::HotKeyRef before = 0;
    ASSERT_EQ(center.registerHotKey(28, 0x800, {signature, 1}, &before), HotKeyCenter::noErr);
    {
        AltOnMod3 remap(other.connection());
        ASSERT_TRUE(remap.ok());
        // The map change reaches the center as an event of its connection.
        const int sentinelBefore = presses;
        HotKeyCenter::HotKeyRef sentinel = 0;
        ASSERT_EQ(center.registerHotKey(28, 0x300, {signature, 9}, &sentinel), HotKeyCenter::noErr);
        other.chord({Key::command, Key::shift, Key::eight});
        ASSERT_TRUE(waitFor([&] { return presses > sentinelBefore; }));
        center.unregisterHotKey(sentinel);
        presses = 0;

        other.chord({Key::option, Key::eight});
        EXPECT_TRUE(waitFor([&] { return presses == 1; })) << "grabbed before the change";

        // Option+Shift+8, registered while Alt is Mod3.
        HotKeyCenter::HotKeyRef after = 0;
        ASSERT_EQ(center.registerHotKey(28, 0xA00, {signature, 2}, &after), HotKeyCenter::noErr);
        other.chord({Key::option, Key::shift, Key::eight});
        EXPECT_TRUE(waitFor([&] { return presses == 2; })) << "grabbed after the change";
        center.unregisterHotKey(after);
    }
    center.unregisterHotKey(before);
}

}  // namespace
