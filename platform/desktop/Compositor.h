#pragma once

namespace platform {

// Whether the desktop blends translucent windows over what lies beneath them. On X11 that takes a
// compositing manager; without one a translucent window shows its colour darkened to grey.
class Compositor {
public:
    // True while a compositing manager owns the screen's _NET_WM_CM_S<n> selection; true on a
    // platform other than X11, whose windows are always composited.
    static bool isRunning();
};

}  // namespace platform
