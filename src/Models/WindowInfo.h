#pragma once

#include <QRectF>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace zentola {

// One on-screen window of another application, as the window list reports it.
// frame: global points, origin at the top-left of the first display, y down.
struct WindowInfo {
    quint32 id = 0;
    std::optional<QString> title;
    std::optional<QString> ownerName;
    qint32 ownerPID = 0;
    QRectF frame;
    int layer = 0;
    bool isOnScreen = false;

    // The window number is the identity: other fields may have changed since the list was read.
    friend bool operator==(const WindowInfo& a, const WindowInfo& b) { return a.id == b.id; }
};

}  // namespace zentola
