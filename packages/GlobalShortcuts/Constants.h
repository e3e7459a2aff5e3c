#pragma once

#include <QSet>

namespace GlobalShortcuts {

class Constants {
public:
    // True when the process runs in an application sandbox ("APP_SANDBOX_CONTAINER_ID" is set).
    static bool isSandboxed();
    // Qt's keys F1 to F35.
    static const QSet<int>& functionKeys();
};

}  // namespace GlobalShortcuts
