#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"

#include "packages/GlobalShortcuts/EventMask.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/RunLoopLocalEventMonitor.h"
#include "platform/core/Log.h"
#include "platform/input/HotKeyCenter.h"
#include "platform/input/KeyCodeTable.h"

#include <QKeyEvent>

#include <limits>
#include <map>
#include <memory>

namespace GlobalShortcuts {

namespace {

using platform::HotKeyCenter;
using platform::HotKeyEvent;

struct HotKey {
    Shortcut shortcut;
    qint64 carbonHotKeyId;
    HotKeyCenter::HotKeyRef carbonHotKey;  // 0 while withdrawn
    SystemGlobalShortcuts::Callback onKeyDown;
    SystemGlobalShortcuts::Callback onKeyUp;
};

struct State {
    std::map<qint64, HotKey> hotKeys;
    qint64 hotKeyId = 0;
    HotKeyCenter::HandlerRef eventHandler = 0;
    std::unique_ptr<RunLoopLocalEventMonitor> keyEventMonitor;
    // Key codes that went down as a shortcut through the raw path, with the hot key they fired.
    std::map<quint32, qint64> rawDown;
};

State& state() {
    static State s;
    return s;
}

const std::vector<quint32> hotKeyEventTypes{HotKeyCenter::kindHotKeyPressed, HotKeyCenter::kindHotKeyReleased};

bool fitsUInt32(qint64 v) { return v >= 0 && v <= std::numeric_limits<quint32>::max(); }

void logRefusal(const Shortcut& shortcut, int status) {
    platform::logLine(("Error registering hotkey " + shortcut.description() + ": " + QString::number(status))
                          .toStdString());
}

// Registers with the service; a reference, or 0 after logging the refusal.
HotKeyCenter::HotKeyRef registerWithSystem(const Shortcut& shortcut, qint64 id) {
    if (!fitsUInt32(shortcut.carbonKeyCode) || !fitsUInt32(shortcut.carbonModifiers) || !fitsUInt32(id)) {
        logRefusal(shortcut, HotKeyCenter::paramErr);
        return 0;
    }
    HotKeyCenter::HotKeyRef ref = 0;
    int status = HotKeyCenter::shared().registerHotKey(
        static_cast<quint32>(shortcut.carbonKeyCode), static_cast<quint32>(shortcut.carbonModifiers),
        {SystemGlobalShortcuts::signature, static_cast<quint32>(id)}, &ref);
    if (status != HotKeyCenter::noErr || ref == 0) {
        logRefusal(shortcut, status != HotKeyCenter::noErr ? status : HotKeyCenter::paramErr);
        return 0;
    }
    return ref;
}

void withdrawAll() {
    for (auto& [id, hotKey] : state().hotKeys)
        if (hotKey.carbonHotKey) {
            HotKeyCenter::shared().unregisterHotKey(hotKey.carbonHotKey);
            hotKey.carbonHotKey = 0;
        }
}

void softRegisterAll() {
    for (auto it = state().hotKeys.begin(); it != state().hotKeys.end();) {
        if (it->second.carbonHotKey) {
            ++it;
            continue;
        }
        if (auto ref = registerWithSystem(it->second.shortcut, it->first)) {
            it->second.carbonHotKey = ref;
            ++it;
        } else {
            it = state().hotKeys.erase(it);
        }
    }
}

// Takes a copy: the callback may unregister the hot key it is called for.
int fire(HotKey hotKey, bool down) {
    (down ? hotKey.onKeyDown : hotKey.onKeyUp)(hotKey.shortcut);
    return HotKeyCenter::noErr;
}

int handleHotKeyEvent(const HotKeyEvent& event) {
    if (!event.identity)
        return SystemGlobalShortcuts::eventParameterNotFoundErr;
    if (event.identity->signature != SystemGlobalShortcuts::signature)
        return HotKeyCenter::eventNotHandledErr;
    auto it = state().hotKeys.find(event.identity->id);
    if (it == state().hotKeys.end())
        return HotKeyCenter::eventNotHandledErr;
    if (event.kind != HotKeyCenter::kindHotKeyPressed && event.kind != HotKeyCenter::kindHotKeyReleased)
        return HotKeyCenter::eventNotHandledErr;
    return fire(it->second, event.kind == HotKeyCenter::kindHotKeyPressed);
}

int handleRawKeyEvent(const HotKeyEvent& event) {
    if (!event.keyCode || !event.modifiers)
        return SystemGlobalShortcuts::eventParameterNotFoundErr;
    const Shortcut pressed(*event.keyCode, *event.modifiers);
    // The key goes up as the shortcut it went down as, though the modifiers were let go first, as
    // a hot key's release does.
    if (event.kind == HotKeyCenter::kindRawKeyUp)
        if (auto held = state().rawDown.extract(*event.keyCode)) {
            auto it = state().hotKeys.find(held.mapped());
            if (it != state().hotKeys.end())
                return fire(it->second, false);
        }
    if (event.kind == HotKeyCenter::kindRawKeyDown)
        state().rawDown.erase(*event.keyCode);
    for (const auto& [id, record] : state().hotKeys) {
        if (!(record.shortcut == pressed))
            continue;
        if (event.kind != HotKeyCenter::kindRawKeyDown && event.kind != HotKeyCenter::kindRawKeyUp)
            return HotKeyCenter::eventNotHandledErr;
        if (event.kind == HotKeyCenter::kindRawKeyDown)
            state().rawDown[*event.keyCode] = id;
        return fire(record, event.kind == HotKeyCenter::kindRawKeyDown);
    }
    return HotKeyCenter::eventNotHandledErr;
}

// The application's key events while a menu holds the keyboard, as raw key events.
QEvent* matchKeyEvent(QEvent* event) {
    auto* key = static_cast<QKeyEvent*>(event);
    auto code = platform::KeyCodeTable::virtualKeyCode(*key);
    if (!code)
        return event;
    HotKeyEvent raw;
    raw.kind = key->isAutoRepeat() ? HotKeyCenter::kindRawKeyRepeat
               : event->type() == QEvent::KeyPress ? HotKeyCenter::kindRawKeyDown
                                                   : HotKeyCenter::kindRawKeyUp;
    raw.keyCode = static_cast<quint32>(*code);
    raw.modifiers = static_cast<quint32>(ModifierFlags::fromQt(key->modifiers()).carbon());
    return SystemGlobalShortcuts::handleEvent(&raw) == HotKeyCenter::noErr ? nullptr : event;
}

RunLoopLocalEventMonitor& keyEventMonitor() {
    if (!state().keyEventMonitor)
        state().keyEventMonitor = std::make_unique<RunLoopLocalEventMonitor>(
            EventMask::bit(EventMask::keyDown) | EventMask::bit(EventMask::keyUp), matchKeyEvent);
    return *state().keyEventMonitor;
}

void setUpEventHandlerIfNeeded() {
    if (state().eventHandler)
        return;
    HotKeyCenter& center = HotKeyCenter::shared();
    if (!center.hasDispatcherTarget())
        return;
    HotKeyCenter::HandlerRef ref = 0;
    if (center.installHandler([](const HotKeyEvent& e) { return SystemGlobalShortcuts::handleEvent(&e); }, &ref) !=
            HotKeyCenter::noErr ||
        !ref)
        return;
    state().eventHandler = ref;
    SystemGlobalShortcuts::updateEventHandler();
}

}  // namespace

void SystemGlobalShortcuts::registerShortcut(const Shortcut& shortcut, Callback onKeyDown, Callback onKeyUp) {
    // A refused registration still uses up its identifier.
    const qint64 id = ++state().hotKeyId;
    auto ref = registerWithSystem(shortcut, id);
    if (!ref)
        return;
    state().hotKeys.emplace(id, HotKey{shortcut, id, ref, std::move(onKeyDown), std::move(onKeyUp)});
    setUpEventHandlerIfNeeded();
}

void SystemGlobalShortcuts::unregisterShortcut(const Shortcut& shortcut) {
    for (auto it = state().hotKeys.begin(); it != state().hotKeys.end();) {
        if (it->second.shortcut == shortcut) {
            if (it->second.carbonHotKey)
                HotKeyCenter::shared().unregisterHotKey(it->second.carbonHotKey);
            it = state().hotKeys.erase(it);
        } else {
            ++it;
        }
    }
}

void SystemGlobalShortcuts::updateEventHandler() {
    if (!state().eventHandler)
        return;
    HotKeyCenter& center = HotKeyCenter::shared();
    if (!GlobalShortcuts::isEnabled() || !GlobalShortcuts::isMenuOpen())
        state().rawDown.clear();  // the keys held through a menu go up elsewhere
    if (!GlobalShortcuts::isEnabled()) {
        withdrawAll();
        center.removeEventTypes(state().eventHandler, hotKeyEventTypes);
        keyEventMonitor().stop();
    } else if (GlobalShortcuts::isMenuOpen()) {
        withdrawAll();
        center.removeEventTypes(state().eventHandler, hotKeyEventTypes);
        keyEventMonitor().start();
    } else {
        softRegisterAll();
        keyEventMonitor().stop();
        center.addEventTypes(state().eventHandler, hotKeyEventTypes);
    }
}

QList<Shortcut> SystemGlobalShortcuts::system() {
    QList<Shortcut> result;
    auto list = HotKeyCenter::shared().copySymbolicHotKeys();
    if (!list)
        return result;
    for (const QVariant& item : *list) {
        if (item.typeId() != QMetaType::QVariantMap)
            return {};
        const QVariantMap entry = item.toMap();
        const QVariant enabled = entry.value("kHISymbolicHotKeyEnabled");
        const QVariant code = entry.value("kHISymbolicHotKeyCode");
        const QVariant modifiers = entry.value("kHISymbolicHotKeyModifiers");
        auto isInteger = [](const QVariant& v) {
            return v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong ||
                   v.typeId() == QMetaType::UInt || v.typeId() == QMetaType::ULongLong;
        };
        if (enabled.typeId() != QMetaType::Bool || !enabled.toBool() || !isInteger(code) || !isInteger(modifiers))
            continue;
        result.append(Shortcut(code.toLongLong(), modifiers.toLongLong()));
    }
    return result;
}

bool SystemGlobalShortcuts::isSystemShortcut(const Shortcut& shortcut) {
    if (system().contains(shortcut))
        return true;
    return fitsUInt32(shortcut.carbonKeyCode) && fitsUInt32(shortcut.carbonModifiers) &&
           HotKeyCenter::shared().isHotKeyTakenElsewhere(static_cast<quint32>(shortcut.carbonKeyCode),
                                                         static_cast<quint32>(shortcut.carbonModifiers));
}

int SystemGlobalShortcuts::handleEvent(const HotKeyEvent* event) {
    if (!event)
        return HotKeyCenter::eventNotHandledErr;
    switch (event->kind) {
    case HotKeyCenter::kindHotKeyPressed:
    case HotKeyCenter::kindHotKeyReleased:
        return handleHotKeyEvent(*event);
    case HotKeyCenter::kindRawKeyDown:
    case HotKeyCenter::kindRawKeyUp:
        return handleRawKeyEvent(*event);
    default:
        return HotKeyCenter::eventNotHandledErr;
    }
}

void SystemGlobalShortcuts::resetForTesting() {
    for (auto& [id, hotKey] : state().hotKeys)
        if (hotKey.carbonHotKey)
            HotKeyCenter::shared().unregisterHotKey(hotKey.carbonHotKey);
    state().hotKeys.clear();
    state().rawDown.clear();
    state().hotKeyId = 0;
    if (state().eventHandler)
        HotKeyCenter::shared().removeHandler(state().eventHandler);
    state().eventHandler = 0;
    if (state().keyEventMonitor)
        state().keyEventMonitor->stop();
}

}  // namespace GlobalShortcuts
