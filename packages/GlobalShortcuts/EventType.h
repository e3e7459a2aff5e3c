#pragma once

namespace GlobalShortcuts {

// What an event stream of a shortcut delivers: its press or its release.
enum class EventType { keyDown, keyUp };

}  // namespace GlobalShortcuts
