#pragma once

#include "platform/display/Screen.h"

#include <QPoint>
#include <QRect>
#include <QRectF>

namespace platform {

// Where a toolkit window goes for a place given in the app's coordinates.
class WindowPlacement {
public:
    // A rectangle in global bottom-left points, as a window geometry (null when no display exists).
    static QRect geometryForFrame(const QRectF& frame);
    // The whole display, as a window geometry.
    static QRect geometryForScreen(const Screen& screen);

    // The toolkit scales each screen about its top-left corner, which stays in device pixels.
    static QRectF logicalFromNative(const QRectF& native, const QPoint& screenTopLeft, double devicePixelRatio);
};

}  // namespace platform
