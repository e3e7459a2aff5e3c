#pragma once

#include "packages/GlobalShortcuts/LocalEventMonitor.h"

namespace GlobalShortcuts {

// The monitor of the application's key events while a menu holds the keyboard and hot keys cannot
// arrive: started when a menu opens, stopped when it closes.
class RunLoopLocalEventMonitor : public LocalEventMonitor {
    Q_OBJECT
public:
    using LocalEventMonitor::LocalEventMonitor;
};

}  // namespace GlobalShortcuts
