#pragma once

#include "platform/display/Screen.h"

#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QSize>

#include <optional>

namespace platform {

// Where a toolkit window goes for a place given in the app's coordinates.
class WindowPlacement {
public:
    // A rectangle in global bottom-left points, as a window geometry (null when no display exists).
    static QRect geometryForFrame(const QRectF& frame);
    // The whole display, as a window geometry.
    static QRect geometryForScreen(const Screen& screen);

    // The top-level window of another client that holds ours at `embedded` (the tray icon in its
    // panel), in the app's global coordinates: the panel; none when no window of ours is there.
    static std::optional<QRect> embeddingWindow(const QRect& embedded);
    // Where a menu of `menu`'s size opens for an icon on a panel (both in `screen`): beside the
    // panel, on the side away from the screen edge it stands on, never over the panel or the icon.
    // A "panel" that fills most of the screen counts as the icon alone.
    static QPoint menuPosition(const QRect& icon, const QRect& panel, const QRect& screen, const QSize& menu);

    // The toolkit scales each screen about its top-left corner, which stays in device pixels.
    static QRectF logicalFromNative(const QRectF& native, const QPoint& screenTopLeft, double devicePixelRatio);
};

}  // namespace platform
