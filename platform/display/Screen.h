#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QScreen;

namespace platform {

class Screen;
using ScreenRef = std::shared_ptr<const Screen>;

// One connected display. The provider keeps one Screen object per monitor while it stays
// connected, so two references to the same display compare equal as pointers.
//
// Coordinates: frame() and visibleFrame() are global points with the origin at the bottom-left of
// the first display (the primary output), y up. nativeGeometry() is the X server's view: pixels,
// origin at the root window's top-left, y down.
class Screen {
public:
    struct Description {
        QString name;                 // monitor name, e.g. "DUMMY0" or "A"
        QRect nativeGeometry;         // X11 pixels, root top-left origin
        QRect nativeWorkArea;         // X11 pixels, the part panels do not cover
        double scaleFactor = 1.0;     // pixels per point
        QVariantMap deviceDescription;  // holds "NSScreenNumber" (a quint32) when the display has a number
        bool primary = false;
    };

    explicit Screen(Description d, QRectF frame, QRectF visibleFrame)
        : d_(std::move(d)), frame_(frame), visibleFrame_(visibleFrame) {}

    // Connected displays in the platform's list order: the primary first, then the others as the
    // X server lists its monitors.
    static std::vector<ScreenRef> screens();
    // The primary display (first of screens()); no value without any display.
    static ScreenRef main();
    // The pointer, in global bottom-left points.
    static QPointF mouseLocation();

    const QString& name() const { return d_.name; }
    QRectF frame() const { return frame_; }
    QRectF visibleFrame() const { return visibleFrame_; }
    double backingScaleFactor() const { return d_.scaleFactor; }
    const QVariantMap& deviceDescription() const { return d_.deviceDescription; }
    QRect nativeGeometry() const { return d_.nativeGeometry; }
    bool isPrimary() const { return d_.primary; }
    // The toolkit's screen for the same monitor, for placing windows; may be null.
    QScreen* qscreen() const;

    // Pure conversions between X11 pixels and global bottom-left points, for a layout whose first
    // display has the given native geometry and scale.
    static QPointF pointFromNative(const QPointF& native, const QRect& firstNative, double scale);
    static QPointF nativeFromPoint(const QPointF& point, const QRect& firstNative, double scale);
    // The same across displays of different scales: a pixel on a display is converted with that
    // display's own scale, anything off every display with the first display's.
    static QPointF pointFromNative(const QPointF& native, const std::vector<ScreenRef>& screens);
    // The display whose frame holds the point (top edge in, bottom edge out), or null.
    static ScreenRef screenAt(const QPointF& point, const std::vector<ScreenRef>& screens);

    // Where the display list and the pointer come from. The real one reads RandR monitors over xcb;
    // tests install a fake.
    class Provider {
    public:
        virtual ~Provider() = default;
        virtual std::vector<ScreenRef> screens() = 0;
        virtual QPointF mouseLocation() = 0;
    };
    // Installs a provider (nullptr restores the real one). Main thread only.
    static void setProvider(std::shared_ptr<Provider> provider);
    // Builds Screen objects from descriptions, with frames worked out from the first one (tests, fakes).
    static std::vector<ScreenRef> makeScreens(const std::vector<Description>& descriptions);
    // The frame and visible frame of each description, in the same order, as makeScreens sets them.
    // A display's place comes from its pixel offset to the first display at the smallest scale of
    // all (seamless when every scale is the same, never overlapping when they differ); its size,
    // and where its work area lies within it, at its own scale.
    static std::vector<std::pair<QRectF, QRectF>> framesFor(const std::vector<Description>& descriptions);

    // Replaces what the display reports, keeping the object (providers, when a connected monitor
    // changes its geometry or scale). Reached only through a non-const reference the provider owns.
    void update(Description d, QRectF frame, QRectF visibleFrame);

private:
    Description d_;
    QRectF frame_;
    QRectF visibleFrame_;
};

}  // namespace platform
