#pragma once

#include "platform/input/HotKeyCenter.h"
#include "platform/input/KeyboardLayout.h"

#include <QMetaObject>

#include <map>
#include <memory>
#include <vector>

struct xcb_connection_t;
struct _XCBKeySymbols;
class QSocketNotifier;

namespace platform {

// Hot keys as passive key grabs on the root window of a connection of our own, one grab per
// lock-key variant (Caps Lock, Num Lock, both) so the locks don't matter. Detectable auto-repeat is
// turned on for the connection, and a held key fires one press and one release. Events are read on
// the main thread when the socket is readable and before the event loop sleeps; the other operations
// belong on the main thread too.
class X11HotKeyCenter : public HotKeyCenter {
public:
    X11HotKeyCenter();
    ~X11HotKeyCenter() override;

    bool hasDispatcherTarget() override;
    int registerHotKey(quint32 keyCode, quint32 modifiers, HotKeyIdentity identity, HotKeyRef* out) override;
    int unregisterHotKey(HotKeyRef ref) override;
    int installHandler(Handler handler, HandlerRef* out) override;
    int removeHandler(HandlerRef handler) override;
    int addEventTypes(HandlerRef handler, const std::vector<quint32>& kinds) override;
    int removeEventTypes(HandlerRef handler, const std::vector<quint32>& kinds) override;
    // The X server keeps no readable list of other clients' grabs: none.
    std::optional<QVariantList> copySymbolicHotKeys() override;
    // A trial grab of every lock variant, given back at once.
    bool isHotKeyTakenElsewhere(quint32 keyCode, quint32 modifiers) override;
    // Tries to take the keyboard for a moment: refused while another client holds it.
    bool isSecureEventInputEnabled() override;

    // Reads and dispatches every event already received (also called by the event loop).
    void processPendingEvents();

private:
    struct Grab {
        quint32 virtualKey;
        // The key's code on this server's keymap as it was when grabbed.
        quint8 keycode;
        quint32 carbonModifiers;
        quint16 modifiers;
        // The lock-key states grabbed, kept so a later change of the modifier map cannot strand one.
        std::vector<quint16> lockVariants;
        HotKeyIdentity identity;
    };
    struct InstalledHandler {
        Handler handler;
        std::vector<quint32> kinds;
    };

    bool connect();
    void listen();
    void readModifierMapping();
    // The key's code on the server's keymap, or none when the keymap lacks the key.
    std::optional<quint8> xKeycode(quint32 virtualKey) const;
    // The keymap, key codes or the modifier map changed: read them again and move the grabs along.
    void keymapChanged();
    quint16 xModifiers(quint32 modifiers) const;
    std::vector<quint16> lockVariants() const;
    bool holds(quint8 keycode, quint16 modifiers) const;
    // Grabs the combination in every lock variant, or none of them: a status.
    int grabAll(quint8 keycode, quint16 modifiers, const std::vector<quint16>& variants);
    void ungrabAll(quint8 keycode, quint16 modifiers, const std::vector<quint16>& variants);
    void ungrab(const Grab& grab);
    void dispatch(quint32 kind, HotKeyIdentity identity);
    void handleKey(bool press, quint8 keycode, quint16 state);

    xcb_connection_t* connection_ = nullptr;
    bool connectFailed_ = false;
    quint32 root_ = 0;
    _XCBKeySymbols* symbols_ = nullptr;
    std::optional<KeyboardLayout> keymap_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::shared_ptr<void> alive_ = std::make_shared<int>(0);
    QMetaObject::Connection aboutToBlock_;
    quint16 altMask_ = 0, superMask_ = 0, numLockMask_ = 0;
    quint8 xkbFirstEvent_ = 0;

    std::map<HotKeyRef, Grab> grabs_;
    HotKeyRef nextRef_ = 1;
    std::map<HandlerRef, InstalledHandler> handlers_;
    HandlerRef nextHandler_ = 1;
    // keycode -> hot key whose press was delivered and whose release is still to come
    std::map<quint8, HotKeyRef> held_;
};

}  // namespace platform
