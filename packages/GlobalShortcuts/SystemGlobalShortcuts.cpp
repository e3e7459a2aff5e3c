#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"

#include "packages/GlobalShortcuts/EventMask.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/RunLoopLocalEventMonitor.h"
#include "platform/core/Log.h"
#include "platform/input/HotKeyCenter.h"
#include "platform/input/KeyCodeTable.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>

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
    HotKeyCenter::HotKeyRef carbonHotKey;  // 0 while withdrawn or refused
    SystemGlobalShortcuts::Callback onKeyDown;
    SystemGlobalShortcuts::Callback onKeyUp;
    SystemGlobalShortcuts::RegistrationCallback onRegistration;
    // The status of the system's last refusal, noErr while it holds the hot key: the refusal is told
    // once, and a key another program holds is tried again until taken.
    int refusal = HotKeyCenter::noErr;
};

struct State {
    std::map<qint64, HotKey> hotKeys;
    qint64 hotKeyId = 0;
    HotKeyCenter::HandlerRef eventHandler = 0;
    std::unique_ptr<RunLoopLocalEventMonitor> keyEventMonitor;
    // Key codes that went down as a shortcut through the raw path, with the hot key they fired.
    std::map<quint32, qint64> rawDown;
    // Runs while another program holds a record's key.
    std::unique_ptr<QTimer> retryTimer;
};

State& state() {
    static State s;
    return s;
}

const std::vector<quint32> hotKeyEventTypes{HotKeyCenter::kindHotKeyPressed, HotKeyCenter::kindHotKeyReleased};

bool fitsUInt32(qint64 v) { return v >= 0 && v <= std::numeric_limits<quint32>::max(); }

// Registers with the service: a reference, or 0 and the refusal's status.
HotKeyCenter::HotKeyRef registerWithSystem(const Shortcut& shortcut, qint64 id, int* status) {
    *status = HotKeyCenter::paramErr;
    if (!fitsUInt32(shortcut.carbonKeyCode) || !fitsUInt32(shortcut.carbonModifiers) || !fitsUInt32(id))
        return 0;
    HotKeyCenter::HotKeyRef ref = 0;
    *status = HotKeyCenter::shared().registerHotKey(
        static_cast<quint32>(shortcut.carbonKeyCode), static_cast<quint32>(shortcut.carbonModifiers),
        {SystemGlobalShortcuts::signature, static_cast<quint32>(id)}, &ref);
    if (*status == HotKeyCenter::noErr && ref == 0)
        *status = HotKeyCenter::paramErr;
    return *status == HotKeyCenter::noErr ? ref : 0;
}

// A registration's news, told once the records are no longer being walked: a callback may
// unregister.
struct Report {
    Shortcut shortcut;
    int status;
    SystemGlobalShortcuts::RegistrationCallback tell;
};

void tell(const std::vector<Report>& reports) {
    for (const Report& r : reports)
        r.tell(r.shortcut, r.status);
}

void retryRefused();

// Only a key another program holds can come free by itself; a record the system cannot take at all is
// tried again only when the shortcuts come back (a menu closed, shortcuts enabled again).
bool heldElsewhere(const HotKey& hotKey) {
    return hotKey.refusal == HotKeyCenter::eventHotKeyExistsErr;
}

void retryWhileRefused() {
    const bool anyRefused = std::any_of(state().hotKeys.begin(), state().hotKeys.end(),
                                        [](const auto& entry) { return heldElsewhere(entry.second); });
    if (!anyRefused) {
        if (state().retryTimer)
            state().retryTimer->stop();
        return;
    }
    if (!state().retryTimer && QCoreApplication::instance()) {
        state().retryTimer = std::make_unique<QTimer>();
        state().retryTimer->setInterval(SystemGlobalShortcuts::retryInterval);
        QObject::connect(state().retryTimer.get(), &QTimer::timeout, retryRefused);
    }
    if (state().retryTimer && !state().retryTimer->isActive())
        state().retryTimer->start();
}

// Registers a record that holds no hot key. A refusal is news only when the record was not refused
// already; taking a refused one is news too.
void registerAgain(HotKey& hotKey, std::vector<Report>& reports) {
    int status = HotKeyCenter::noErr;
    if (auto ref = registerWithSystem(hotKey.shortcut, hotKey.carbonHotKeyId, &status)) {
        hotKey.carbonHotKey = ref;
        if (hotKey.refusal != HotKeyCenter::noErr)
            reports.push_back({hotKey.shortcut, HotKeyCenter::noErr, hotKey.onRegistration});
        hotKey.refusal = HotKeyCenter::noErr;
    } else {
        if (hotKey.refusal == HotKeyCenter::noErr)
            reports.push_back({hotKey.shortcut, status, hotKey.onRegistration});
        hotKey.refusal = status;
    }
}

void withdrawAll() {
    for (auto& [id, hotKey] : state().hotKeys)
        if (hotKey.carbonHotKey) {
            HotKeyCenter::shared().unregisterHotKey(hotKey.carbonHotKey);
            hotKey.carbonHotKey = 0;
        }
}

void softRegisterAll() {
    std::vector<Report> reports;
    for (auto& [id, hotKey] : state().hotKeys)
        if (!hotKey.carbonHotKey)
            registerAgain(hotKey, reports);
    retryWhileRefused();
    tell(reports);
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
    // The system holds no hot key under a refused identifier: such an event is not ours.
    if (it == state().hotKeys.end() || it->second.refusal != HotKeyCenter::noErr)
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

void setUpEventHandlerIfNeeded();

// Hot keys are withdrawn on purpose while disabled or while a menu is open; they come back then.
void retryRefused() {
    if (!GlobalShortcuts::isEnabled() || GlobalShortcuts::isMenuOpen())
        return;
    std::vector<Report> reports;
    for (auto& [id, hotKey] : state().hotKeys)
        if (heldElsewhere(hotKey))
            registerAgain(hotKey, reports);
    retryWhileRefused();
    // The first hot key the system took installs the handler.
    if (!reports.empty())
        setUpEventHandlerIfNeeded();
    tell(reports);
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

void SystemGlobalShortcuts::registerShortcut(const Shortcut& shortcut, Callback onKeyDown, Callback onKeyUp,
                                             RegistrationCallback onRegistration) {
    if (!onRegistration)
        onRegistration = logRegistration;
    const qint64 id = ++state().hotKeyId;
    int status = HotKeyCenter::noErr;
    auto ref = registerWithSystem(shortcut, id, &status);
    state().hotKeys.emplace(
        id, HotKey{shortcut, id, ref, std::move(onKeyDown), std::move(onKeyUp), onRegistration, ref ? HotKeyCenter::noErr : status});
    if (!ref) {
        retryWhileRefused();
        onRegistration(shortcut, status);
        return;
    }
    setUpEventHandlerIfNeeded();
}

std::string SystemGlobalShortcuts::registrationLine(const QString& what, int status) {
    if (status == HotKeyCenter::noErr)
        return ("Registered hotkey " + what + " after it was refused").toStdString();
    return ("Error registering hotkey " + what + ": " + QString::number(status)).toStdString();
}

void SystemGlobalShortcuts::logRegistration(const Shortcut& shortcut, int status) {
    platform::logLine(registrationLine(shortcut.description(), status));
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
    retryWhileRefused();
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
    state().retryTimer.reset();
}

}  // namespace GlobalShortcuts
