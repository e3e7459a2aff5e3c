#include "platform/input/X11HotKeyCenter.h"

#include "platform/core/MainThread.h"
#include "platform/input/KeyboardLayout.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QWidget>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
// The header names a member after a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace platform {

namespace {

constexpr quint32 commandBit = 0x100;
constexpr quint32 shiftBit = 0x200;
constexpr quint32 optionBit = 0x800;
constexpr quint32 controlBit = 0x1000;
constexpr quint32 functionBit = 0x20000;

constexpr quint8 badAccess = 10;

constexpr xcb_keysym_t numLockSym = 0xff7f;
constexpr xcb_keysym_t altSyms[] = {0xffe9, 0xffea};    // Alt_L, Alt_R
constexpr xcb_keysym_t superSyms[] = {0xffeb, 0xffec};  // Super_L, Super_R

}  // namespace

X11HotKeyCenter::X11HotKeyCenter() = default;

X11HotKeyCenter::~X11HotKeyCenter() {
    QObject::disconnect(aboutToBlock_);
    notifier_.reset();
    if (symbols_)
        xcb_key_symbols_free(symbols_);
    if (connection_)
        xcb_disconnect(connection_);
}

bool X11HotKeyCenter::connect() {
    if (connection_)
        return !xcb_connection_has_error(connection_);
    if (connectFailed_ || qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    int screenNumber = 0;
    connection_ = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection_)) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
        connectFailed_ = true;
        return false;
    }
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    root_ = it.data->root;

    // Without detectable auto-repeat the server sends a release before every repeated press.
    auto useXkb = xcb_xkb_use_extension_reply(connection_, xcb_xkb_use_extension(connection_, 1, 0), nullptr);
    if (useXkb && useXkb->supported) {
        constexpr uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
        free(xcb_xkb_per_client_flags_reply(
            connection_, xcb_xkb_per_client_flags(connection_, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr));
        // A client that uses the extension hears of keymap changes only through its events.
        constexpr uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
        constexpr uint16_t parts = XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP;
        xcb_xkb_select_events(connection_, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, parts, parts, nullptr);
        if (const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(connection_, &xcb_xkb_id))
            xkbFirstEvent_ = xkb->first_event;
    }
    free(useXkb);

    symbols_ = xcb_key_symbols_alloc(connection_);
    readModifierMapping();
    keymap_ = KeyboardLayout::fromConnection(connection_);

    // Events are read where their handlers live, on the main thread, whichever thread connected.
    if (isMainThread())
        listen();
    else if (QCoreApplication::instance())
        postToMain([this, alive = std::weak_ptr<void>(alive_)] {
            if (alive.lock())
                listen();
        });
    return true;
}

void X11HotKeyCenter::listen() {
    if (notifier_ || !connection_ || xcb_connection_has_error(connection_))
        return;
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { processPendingEvents(); });
    // Replies read the socket too, and may leave events queued that no notification announces.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        aboutToBlock_ = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, notifier_.get(),
                                         [this] { processPendingEvents(); });
}

void X11HotKeyCenter::keymapChanged() {
    xcb_key_symbols_free(symbols_);
    symbols_ = xcb_key_symbols_alloc(connection_);
    const quint16 alt = altMask_, super = superMask_, numLock = numLockMask_;
    readModifierMapping();
    keymap_ = KeyboardLayout::fromConnection(connection_);
    // Grabs name key codes and real modifiers: grab again where the same keys now have others.
    for (auto& [ref, grab] : grabs_) {
        const auto keycode = xKeycode(grab.virtualKey);
        const quint16 modifiers = xModifiers(grab.carbonModifiers);
        if (keycode == grab.keycode && modifiers == grab.modifiers && alt == altMask_ && super == superMask_ &&
            numLock == numLockMask_)
            continue;
        ungrab(grab);
        std::erase_if(held_, [ref = ref](const auto& entry) { return entry.second == ref; });
        grab.lockVariants.clear();
        // A key the new keymap lacks stays registered without a grab, as a refused one would.
        grab.keycode = keycode.value_or(0);
        grab.modifiers = modifiers;
        if (keycode && grabAll(*keycode, modifiers, lockVariants()) == noErr)
            grab.lockVariants = lockVariants();
    }
}

std::optional<quint8> X11HotKeyCenter::xKeycode(quint32 virtualKey) const {
    auto code = keymap_ ? keymap_->keycode(int(virtualKey)) : std::nullopt;
    return code ? std::optional(quint8(*code)) : std::nullopt;
}

void X11HotKeyCenter::readModifierMapping() {
    altMask_ = XCB_MOD_MASK_1;
    superMask_ = XCB_MOD_MASK_4;
    numLockMask_ = XCB_MOD_MASK_2;
    auto* reply = xcb_get_modifier_mapping_reply(connection_, xcb_get_modifier_mapping(connection_), nullptr);
    if (!reply)
        return;
    const xcb_keycode_t* map = xcb_get_modifier_mapping_keycodes(reply);
    const int perModifier = reply->keycodes_per_modifier;
    auto maskOf = [&](std::initializer_list<xcb_keysym_t> syms) -> quint16 {
        for (xcb_keysym_t sym : syms) {
            xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, sym);
            if (!codes)
                continue;
            for (int mod = 3; mod < 8; ++mod)  // Mod1 ... Mod5
                for (int i = 0; i < perModifier; ++i)
                    for (xcb_keycode_t* c = codes; *c != XCB_NO_SYMBOL; ++c)
                        if (map[mod * perModifier + i] == *c) {
                            free(codes);
                            return static_cast<quint16>(1u << mod);
                        }
            free(codes);
        }
        return 0;
    };
    if (quint16 m = maskOf({numLockSym}))
        numLockMask_ = m;
    if (quint16 m = maskOf({altSyms[0], altSyms[1]}))
        altMask_ = m;
    if (quint16 m = maskOf({superSyms[0], superSyms[1]}))
        superMask_ = m;
    free(reply);
}

bool X11HotKeyCenter::hasDispatcherTarget() { return connect(); }

quint16 X11HotKeyCenter::xModifiers(quint32 modifiers) const {
    quint16 mods = 0;
    if (modifiers & commandBit)
        mods |= XCB_MOD_MASK_CONTROL;
    if (modifiers & controlBit)
        mods |= superMask_;
    if (modifiers & optionBit)
        mods |= altMask_;
    if (modifiers & shiftBit)
        mods |= XCB_MOD_MASK_SHIFT;
    return mods;
}

std::vector<quint16> X11HotKeyCenter::lockVariants() const {
    std::vector<quint16> variants{0, XCB_MOD_MASK_LOCK, numLockMask_, quint16(XCB_MOD_MASK_LOCK | numLockMask_)};
    std::sort(variants.begin(), variants.end());
    variants.erase(std::unique(variants.begin(), variants.end()), variants.end());
    return variants;
}

int X11HotKeyCenter::registerHotKey(quint32 keyCode, quint32 modifiers, HotKeyIdentity identity, HotKeyRef* out) {
    if (out)
        *out = 0;
    if (!connect())
        return paramErr;
    auto keycode = xKeycode(keyCode);
    // X11 has no modifier for the Fn key.
    if (!keycode || (modifiers & functionBit))
        return paramErr;
    const quint16 mods = xModifiers(modifiers);
    const quint8 code = *keycode;
    if (holds(code, mods))
        return eventHotKeyExistsErr;

    std::vector<quint16> variants = lockVariants();
    if (int status = grabAll(code, mods, variants); status != noErr)
        return status;
    HotKeyRef ref = nextRef_++;
    grabs_.emplace(ref, Grab{keyCode, code, modifiers, mods, variants, identity});
    if (out)
        *out = ref;
    return noErr;
}

bool X11HotKeyCenter::holds(quint8 keycode, quint16 modifiers) const {
    return std::any_of(grabs_.begin(), grabs_.end(), [&](const auto& entry) {
        return entry.second.keycode == keycode && entry.second.modifiers == modifiers;
    });
}

int X11HotKeyCenter::grabAll(quint8 code, quint16 mods, const std::vector<quint16>& variants) {
    std::vector<xcb_void_cookie_t> cookies;
    for (quint16 v : variants)
        cookies.push_back(xcb_grab_key_checked(connection_, 1, root_, mods | v, code, XCB_GRAB_MODE_ASYNC,
                                               XCB_GRAB_MODE_ASYNC));
    int status = noErr;
    std::vector<quint16> granted;
    for (size_t i = 0; i < cookies.size(); ++i) {
        if (xcb_generic_error_t* error = xcb_request_check(connection_, cookies[i])) {
            if (status == noErr)
                status = error->error_code == badAccess ? eventHotKeyExistsErr : paramErr;
            free(error);
        } else {
            granted.push_back(variants[i]);
        }
    }
    if (status != noErr)
        ungrabAll(code, mods, granted);
    return status;
}

void X11HotKeyCenter::ungrabAll(quint8 keycode, quint16 modifiers, const std::vector<quint16>& variants) {
    for (quint16 v : variants)
        xcb_ungrab_key(connection_, keycode, root_, modifiers | v);
    xcb_flush(connection_);
}

void X11HotKeyCenter::ungrab(const Grab& grab) { ungrabAll(grab.keycode, grab.modifiers, grab.lockVariants); }

int X11HotKeyCenter::unregisterHotKey(HotKeyRef ref) {
    auto it = grabs_.find(ref);
    if (it == grabs_.end())
        return paramErr;
    if (connection_)
        ungrab(it->second);
    std::erase_if(held_, [ref](const auto& entry) { return entry.second == ref; });
    grabs_.erase(it);
    return noErr;
}

int X11HotKeyCenter::installHandler(Handler handler, HandlerRef* out) {
    HandlerRef ref = nextHandler_++;
    handlers_.emplace(ref, InstalledHandler{std::move(handler), {}});
    if (out)
        *out = ref;
    return noErr;
}

int X11HotKeyCenter::removeHandler(HandlerRef handler) { return handlers_.erase(handler) ? noErr : paramErr; }

int X11HotKeyCenter::addEventTypes(HandlerRef handler, const std::vector<quint32>& kinds) {
    auto it = handlers_.find(handler);
    if (it == handlers_.end())
        return paramErr;
    for (quint32 k : kinds)
        if (std::find(it->second.kinds.begin(), it->second.kinds.end(), k) == it->second.kinds.end())
            it->second.kinds.push_back(k);
    return noErr;
}

int X11HotKeyCenter::removeEventTypes(HandlerRef handler, const std::vector<quint32>& kinds) {
    auto it = handlers_.find(handler);
    if (it == handlers_.end())
        return paramErr;
    std::erase_if(it->second.kinds,
                  [&](quint32 k) { return std::find(kinds.begin(), kinds.end(), k) != kinds.end(); });
    return noErr;
}

std::optional<QVariantList> X11HotKeyCenter::copySymbolicHotKeys() { return std::nullopt; }

bool X11HotKeyCenter::isHotKeyTakenElsewhere(quint32 keyCode, quint32 modifiers) {
    if (!connect())
        return false;
    auto keycode = xKeycode(keyCode);
    if (!keycode || (modifiers & functionBit))
        return false;
    const quint16 mods = xModifiers(modifiers);
    const quint8 code = *keycode;
    // Grabbing again what we hold would succeed, and giving it back would end our own grab.
    if (holds(code, mods))
        return false;
    const std::vector<quint16> variants = lockVariants();
    const int status = grabAll(code, mods, variants);
    if (status == noErr) {
        ungrabAll(code, mods, variants);
        // Handled before returning, so that no other client finds the trial still holding the key.
        free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }
    return status == eventHotKeyExistsErr;
}

bool X11HotKeyCenter::isSecureEventInputEnabled() {
    if (!connect())
        return false;
    // A hot key held down means the keyboard is ours: taking it and giving it back would end that
    // key's grab, and its release would go to another window.
    if (!held_.empty())
        return false;
    // Our own overlay or an open menu of ours holds the keyboard: that is not another program
    // hiding keys from us.
    if (QWidget::keyboardGrabber() || QApplication::activePopupWidget())
        return false;
    auto* reply = xcb_grab_keyboard_reply(
        connection_, xcb_grab_keyboard(connection_, 0, root_, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr);
    if (!reply)
        return false;
    const bool held = reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED || reply->status == XCB_GRAB_STATUS_FROZEN;
    if (reply->status == XCB_GRAB_STATUS_SUCCESS) {
        // Handled before returning, so that no other client finds the keyboard taken.
        xcb_ungrab_keyboard(connection_, XCB_CURRENT_TIME);
        free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }
    free(reply);
    return held;
}

void X11HotKeyCenter::processPendingEvents() {
    if (!connection_)
        return;
    if (xcb_connection_has_error(connection_)) {
        notifier_.reset();
        return;
    }
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const quint8 type = event->response_type & 0x7f;
        if (xkbFirstEvent_ && type == xkbFirstEvent_) {
            // The extension's events share one code and tell themselves apart by their second byte.
            const quint8 xkbType = reinterpret_cast<const quint8*>(event)[1];
            if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY)
                keymapChanged();
            free(event);
            continue;
        }
        switch (type) {
        case XCB_KEY_PRESS: {
            auto* e = reinterpret_cast<xcb_key_press_event_t*>(event);
            handleKey(true, e->detail, e->state);
            break;
        }
        case XCB_KEY_RELEASE: {
            auto* e = reinterpret_cast<xcb_key_release_event_t*>(event);
            handleKey(false, e->detail, e->state);
            break;
        }
        case XCB_MAPPING_NOTIFY:
            keymapChanged();
            break;
        default:
            break;
        }
        free(event);
        if (!connection_)
            break;
    }
}

void X11HotKeyCenter::handleKey(bool press, quint8 keycode, quint16 state) {
    if (press) {
        // A held key repeats its press; the hot key fires once until its release.
        if (held_.count(keycode))
            return;
        const quint16 relevant = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | altMask_ | superMask_;
        for (const auto& [ref, grab] : grabs_) {
            if (!grab.lockVariants.empty() && grab.keycode == keycode && grab.modifiers == (state & relevant)) {
                held_[keycode] = ref;
                dispatch(kindHotKeyPressed, grab.identity);
                return;
            }
        }
        return;
    }
    // The release belongs to the hot key that was pressed, even when a modifier went up first.
    auto it = held_.find(keycode);
    if (it == held_.end())
        return;
    auto grab = grabs_.find(it->second);
    held_.erase(it);
    if (grab != grabs_.end())
        dispatch(kindHotKeyReleased, grab->second.identity);
}

void X11HotKeyCenter::dispatch(quint32 kind, HotKeyIdentity identity) {
    std::vector<Handler> targets;
    for (const auto& [ref, h] : handlers_)
        if (std::find(h.kinds.begin(), h.kinds.end(), kind) != h.kinds.end())
            targets.push_back(h.handler);
    HotKeyEvent event;
    event.kind = kind;
    event.identity = identity;
    for (auto& handler : targets)
        handler(event);
}

}  // namespace platform
