#pragma once

#include "platform/core/Bitmap.h"

#include <QRect>
#include <QtGlobal>

#include <QRegion>

#include <optional>
#include <unordered_map>

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
    // for the window until forget(). Call it before the window is shown. Until settle(), grabs
    // leave all of that area out while it moves (a compositing manager may still show the window
    // where it was a moment ago), else only where it is. Null, and nothing kept, off X11 or when the screen cannot be read.
    static BitmapRef keepBeneath(QWindow* window, const QRect& geometry);
    // Keeps pixels read earlier over nativeArea (X11 pixels) for the window.
    static void keep(QWindow* window, const QRect& nativeArea, BitmapRef pixels);
    // Whether the window is on its way (it is from keepBeneath on).
    static void setMoving(QWindow* window, bool moving);
    // Call right before hiding the window: a grab that finds it gone from then on still leaves out
    // what it kept, as a compositing manager may show the window for a moment yet (called after
    // the hiding, a grab racing it may show the window). What is kept goes a moment later: a window
    // manager may still show the window's frame until then, and a grab that listed the window
    // before keeps what it read.
    static void forget(QWindow* window);

    struct Beneath {
        QRect area;  // X11 pixels
        BitmapRef pixels;
        // Where the pixels showed the desktop's background alone, no other window (X11 pixels);
        // elsewhere they may show a window that has gone since.
        QRegion background;
        // The one colour of all of that background, when it has one.
        std::optional<quint32> backgroundColour;
        bool moving = false;
        bool hidden = false;  // forgotten, and going soon
    };
    // What is kept for the X window with this id (the grabs ask from any thread).
    static std::optional<Beneath> beneath(quint32 window);
    // What is kept for every window, read at once: a grab reads it before it lists the windows,
    // so any window of ours that the listing shows on screen has its entry here.
    static std::unordered_map<quint32, Beneath> all();

    // Marks a window that is not shown yet to be shown on every workspace (sticky, desktop
    // 0xFFFFFFFF), as window managers read it when they take the window in. Nothing off X11.
    static void showOnAllWorkspaces(QWindow* window);
};

}  // namespace platform
