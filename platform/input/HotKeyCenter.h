#pragma once

#include <QVariantList>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <vector>

namespace platform {

// The identity an application gives a hot key: a four-character signature and a number.
struct HotKeyIdentity {
    quint32 signature = 0;
    quint32 id = 0;
};

// One keyboard event delivered to an installed handler.
struct HotKeyEvent {
    quint32 kind = 0;
    // Hot-key kinds (pressed, released): the identity given at registration.
    std::optional<HotKeyIdentity> identity;
    // Raw key kinds (down, repeat, up): the virtual key code and the hot-key modifier mask.
    std::optional<quint32> keyCode;
    std::optional<quint32> modifiers;
};

// System-wide hot keys: registration by virtual key code and hot-key modifier mask (command 0x100,
// shift 0x200, option 0x800, control 0x1000, function 0x20000), and one handler per installation
// that receives the event kinds added to it. Main thread only.
class HotKeyCenter {
public:
    using HotKeyRef = quint64;  // 0: none
    using HandlerRef = quint64;  // 0: none
    using Handler = std::function<int(const HotKeyEvent&)>;

    static constexpr int noErr = 0;
    static constexpr int paramErr = -50;
    static constexpr int eventNotHandledErr = -9874;
    static constexpr int eventHotKeyExistsErr = -9878;

    static constexpr quint32 keyboardEventClass = 0x6B657962;  // 'keyb'
    static constexpr quint32 kindRawKeyDown = 1;
    static constexpr quint32 kindRawKeyRepeat = 2;
    static constexpr quint32 kindRawKeyUp = 3;
    static constexpr quint32 kindHotKeyPressed = 5;
    static constexpr quint32 kindHotKeyReleased = 6;

    virtual ~HotKeyCenter() = default;

    // The desktop's hot-key service, unless a test put another in its place.
    static HotKeyCenter& shared();
    // Replaces the shared center (tests); nullptr restores the desktop's.
    static void setShared(HotKeyCenter* center);

    // False when there is nothing to dispatch events from (no display connection).
    virtual bool hasDispatcherTarget() = 0;
    // noErr and a reference, or a status: eventHotKeyExistsErr when the combination is taken,
    // paramErr when the key or a modifier cannot be expressed.
    virtual int registerHotKey(quint32 keyCode, quint32 modifiers, HotKeyIdentity identity, HotKeyRef* out) = 0;
    virtual int unregisterHotKey(HotKeyRef ref) = 0;
    virtual int installHandler(Handler handler, HandlerRef* out) = 0;
    virtual int removeHandler(HandlerRef handler) = 0;
    virtual int addEventTypes(HandlerRef handler, const std::vector<quint32>& kinds) = 0;
    virtual int removeEventTypes(HandlerRef handler, const std::vector<quint32>& kinds) = 0;
    // The desktop's own shortcuts as maps with "kHISymbolicHotKeyEnabled" (bool),
    // "kHISymbolicHotKeyCode" and "kHISymbolicHotKeyModifiers" (integers), or none when they
    // cannot be read.
    virtual std::optional<QVariantList> copySymbolicHotKeys() = 0;
    // True when another program holds the combination, so that registering it would be refused;
    // a combination registered here is not another program's.
    virtual bool isHotKeyTakenElsewhere(quint32 keyCode, quint32 modifiers) = 0;
    // True while another program holds the whole keyboard (a password prompt, a screen locker),
    // so that no hot key can arrive.
    virtual bool isSecureEventInputEnabled() = 0;
};

}  // namespace platform
