#pragma once

#include "packages/GlobalShortcuts/Key.h"
#include "platform/input/KeyCodeTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <iterator>

inline int xKey(GlobalShortcuts::Key key) {
    return *platform::KeyCodeTable::xKeycodeFromVirtual(static_cast<int>(key.rawValue));
}

// Runs the event loop until done() holds, for five seconds at most.
inline bool waitFor(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

// Another client of the same X server: types with XTest and can hold grabs of its own.
class OtherClient {
public:
    using Key = GlobalShortcuts::Key;

    OtherClient() {
        connection_ = xcb_connect(nullptr, nullptr);
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~OtherClient() { xcb_disconnect(connection_); }
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;
    bool ok() const { return !xcb_connection_has_error(connection_); }
    xcb_connection_t* connection() const { return connection_; }

    void press(Key key) { fake(XCB_KEY_PRESS, key); }
    void release(Key key) { fake(XCB_KEY_RELEASE, key); }
    // Presses (or releases) the keys in the given order.
    void pressAll(std::initializer_list<Key> keys) {
        for (Key k : keys)
            press(k);
        sync();
    }
    void releaseAll(std::initializer_list<Key> keys) {
        for (Key k : keys)
            release(k);
        sync();
    }
    void chord(std::initializer_list<Key> keys) {
        for (Key k : keys)
            press(k);
        for (auto it = std::rbegin(keys); it != std::rend(keys); ++it)
            release(*it);
        sync();
    }
    // Returns once the server has handled everything sent so far.
    void sync() { free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }
    bool grab(Key key, quint16 modifiers) {
        auto cookie = xcb_grab_key_checked(connection_, 1, root_, modifiers, xKey(key), XCB_GRAB_MODE_ASYNC,
                                           XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
        free(error);
        return !error;
    }
    void ungrab(Key key, quint16 modifiers) {
        xcb_ungrab_key(connection_, xKey(key), root_, modifiers);
        sync();
    }
    bool grabKeyboard() {
        auto* reply = xcb_grab_keyboard_reply(
            connection_,
            xcb_grab_keyboard(connection_, 0, root_, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr);
        const bool ok = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
        free(reply);
        return ok;
    }
    quint16 pointerState() {
        auto* reply = xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr);
        quint16 mask = reply ? reply->mask : 0;
        free(reply);
        return mask;
    }

private:
    void fake(uint8_t type, Key key) {
        xcb_test_fake_input(connection_, type, static_cast<uint8_t>(xKey(key)), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
    xcb_connection_t* connection_;
    xcb_window_t root_;
};
