#pragma once

#include "platform/capture/WindowListEntry.h"

#include <QRect>
#include <QRectF>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

namespace platform {

class X11Connection;

// What the X server shows: its monitors and its top-level windows with their owners.
class X11Desktop {
public:
    // A top-level window.
    struct TopLevel {
        quint32 frame = 0;   // the root's child: a window manager's frame, or the client itself
        quint32 client = 0;  // the application's window inside the frame (the frame when unmanaged)
        QRect geometry;      // the frame, X11 pixels, root origin
        int depth = 0;       // the frame's bits per pixel; 32 carries alpha
        bool viewable = false;
        qint32 pid = 0;      // 0 when unknown
        std::optional<QString> title;
        std::optional<QString> wmClass;
        int layer = 0;
        bool desktop = false;  // a desktop background window
    };

    // Native pixels to global top-left points: the first display's native origin and the scale.
    struct Layout {
        QPoint firstOrigin;
        double scale = 1.0;
        QRectF toPoints(const QRect& native) const;
    };

    explicit X11Desktop(std::shared_ptr<X11Connection> connection);

    // From the first of Screen::screens() (origin 0, scale 1 without displays). Main thread only.
    static Layout currentLayout();
    // Bottom to top: the window manager's stacking list when it publishes one, else the root's
    // mapped and unmapped children in the X server's order.
    // withDetails also reads titles, classes and layers (the grabs need only frames and owners).
    std::vector<TopLevel> topLevels(bool withDetails);
    // The top-level window that is window itself (a root child) or whose client it is, read on
    // its own without listing the others; no owner or details. None when there is no such window.
    std::optional<TopLevel> topLevel(quint32 window);
    // Front to back.
    std::vector<WindowListEntry> windowList(const Layout& layout, bool onScreenOnly, bool excludeDesktopElements);

    // Layer numbers of the desktop's conventions.
    static constexpr int desktopLayer = -2147483623;
    static constexpr int floatingLayer = 3;
    static constexpr int dockLayer = 20;
    static constexpr int notificationLayer = 25;
    static constexpr int popUpLayer = 101;

private:
    void fillOwners(std::vector<TopLevel>& windows);
    void fillDetails(std::vector<TopLevel>& windows);

    std::shared_ptr<X11Connection> x_;
};

}  // namespace platform
