#include "packages/GlobalShortcuts/GlobalShortcuts.h"

#include "packages/GlobalShortcuts/MenuTracker.h"
#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"
#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/input/HotKeyCenter.h"

#include <QHash>

#include <map>
#include <vector>

namespace GlobalShortcuts {

namespace {

const QString keyPrefix = QStringLiteral("GlobalShortcuts_");

struct State {
    platform::DefaultsStore* store = nullptr;
    QSet<Shortcut> registeredShortcuts;
    QHash<Name, std::vector<Action>> legacyKeyDownHandlers;
    QHash<Name, std::vector<Action>> legacyKeyUpHandlers;
    QHash<Name, std::map<QUuid, Action>> streamKeyDownHandlers;
    QHash<Name, std::map<QUuid, Action>> streamKeyUpHandlers;
    bool isEnabled = true;
    bool isPaused = false;
    bool isMenuOpen = false;
    bool isInitialized = false;
};

State& state() {
    static State s;
    return s;
}

void postChange(const Name& name) {
    platform::NotificationCenter::defaultCenter().post(shortcutByNameDidChange, {{"name", QVariant::fromValue(name)}});
}

// Logs what became of the registration and tells the application, naming the shortcut by the
// names that hold it. One the system cannot take at all is named by what was stored, since its text
// may name another combination or no key.
void reportRegistration(const Shortcut& shortcut, int status, const Name& registeredFor) {
    QVariantList names;
    QStringList rawValues;
    for (const Name& name : allNames())
        if (getShortcut(name) == shortcut)
            names.append(QVariant::fromValue(name)), rawValues.append(name.rawValue());
    // A name being set registers its shortcut before storing it.
    if (names.isEmpty())
        names.append(QVariant::fromValue(registeredFor)), rawValues.append(registeredFor.rawValue());
    const QString record = QString::fromUtf8(shortcut.encode());
    const bool unusable =
        status != platform::HotKeyCenter::noErr && status != platform::HotKeyCenter::eventHotKeyExistsErr;
    platform::logLine(SystemGlobalShortcuts::registrationLine(
        unusable ? rawValues.join(", ") + ", stored as " + record : shortcut.description(), status));
    platform::NotificationCenter::defaultCenter().post(registrationDidChange,
                                                       {{"names", names},
                                                        {"shortcut", shortcut.description()},
                                                        {"record", record},
                                                        {"status", status},
                                                        {"isActive", status == platform::HotKeyCenter::noErr}});
}

void registerShortcut(const Shortcut& shortcut, const Name& name) {
    if (state().registeredShortcuts.contains(shortcut))
        return;
    SystemGlobalShortcuts::registerShortcut(
        shortcut, handleOnKeyDown, handleOnKeyUp,
        [name](const Shortcut& registered, int status) { reportRegistration(registered, status, name); });
    // Counted as registered even when the system refused it: it is tried again until taken.
    state().registeredShortcuts.insert(shortcut);
}

void unregisterShortcut(const Shortcut& shortcut) {
    SystemGlobalShortcuts::unregisterShortcut(shortcut);
    state().registeredShortcuts.remove(shortcut);
}

template <typename Table>
QSet<Shortcut> shortcutsOf(const Table& a, const Table& b, bool onlyWithActions, const Name* except) {
    QSet<Shortcut> result;
    for (const Table* table : {&a, &b})
        for (auto it = table->cbegin(); it != table->cend(); ++it) {
            if ((onlyWithActions && it.value().empty()) || (except && it.key() == *except))
                continue;
            if (auto shortcut = getShortcut(it.key()))
                result.insert(*shortcut);
        }
    return result;
}

QSet<Shortcut> shortcutsForLegacyHandlers(const Name* except = nullptr) {
    return shortcutsOf(state().legacyKeyDownHandlers, state().legacyKeyUpHandlers, false, except);
}

QSet<Shortcut> shortcutsForStreamHandlers(const Name* except = nullptr) {
    return shortcutsOf(state().streamKeyDownHandlers, state().streamKeyUpHandlers, true, except);
}

void unregisterIfNeeded(const Shortcut& shortcut) {
    if (!shortcutsForLegacyHandlers().contains(shortcut) && !shortcutsForStreamHandlers().contains(shortcut))
        unregisterShortcut(shortcut);
}

// A name lets go of its shortcut; another name with actions on the same shortcut keeps it working.
void releaseShortcut(const Shortcut& shortcut, const Name& name) {
    if (!shortcutsForLegacyHandlers(&name).contains(shortcut) && !shortcutsForStreamHandlers(&name).contains(shortcut))
        unregisterShortcut(shortcut);
}

void dispatch(const Shortcut& shortcut, const QHash<Name, std::vector<Action>>& legacy,
              const QHash<Name, std::map<QUuid, Action>>& streams) {
    if (state().isPaused)
        return;
    // Collected first: an action may attach or detach handlers while it runs.
    std::vector<Action> toRun;
    for (auto it = legacy.cbegin(); it != legacy.cend(); ++it)
        if (getShortcut(it.key()) == shortcut)
            toRun.insert(toRun.end(), it.value().begin(), it.value().end());
    for (auto it = streams.cbegin(); it != streams.cend(); ++it)
        if (getShortcut(it.key()) == shortcut)
            for (const auto& [id, action] : it.value())
                toRun.push_back(action);
    for (auto& action : toRun)
        action();
}

}  // namespace

namespace detail {

void attachStream(const Name& name, const QUuid& id, std::weak_ptr<EventStream::State> stream,
                  std::optional<EventType> only) {
    state().streamKeyDownHandlers[name][id] = [stream, only] { EventStream::yield(stream, EventType::keyDown, only); };
    state().streamKeyUpHandlers[name][id] = [stream, only] { EventStream::yield(stream, EventType::keyUp, only); };
    if (auto shortcut = getShortcut(name))
        registerShortcut(*shortcut, name);
}

void detachStream(const Name& name, const QUuid& id) {
    for (auto* table : {&state().streamKeyDownHandlers, &state().streamKeyUpHandlers}) {
        auto it = table->find(name);
        if (it != table->end()) {
            it.value().erase(id);
            if (it.value().empty())
                table->erase(it);
        }
    }
    if (auto shortcut = getShortcut(name))
        unregisterIfNeeded(*shortcut);
}

}  // namespace detail

platform::DefaultsStore& defaultsStore() {
    return state().store ? *state().store : platform::DefaultsStore::standard();
}

void setDefaultsStore(platform::DefaultsStore* store) { state().store = store; }

QString storageKey(const Name& name) { return keyPrefix + name.rawValue(); }

std::optional<Shortcut> getShortcut(const Name& name) {
    auto text = defaultsStore().stringForKey(storageKey(name));
    if (!text)
        return std::nullopt;
    return Shortcut::decode(text->toUtf8());
}

bool userDefaultsContains(const Name& name) { return defaultsStore().contains(storageKey(name)); }

QSet<Name> allNames() {
    QSet<Name> names;
    const QVariantMap all = defaultsStore().dictionaryRepresentation();
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        if (it.key().startsWith(keyPrefix))
            names.insert(Name::fromRawValue(it.key().mid(keyPrefix.size())));
    return names;
}

bool isEnabled(const Name& name) {
    if (!state().isEnabled)
        return false;
    auto shortcut = getShortcut(name);
    return shortcut && state().registeredShortcuts.contains(*shortcut);
}

void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name) {
    if (shortcut)
        userDefaultsSet(name, *shortcut);
    else if (name.defaultShortcut())
        userDefaultsDisable(name);
    else
        userDefaultsRemove(name);
}

void userDefaultsSet(const Name& name, const Shortcut& shortcut) {
    const QString text = QString::fromUtf8(shortcut.encode());
    if (auto old = getShortcut(name))
        releaseShortcut(*old, name);
    registerShortcut(shortcut, name);
    defaultsStore().setString(storageKey(name), text);
    postChange(name);
}

void userDefaultsDisable(const Name& name) {
    auto old = getShortcut(name);
    if (!old)
        return;
    defaultsStore().setBool(storageKey(name), false);
    releaseShortcut(*old, name);
    postChange(name);
}

void userDefaultsRemove(const Name& name) {
    auto old = getShortcut(name);
    if (!old)
        return;
    defaultsStore().remove(storageKey(name));
    releaseShortcut(*old, name);
    postChange(name);
}

void userDefaultsDidChange(const Name& name) { postChange(name); }

void reset(const QList<Name>& names) {
    for (const Name& name : names) {
        if (name.defaultShortcut())
            userDefaultsSet(name, *name.defaultShortcut());
        else
            userDefaultsRemove(name);
    }
}

void resetAll() { reset(allNames().values()); }

void onKeyDown(const Name& name, Action action) {
    state().legacyKeyDownHandlers[name].push_back(std::move(action));
    if (auto shortcut = getShortcut(name))
        registerShortcut(*shortcut, name);
}

void onKeyUp(const Name& name, Action action) {
    state().legacyKeyUpHandlers[name].push_back(std::move(action));
    if (auto shortcut = getShortcut(name))
        registerShortcut(*shortcut, name);
}

void removeHandler(const Name& name) {
    state().legacyKeyDownHandlers.remove(name);
    state().legacyKeyUpHandlers.remove(name);
    if (auto shortcut = getShortcut(name))
        unregisterIfNeeded(*shortcut);
}

void removeAllHandlers() {
    const QSet<Shortcut> streams = shortcutsForStreamHandlers();
    for (const Shortcut& shortcut : shortcutsForLegacyHandlers())
        if (!streams.contains(shortcut))
            unregisterShortcut(shortcut);
    state().legacyKeyDownHandlers.clear();
    state().legacyKeyUpHandlers.clear();
}

void disable(const QList<Name>& names) {
    for (const Name& name : names)
        if (auto shortcut = getShortcut(name))
            unregisterShortcut(*shortcut);
}

void enable(const QList<Name>& names) {
    for (const Name& name : names)
        if (auto shortcut = getShortcut(name))
            registerShortcut(*shortcut, name);
}

std::shared_ptr<EventStream> events(const Name& name) { return std::make_shared<EventStream>(name, std::nullopt); }

std::shared_ptr<EventStream> events(EventType type, const Name& name) {
    return std::make_shared<EventStream>(name, type);
}

bool isEnabled() { return state().isEnabled; }

// The system registration follows a switch only when it really changes.
static void setSwitch(bool& field, bool value) {
    if (field == value)
        return;
    field = value;
    SystemGlobalShortcuts::updateEventHandler();
}

void setIsEnabled(bool enabled) { setSwitch(state().isEnabled, enabled); }

bool isPaused() { return state().isPaused; }

void setIsPaused(bool paused) { state().isPaused = paused; }

bool isMenuOpen() { return state().isMenuOpen; }

void setIsMenuOpen(bool open) { setSwitch(state().isMenuOpen, open); }

void initialize() {
    if (state().isInitialized)
        return;
    // Without an application yet there is nothing to watch; the next name tries again.
    state().isInitialized = MenuTracker::install([](bool open) { setIsMenuOpen(open); });
}

void handleOnKeyDown(const Shortcut& shortcut) {
    dispatch(shortcut, state().legacyKeyDownHandlers, state().streamKeyDownHandlers);
}

void handleOnKeyUp(const Shortcut& shortcut) {
    dispatch(shortcut, state().legacyKeyUpHandlers, state().streamKeyUpHandlers);
}

void resetForTesting() {
    platform::DefaultsStore* store = state().store;
    bool initialized = state().isInitialized;
    state() = State{};
    state().store = store;
    state().isInitialized = initialized;
    SystemGlobalShortcuts::resetForTesting();
}

}  // namespace GlobalShortcuts
