#include "platform/stream/X11StreamGrabber.h"

#include "platform/capture/X11Connection.h"
#include "platform/capture/X11Grabber.h"
#include "platform/core/Error.h"

#include <cmath>

namespace platform {

QRect X11StreamGrabber::captureArea(const ShareableDisplay& display, const QRectF& sourceRect) {
    const QRect native = display.nativeGeometry;
    if (sourceRect.isNull())
        return native;
    const QRectF r = sourceRect.normalized();
    const double s = display.scaleFactor > 0 ? display.scaleFactor : 1.0;
    const QRect pixels(native.x() + static_cast<int>(std::lround(r.x() * s)),
                       native.y() + static_cast<int>(std::lround(r.y() * s)),
                       static_cast<int>(std::lround(r.width() * s)), static_cast<int>(std::lround(r.height() * s)));
    return pixels.intersected(native);
}

QSize X11StreamGrabber::outputSize(const StreamConfiguration& configuration, QSize sourceSize) {
    constexpr qint64 limit = 16384;  // beyond what any encoder takes; guards the multiplication
    const qint64 w = configuration.width > 0 ? std::min(configuration.width, limit) : sourceSize.width();
    const qint64 h = configuration.height > 0 ? std::min(configuration.height, limit) : sourceSize.height();
    return QSize(static_cast<int>(w), static_cast<int>(h));
}

X11StreamGrabber::X11StreamGrabber(const ContentFilter& filter, const StreamConfiguration& configuration)
    : filter_(filter), configuration_(configuration) {
    connection_ = std::make_shared<X11Connection>();
    grabber_ = std::make_unique<X11Grabber>(connection_);
    if (filter_.kind() == ContentFilter::Kind::display) {
        area_ = captureArea(filter_.display(), configuration_.sourceRect);
        if (area_.isEmpty())
            throw PlatformError(errorDomain, 2, "The area to record lies outside the display");
        for (const auto& app : filter_.excludedApplications())
            if (app.processID > 0)
                excludedPids_.push_back(app.processID);
        for (const auto& w : filter_.exceptedWindows())
            keptWindows_.push_back(w.windowID);
    }
    // The first grab fixes the source size (a window's own) and proves the source can be read.
    BitmapRef first = grabOnce();
    frameSize_ = outputSize(configuration_, QSize(first->width(), first->height()));
    if (frameSize_.isEmpty())
        throw PlatformError(errorDomain, 3, "The recording size is empty");
}

X11StreamGrabber::~X11StreamGrabber() = default;

BitmapRef X11StreamGrabber::grabOnce() {
    if (xcb_connection_has_error(connection_->get()))
        throw PlatformError(errorDomain, xcb_connection_has_error(connection_->get()),
                            "Lost the connection to the X server");
    if (filter_.kind() == ContentFilter::Kind::desktopIndependentWindow)
        return grabber_->grabWindow(filter_.window().windowID, configuration_.showsCursor);
    return grabber_->grabArea(area_, excludedPids_, keptWindows_, configuration_.showsCursor);
}

BitmapRef X11StreamGrabber::grab() {
    BitmapRef frame = grabOnce();
    if (!frame)
        return nullptr;
    if (frame->width() == frameSize_.width() && frame->height() == frameSize_.height())
        return frame;
    return X11Grabber::scaled(frame, frameSize_);
}

}  // namespace platform
