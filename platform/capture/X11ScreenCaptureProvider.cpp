#include "platform/capture/X11ScreenCaptureProvider.h"

#include "platform/capture/X11Connection.h"
#include "platform/capture/X11Desktop.h"
#include "platform/capture/X11Grabber.h"
#include "platform/core/Error.h"
#include "platform/core/MainThread.h"
#include "platform/core/SerialQueue.h"
#include "platform/display/Screen.h"

#include <QCoreApplication>
#include <QTimer>

#include <unistd.h>

#include <cmath>
#include <unordered_set>

namespace platform {

namespace {
// Larger than any X screen; beyond it the request is a mistake, not a picture.
constexpr qint64 maximumSide = 1 << 15;
// A capture often follows another soon (the overlay's pictures, then the screenshot): the shared
// memory of the last grab is kept that long, saving the fresh memory's cost of a whole screen.
constexpr auto keepMemoryFor = std::chrono::seconds(60);
}  // namespace

X11ScreenCaptureProvider::X11ScreenCaptureProvider() : queue_(std::make_unique<SerialQueue>("com.zentola.screenshot")) {}

X11ScreenCaptureProvider::~X11ScreenCaptureProvider() {
    queue_.reset();  // lets a running grab finish before the grabber goes
}

std::shared_ptr<X11Connection> X11ScreenCaptureProvider::connection() {
    std::lock_guard lock(mutex_);
    if (connection_ && xcb_connection_has_error(connection_->get())) {
        // The server went away and may be back; start over.
        desktop_.reset();
        grabber_.reset();
        connection_.reset();
    }
    if (!connection_) {
        connection_ = std::make_shared<X11Connection>();
        desktop_ = std::make_unique<X11Desktop>(connection_);
    }
    return connection_;
}

QCoro::Task<ShareableContent> X11ScreenCaptureProvider::shareableContent(bool excludingDesktopWindows,
                                                                        bool onScreenWindowsOnly) {
    connection();
    ShareableContent content;
    const X11Desktop::Layout layout = X11Desktop::currentLayout();
    for (const ScreenRef& s : Screen::screens()) {
        const QVariant number = s->deviceDescription().value(QStringLiteral("NSScreenNumber"));
        if (!number.isValid())
            continue;
        ShareableDisplay d;
        d.displayID = number.value<quint32>();
        d.width = int(s->frame().width());
        d.height = int(s->frame().height());
        d.nativeGeometry = s->nativeGeometry();
        d.scaleFactor = s->backingScaleFactor() > 0 ? s->backingScaleFactor() : 1.0;
        d.frame = layout.toPoints(d.nativeGeometry);
        content.displays.push_back(d);
    }

    const qint32 ownPid = qint32(getpid());
    std::unordered_set<qint32> seen;
    auto application = [&](qint32 pid, const std::optional<QString>& name) {
        RunningApplication app;
        app.processID = pid;
        app.applicationName = name.value_or(QString());
        app.bundleIdentifier = pid == ownPid ? RunningApplication::ownBundleIdentifier() : app.applicationName;
        if (seen.insert(pid).second)
            content.applications.push_back(app);
        return app;
    };
    std::vector<WindowListEntry> entries;
    {
        std::lock_guard lock(mutex_);
        entries = desktop_->windowList(layout, onScreenWindowsOnly, excludingDesktopWindows);
    }
    for (const WindowListEntry& e : entries) {
        if (!e.number)
            continue;
        ShareableWindow w;
        w.windowID = *e.number;
        w.frame = e.bounds.value_or(QRectF());
        w.title = e.name;
        if (e.ownerPID)
            w.owningApplication = application(*e.ownerPID, e.ownerName);
        w.windowLayer = e.layer.value_or(0);
        w.isOnScreen = e.isOnscreen.value_or(false);
        content.windows.push_back(std::move(w));
    }
    if (!seen.count(ownPid))
        application(ownPid, QStringLiteral("Zentola"));
    co_return content;
}

QCoro::Task<BitmapRef> X11ScreenCaptureProvider::captureImage(ContentFilter filter, StreamConfiguration configuration) {
    auto x = connection();
    std::shared_ptr<X11Grabber> grabber;
    {
        std::lock_guard lock(mutex_);
        if (!grabber_)
            grabber_ = std::make_shared<X11Grabber>(x, 1, true, false);
        grabber = grabber_;
    }
    Completion<BitmapRef> done;
    queue_->async([done, grabber, filter = std::move(filter), configuration = std::move(configuration)] {
        try {
            done.resolve(capture(*grabber, filter, configuration));
        } catch (...) {
            done.reject(std::current_exception());
        }
    });
    const quint64 capture = ++*captures_;
    auto release = [captures = captures_, capture, kept = std::weak_ptr<X11Grabber>(grabber)] {
        if (auto g = kept.lock(); g && capture == *captures)
            g->releaseKeptMemory();
    };
    if (QCoreApplication::instance())
        QTimer::singleShot(keepMemoryFor, QCoreApplication::instance(), release);
    co_return co_await done;
}

std::vector<WindowListEntry> X11ScreenCaptureProvider::windowList(bool onScreenOnly, bool excludeDesktopElements) {
    try {
        connection();
    } catch (const PlatformError&) {
        return {};
    }
    const X11Desktop::Layout layout = X11Desktop::currentLayout();
    std::lock_guard lock(mutex_);
    return desktop_->windowList(layout, onScreenOnly, excludeDesktopElements);
}

QRect X11ScreenCaptureProvider::nativeArea(const ShareableDisplay& display, const QRectF& sourceRect) {
    const QRect native = display.nativeGeometry;
    if (sourceRect.isNull())
        return native;
    const QRectF r = sourceRect.normalized();
    const double s = display.scaleFactor > 0 ? display.scaleFactor : 1.0;
    const double left = native.x() + r.left() * s, top = native.y() + r.top() * s;
    const double right = native.x() + r.right() * s, bottom = native.y() + r.bottom() * s;
    if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(right) || !std::isfinite(bottom) ||
        std::abs(left) > maximumSide || std::abs(top) > maximumSide || std::abs(right) > maximumSide ||
        std::abs(bottom) > maximumSide)
        throw PlatformError("X11", 9, "The source rectangle is outside the screen");
    const int x0 = int(std::lround(left)), y0 = int(std::lround(top));
    const int x1 = std::max(x0 + 1, int(std::lround(right))), y1 = std::max(y0 + 1, int(std::lround(bottom)));
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

BitmapRef X11ScreenCaptureProvider::capture(X11Grabber& grabber, const ContentFilter& filter,
                                            const StreamConfiguration& configuration) {
    if (configuration.pixelFormat != StreamConfiguration::pixelFormatBGRA)
        throw PlatformError("X11", 10, "Only the BGRA pixel format is supported");
    if (configuration.width < 0 || configuration.height < 0 || configuration.width > maximumSide ||
        configuration.height > maximumSide)
        throw PlatformError("X11", 11, "The requested image size is not supported");

    BitmapRef bitmap;
    if (filter.kind() == ContentFilter::Kind::display) {
        std::vector<qint32> pids;
        for (const RunningApplication& app : filter.excludedApplications())
            pids.push_back(app.processID);
        std::vector<quint32> kept;
        for (const ShareableWindow& w : filter.exceptedWindows())
            kept.push_back(w.windowID);
        // A rectangle reaching past its display shows black there, not the neighbouring display.
        bitmap = grabber.grabArea(nativeArea(filter.display(), configuration.sourceRect), pids, kept,
                                  configuration.showsCursor, filter.display().nativeGeometry);
    } else {
        bitmap = grabber.grabWindow(filter.window().windowID, configuration.showsCursor);
    }
    const int w = configuration.width > 0 ? int(configuration.width) : bitmap->width();
    const int h = configuration.height > 0 ? int(configuration.height) : bitmap->height();
    return X11Grabber::scaled(bitmap, QSize(w, h));
}

}  // namespace platform
