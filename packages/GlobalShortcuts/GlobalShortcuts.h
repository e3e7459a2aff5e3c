#pragma once

#include "packages/GlobalShortcuts/EventStream.h"
#include "packages/GlobalShortcuts/EventType.h"
#include "packages/GlobalShortcuts/Name.h"
#include "packages/GlobalShortcuts/Shortcut.h"

#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class DefaultsStore;
}

// Named global shortcuts: one shortcut per name in the user's defaults store, kept registered with
// the system while something needs it, and each press and release dispatched to the actions and
// event streams of every name that holds it. Main thread only.
namespace GlobalShortcuts {

using Action = std::function<void()>;

// Posted after every change of a stored shortcut, with "name" holding the Name.
inline const QString shortcutByNameDidChange = QStringLiteral("GlobalShortcuts_shortcutByNameDidChange");
// Posted when a recorder starts or stops recording, with "isActive" holding a bool.
inline const QString recorderActiveStatusDidChange = QStringLiteral("GlobalShortcuts_recorderActiveStatusDidChange");
// Posted when the system refuses a shortcut (once per refusal, not at each further try) and when a
// refused one is taken after all, so the application can tell its user: "names" (a list of the
// Names that hold it), "shortcut" (its text), "record" (its stored form), "status" (the refusal's:
// -9878 when another program holds the keys; 0 once taken) and "isActive".
inline const QString registrationDidChange = QStringLiteral("GlobalShortcuts_registrationDidChange");

// The store the shortcuts live in: the user's standard store unless a test put another in place.
platform::DefaultsStore& defaultsStore();
void setDefaultsStore(platform::DefaultsStore* store);
QString storageKey(const Name& name);

// Reading
std::optional<Shortcut> getShortcut(const Name& name);
bool userDefaultsContains(const Name& name);
QSet<Name> allNames();
bool isEnabled(const Name& name);

// Writing
void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name);
void userDefaultsSet(const Name& name, const Shortcut& shortcut);
void userDefaultsDisable(const Name& name);
void userDefaultsRemove(const Name& name);
void userDefaultsDidChange(const Name& name);
void reset(const QList<Name>& names);
void resetAll();

// Attaching and detaching
void onKeyDown(const Name& name, Action action);
void onKeyUp(const Name& name, Action action);
void removeHandler(const Name& name);
void removeAllHandlers();
void disable(const QList<Name>& names);
void enable(const QList<Name>& names);

// Event streams: the presses and releases of the name from the next event-loop turn on, until the
// stream is finished or dropped.
std::shared_ptr<EventStream> events(const Name& name);
std::shared_ptr<EventStream> events(EventType type, const Name& name);

// Switches
bool isEnabled();
void setIsEnabled(bool enabled);
bool isPaused();
void setIsPaused(bool paused);
bool isMenuOpen();
void setIsMenuOpen(bool open);

// One-time set-up: watches menus opening and closing.
void initialize();

// Called by the system registration with the registered shortcut.
void handleOnKeyDown(const Shortcut& shortcut);
void handleOnKeyUp(const Shortcut& shortcut);

// Forgets every handler, stream, registration and switch of this process (tests).
void resetForTesting();

}  // namespace GlobalShortcuts
