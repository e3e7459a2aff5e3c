#pragma once

#include "platform/core/Bitmap.h"

#include <QRect>
#include <QtGlobal>

#include <optional>

class QWindow;

namespace platform {

// This process's own windows as the rest of the desktop sees them.
//
// Captures leave our windows out and show what lies beneath them, but the X server knows the
// desktop's background only when its setter publishes it as a root pixmap, and a compositing
// manager may paint a background of its own. So each window keeps what the screen showed beneath
// it as it came on, and the grabs paint that where the background is unknown.
class OwnWindows {
public:
    // Reads what the screen shows where the window is about to appear (geometry in the toolkit's
    // coordinates, all of the way of a window that moves; our other windows left out) and keeps it
    // for the window until forget(): grabs leave all of that area out while the window shows. Call
    // it before the window is shown. Null, and nothing kept, off X11 or when the screen cannot be
    // read.
    static BitmapRef keepBeneath(QWindow* window, const QRect& geometry);
    // Keeps pixels read earlier over nativeArea (X11 pixels) for the window.
    static void keep(QWindow* window, const QRect& nativeArea, BitmapRef pixels);
    static void forget(QWindow* window);

    struct Beneath {
        QRect area;  // X11 pixels
        BitmapRef pixels;
    };
    // What is kept for the X window with this id (the grabs ask from any thread).
    static std::optional<Beneath> beneath(quint32 window);

    // Marks a window that is not shown yet to be shown on every workspace (sticky, desktop
    // 0xFFFFFFFF), as window managers read it when they take the window in. Nothing off X11.
    static void showOnAllWorkspaces(QWindow* window);
};

}  // namespace platform
