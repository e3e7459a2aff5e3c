#pragma once

#include <QRect>
#include <QRectF>
#include <QtGlobal>

namespace platform {

// One display that can be captured.
struct ShareableDisplay {
    quint32 displayID = 0;   // the same number Screen reports under "NSScreenNumber"
    int width = 0;           // points
    int height = 0;          // points
    QRect nativeGeometry;    // X11 pixels, origin at the root window's top-left
    double scaleFactor = 1.0;
    // Global points, origin at the top-left of the first display, y down.
    QRectF frame;
};

}  // namespace platform
