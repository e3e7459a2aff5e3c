#pragma once

#include <QRectF>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace platform {

// One entry of the desktop's window list, front to back. A field the desktop could not tell is
// left empty, so readers decide what a missing value means.
struct WindowListEntry {
    std::optional<quint32> number;
    std::optional<qint32> ownerPID;
    std::optional<QRectF> bounds;  // global points, origin at the top-left of the first display, y down
    std::optional<int> layer;      // 0 normal, higher for windows kept above (docks, panels, notifications)
    std::optional<QString> name;
    std::optional<QString> ownerName;
    std::optional<bool> isOnscreen;
};

}  // namespace platform
