#include "platform/stream/X11StreamGrabber.h"

#include "platform/capture/X11Connection.h"
#include "platform/capture/X11Desktop.h"
#include "platform/capture/X11Grabber.h"
#include "platform/capture/X11ScreenCaptureProvider.h"
#include "platform/core/Error.h"

#include <algorithm>
#include <cstdlib>

namespace platform {

QSize X11StreamGrabber::outputSize(const StreamConfiguration& configuration, QSize sourceSize) {
    constexpr qint64 limit = 16384;  // beyond any encoder; also keeps width * height * 4 in range
    if (configuration.width > limit || configuration.height > limit || configuration.width < 0 ||
        configuration.height < 0)
        throw PlatformError(errorDomain, 11, "The requested frame size is not supported");
    return QSize(configuration.width > 0 ? int(configuration.width) : sourceSize.width(),
                 configuration.height > 0 ? int(configuration.height) : sourceSize.height());
}

X11StreamGrabber::X11StreamGrabber(const ContentFilter& filter, const StreamConfiguration& configuration)
    : filter_(filter), configuration_(configuration) {
    if (configuration_.pixelFormat != StreamConfiguration::pixelFormatBGRA)
        throw PlatformError(errorDomain, 10, "Only the BGRA pixel format is supported");
    connection_ = std::make_shared<X11Connection>();
    // Frames wait in the video queue and the encoder's queue; enough segments for those to be
    // reused rather than made and attached anew for every frame. Frames only go to the scaler
    // and the encoders' colour conversion, which read colour alone: no pass to fill the fourth byte.
    grabber_ = std::make_unique<X11Grabber>(connection_, keptSegments, false);
    desktop_ = std::make_unique<X11Desktop>(connection_);
    if (filter_.kind() == ContentFilter::Kind::display) {
        area_ = X11ScreenCaptureProvider::nativeArea(filter_.display(), configuration_.sourceRect);
        for (const auto& app : filter_.excludedApplications())
            if (app.processID > 0)
                excludedPids_.push_back(app.processID);
        for (const auto& w : filter_.exceptedWindows())
            keptWindows_.push_back(w.windowID);
    } else {
        // Told of every change to the windows on screen, so coverage is worked out again only
        // then instead of listing every window for each frame.
        xcb_connection_t* c = connection_->get();
        const quint32 rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                 XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c, connection_->root(), XCB_CW_EVENT_MASK, &rootMask);
        const quint32 windowMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, filter_.window().windowID, XCB_CW_EVENT_MASK, &windowMask);
        xcb_flush(c);
    }
    // Every grab is cut to the screen; its size is known from the server's notices rather than
    // asked before each frame.
    connection_->followRootSize();
    // The first grab fixes a window's own size and proves the source can be read.
    BitmapRef first = grabSource();
    if (!first)
        throw PlatformError(errorDomain, 8, "The window is not on screen");
    frameSize_ = outputSize(configuration_, QSize(first->width(), first->height()));
    // The kept segments are made now, not by the stream's first grabs: making one (and having the
    // server attach it) takes most of a frame interval at large sizes, and the first frames wait a
    // moment for the encoders, so the grabs behind them would each make one and come late.
    std::vector<BitmapRef> warm{first};
    while (warm.size() < std::size_t(keptSegments) && warm.back())
        warm.push_back(grabSource());
}

X11StreamGrabber::~X11StreamGrabber() = default;

std::uint64_t X11StreamGrabber::screenSizeRequests() const { return connection_->rootSizeRequests(); }

BitmapRef X11StreamGrabber::grabSource() {
    if (int e = xcb_connection_has_error(connection_->get()))
        throw PlatformError(errorDomain, e, "Lost the connection to the X server");
    if (filter_.kind() == ContentFilter::Kind::desktopIndependentWindow)
        return grabWindow();
    // Nothing is selected here, but the server's error replies to the grabs' unchecked requests
    // would otherwise gather for the whole recording.
    stackingChanged();
    // A rectangle reaching past its display shows black there, as a screenshot of it does, not
    // the neighbouring display.
    return grabber_->grabArea(area_, excludedPids_, keptWindows_, configuration_.showsCursor,
                              filter_.display().nativeGeometry);
}

bool X11StreamGrabber::stackingChanged() {
    bool changed = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_->get())) {
        connection_->noteEvent(event);
        switch (event->response_type & 0x7f) {
        case 0:  // an error: perhaps the window is gone
        case XCB_CREATE_NOTIFY:
        case XCB_DESTROY_NOTIFY:
        case XCB_UNMAP_NOTIFY:
        case XCB_MAP_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        case XCB_CONFIGURE_NOTIFY:
        case XCB_GRAVITY_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
        case XCB_PROPERTY_NOTIFY:  // a window manager's stacking list
            changed = true;
            break;
        default: break;
        }
        free(event);
    }
    return changed;
}

X11StreamGrabber::Placement X11StreamGrabber::place(quint32 id) {
    ++coverageChecks_;
    const auto tops = desktop_->topLevels(false);
    const auto it = std::find_if(tops.begin(), tops.end(), [&](const auto& t) { return t.client == id || t.frame == id; });
    if (it == tops.end())
        throw PlatformError(errorDomain, 7, "The window was closed");
    Placement p;
    p.viewable = it->viewable;
    p.area = it->geometry;
    p.covered = std::any_of(std::next(it), tops.end(), [&](const auto& above) {
        return above.viewable && above.geometry.intersects(p.area);
    });
    return p;
}

// A window that nothing covers is, on screen, exactly its own pixels: one shared-memory grab of
// its area then, which is several times cheaper per frame than reading its own pixmap. A window
// that is only hidden (minimised, unmapped) gives no frame until it shows again; one that is gone
// ends the stream.
BitmapRef X11StreamGrabber::grabPlaced(quint32 id, const Placement& p) {
    if (!p.viewable)
        return nullptr;
    const QRect root(QPoint(0, 0), connection_->rootSize());
    if (!p.covered && root.contains(p.area) && !p.area.isEmpty())
        return grabber_->grabArea(p.area, {}, {}, configuration_.showsCursor);
    return grabber_->grabWindow(id, configuration_.showsCursor);
}

BitmapRef X11StreamGrabber::grabWindow() {
    const quint32 id = filter_.window().windowID;
    if (stackingChanged() || !placement_)
        placement_ = place(id);
    BitmapRef frame = grabPlaced(id, *placement_);
    // The grab's reply comes after every event the server sent before it: a change that slipped
    // in between the check and the grab is seen now, and that frame is taken again.
    if (stackingChanged()) {
        placement_ = place(id);
        frame = grabPlaced(id, *placement_);
    }
    return frame;
}

BitmapRef X11StreamGrabber::grab() {
    for (bool retried = false;; retried = true) {
        try {
            return FrameScaler::scale(grabSource(), frameSize_);
        } catch (const PlatformError&) {
            if (int e = xcb_connection_has_error(connection_->get()))
                throw PlatformError(errorDomain, e, "Lost the connection to the X server");
            if (retried)
                throw;
            // The screen may have changed size just before the grab, its notice not yet read;
            // otherwise the failure stands.
            const QSize known = connection_->rootSize();
            connection_->refreshRootSize();
            if (connection_->rootSize() == known)
                throw;
        }
    }
}

}  // namespace platform
