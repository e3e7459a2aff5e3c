#pragma once

#include "platform/display/Screen.h"

#include <QPointF>
#include <QRectF>

namespace zentola {

// The app's three coordinate spaces and the conversions between them:
// - global bottom-left: display frames and the pointer (points, origin at the bottom-left of the
//   first display, y up);
// - global top-left: window frames (points, origin at the top-left of the first display, y down);
// - display-local: an overlay view and a SelectionRect (points, origin at the display's top-left, y down).
// Each function takes the first display's frame explicitly so it can be tested without displays;
// the overloads without it use the first display of Screen::screens() (none: height 0).
struct Coordinates {
    // Height of the first display's frame, 0 when there is none.
    static double firstDisplayHeight();

    // Global bottom-left <-> global top-left (flip with the first display's height).
    static QPointF topLeftFromBottomLeft(const QPointF& p, const QRectF& firstDisplay);
    static QPointF topLeftFromBottomLeft(const QPointF& p);
    static QPointF bottomLeftFromTopLeft(const QPointF& p, const QRectF& firstDisplay);
    static QRectF topLeftFromBottomLeft(const QRectF& r, const QRectF& firstDisplay);
    static QRectF bottomLeftFromTopLeft(const QRectF& r, const QRectF& firstDisplay);

    // A global top-left rectangle (a window frame) in a display's local space.
    static QRectF localFromTopLeft(const QRectF& r, const QRectF& displayFrame, const QRectF& firstDisplay);
    static QRectF localFromTopLeft(const QRectF& r, const platform::Screen& screen);

    // A global bottom-left point (the pointer) in a display's local space, and back.
    static QPointF localFromBottomLeft(const QPointF& p, const QRectF& displayFrame);
    static QPointF bottomLeftFromLocal(const QPointF& p, const QRectF& displayFrame);
    // A display-local rectangle (a selection) in global bottom-left points.
    static QRectF bottomLeftFromLocal(const QRectF& r, const QRectF& displayFrame);
};

}  // namespace zentola
