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

    // A global top-left rectangle (a window frame) in a display's local space. Window frames count
    // pixels at the first display's scale, so on a display of another scale their offset from its
    // corner and their size are multiplied by the ratio first display's scale / its own.
    static QRectF localFromTopLeft(const QRectF& r, const QRectF& displayFrame, const QRectF& firstDisplay,
                                   double ratio = 1.0);
    static QRectF localFromTopLeft(const QRectF& r, const platform::Screen& screen);

    // The pointer in the window list's global top-left space: like topLeftFromBottomLeft, but a
    // pointer on a display of another scale than the first is converted at that display's scale.
    static QPointF topLeftFromPointer(const QPointF& p);

    // A global bottom-left point (the pointer) in a display's local space, and back.
    static QPointF localFromBottomLeft(const QPointF& p, const QRectF& displayFrame);
    static QPointF bottomLeftFromLocal(const QPointF& p, const QRectF& displayFrame);
    // A display-local rectangle (a selection) in global bottom-left points.
    static QRectF bottomLeftFromLocal(const QRectF& r, const QRectF& displayFrame);
};

}  // namespace zentola
