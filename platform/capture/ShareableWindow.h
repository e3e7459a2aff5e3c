#pragma once

#include "platform/capture/RunningApplication.h"

#include <QRectF>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace platform {

// One top-level window that can be captured.
struct ShareableWindow {
    quint32 windowID = 0;    // the X window that holds the client's contents
    QRectF frame;            // global points, origin at the top-left of the first display, y down
    std::optional<QString> title;
    std::optional<RunningApplication> owningApplication;
    int windowLayer = 0;
    bool isOnScreen = false;
};

}  // namespace platform
