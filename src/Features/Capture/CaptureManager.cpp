#include "Features/Capture/CaptureManager.h"

#include "Extensions/ScreenExt.h"
#include "Features/Thumbnail/ThumbnailView.h"
#include "Features/Thumbnail/ThumbnailWindowController.h"
#include "Services/ClipboardManager.h"
#include "Services/FlashManager.h"
#include "Services/PersistenceManager.h"
#include "Services/SoundManager.h"
#include "platform/capture/ContentFilter.h"
#include "platform/capture/RunningApplication.h"
#include "platform/capture/ScreenshotService.h"
#include "platform/capture/ShareableContent.h"
#include "platform/capture/StreamConfiguration.h"
#include "platform/desktop/Permissions.h"
#include "platform/desktop/UserNotice.h"

#include <cmath>

namespace zentola {

namespace {

struct Text {
    const char* name;
    const char* message;
};
constexpr Text texts[] = {
    {"displayNotFound", "Display not found"},
    {"windowNotFound", "Window not found"},
    {"captureFailed", "Capture failed"},
    {"noPermission", "Screen recording permission not granted"},
    {"invalidRect", "Invalid selection rectangle"},
};

// Points times scale, truncated; none when that is no usable pixel count.
std::optional<qint64> pixels(double points, double scale) {
    const double v = std::trunc(points * scale);
    if (!std::isfinite(v) || v < 1 || v > double(1 << 30))
        return std::nullopt;
    return qint64(v);
}

const platform::ShareableDisplay& findDisplay(const platform::ShareableContent& content, std::optional<quint32> displayID) {
    if (displayID)
        for (const auto& d : content.displays)
            if (d.displayID == *displayID)
                return d;
    throw CaptureManager::CaptureError(CaptureManager::CaptureErrorCase::displayNotFound);
}

// What of a rectangle lies on a display of the given size, in its points: a display that has
// shrunk since, a rectangle moved past the edge or a hand-edited store may leave part of it, or
// all of it, outside. A rectangle dragged up or left has a negative size and covers the same area.
QRectF onDisplay(const QRectF& rect, const QSizeF& display) {
    const QRectF r = rect.normalized();
    if (!std::isfinite(r.x()) || !std::isfinite(r.y()) || !std::isfinite(r.width()) || !std::isfinite(r.height()))
        return {};
    return r.intersected(QRectF(QPointF(0, 0), display));
}

platform::StreamConfiguration configuration(qint64 width, qint64 height) {
    platform::StreamConfiguration c;
    c.width = width;
    c.height = height;
    c.pixelFormat = platform::StreamConfiguration::pixelFormatBGRA;
    c.showsCursor = false;
    return c;
}

}  // namespace

CaptureManager::CaptureError::CaptureError(CaptureErrorCase c)
    : EnumError(c, texts[static_cast<int>(c)].name, texts[static_cast<int>(c)].message) {}

CaptureManager::Environment CaptureManager::Environment::system() {
    Environment e;
    e.persistence = [] () -> PersistenceManager& { return PersistenceManager::shared(); };
    e.preflightScreenCaptureAccess = [] { return platform::Permissions::preflightScreenCapture(); };
    e.bundleIdentifier = [] { return platform::RunningApplication::ownBundleIdentifier(); };
    e.copyImageWithFile = [](const platform::BitmapRef& image, const std::optional<QString>& filePath) {
        ClipboardManager::shared().copyImageWithFile(image, filePath);
    };
    e.playShutterSound = [] { SoundManager::shared().playShutterSound(); };
    e.showFlash = [](platform::ScreenRef screen) { return FlashManager::shared().showFlash(std::move(screen)); };
    e.showThumbnail = [](const CapturedImage& image) { ThumbnailWindowController::shared().show(image); };
    e.now = [] { return QDateTime::currentDateTime(); };
    return e;
}

CaptureManager& CaptureManager::shared() {
    static CaptureManager instance(Environment::system());
    return instance;
}

CaptureManager::CaptureManager(Environment environment) : env_(std::move(environment)) {}

QCoro::Task<void> CaptureManager::performCaptureWorkflow(CaptureMode mode, std::optional<SelectionRect> rect,
                                                         std::optional<WindowInfo> window, platform::ScreenRef screen) {
    platform::ScreenRef target = screen ? screen : platform::Screen::main();
    if (!target) {
        const auto all = platform::Screen::screens();
        if (!all.empty())
            target = all.front();
    }

    CapturedImage image;
    switch (mode) {
    case CaptureMode::rect:
        if (!rect)
            throw CaptureError(CaptureErrorCase::invalidRect);
        if (!env_.preflightScreenCaptureAccess())
            throw CaptureError(CaptureErrorCase::noPermission);
        if (!target)
            throw CaptureError(CaptureErrorCase::displayNotFound);
        image = co_await captureRect(*rect, ScreenExt::displayID(*target), target->frame(), target->backingScaleFactor(),
                                     target);
        break;
    case CaptureMode::window:
        if (!window)
            throw CaptureError(CaptureErrorCase::windowNotFound);
        // Remembered even when the grab then fails, so instant capture can look for it again.
        env_.persistence().saveLastWindow(*window);
        image = co_await captureWindow(*window);
        break;
    case CaptureMode::screen:
        if (!env_.preflightScreenCaptureAccess())
            throw CaptureError(CaptureErrorCase::noPermission);
        if (!target)
            throw CaptureError(CaptureErrorCase::displayNotFound);
        image = co_await captureScreen(ScreenExt::displayID(*target), target->frame(), target->backingScaleFactor(),
                                       target);
        break;
    }
    // Written at once, before any effect, so the pasteboard can offer the file.
    const QString saveFailure = saveScreenshot(image);
    // The flash goes to the target display for every mode, window captures included.
    co_await handlePostCapture(std::move(image), target, saveFailure);
}

QCoro::Task<CapturedImage> CaptureManager::captureScreen(std::optional<quint32> displayID, QRectF frame,
                                                         double scaleFactor, platform::ScreenRef screen) {
    const platform::ShareableContent content = co_await platform::ShareableContent::get(false, true);
    const platform::ShareableDisplay& display = findDisplay(content, displayID);
    const auto width = pixels(frame.width(), scaleFactor), height = pixels(frame.height(), scaleFactor);
    if (!width || !height)
        throw CaptureError(CaptureErrorCase::invalidRect);

    const auto filter = platform::ContentFilter::forDisplay(display, ownApplications(content), {});
    const platform::BitmapRef bitmap =
        co_await platform::ScreenshotService::captureImage(filter, configuration(*width, *height));
    co_return makeRecord(bitmap, CaptureMode::screen, screen);
}

QCoro::Task<CapturedImage> CaptureManager::captureRect(SelectionRect rect, std::optional<quint32> displayID,
                                                       QRectF frame, double scaleFactor, platform::ScreenRef screen) {
    const platform::ShareableContent content = co_await platform::ShareableContent::get(false, true);
    // The target display's number, not the one the rectangle was drawn on.
    const platform::ShareableDisplay& display = findDisplay(content, displayID);
    const QRectF source = onDisplay(rect.rect(), frame.size());
    const auto width = pixels(source.width(), scaleFactor), height = pixels(source.height(), scaleFactor);
    if (!width || !height)
        throw CaptureError(CaptureErrorCase::invalidRect);

    const auto filter = platform::ContentFilter::forDisplay(display, ownApplications(content), {});
    platform::StreamConfiguration config = configuration(*width, *height);
    config.sourceRect = source;
    const platform::BitmapRef bitmap = co_await platform::ScreenshotService::captureImage(filter, config);
    co_return makeRecord(bitmap, CaptureMode::rect, screen);
}

QCoro::Task<CapturedImage> CaptureManager::captureWindow(WindowInfo window) {
    const platform::ShareableContent content = co_await platform::ShareableContent::get(false, true);
    auto found = std::find_if(content.windows.begin(), content.windows.end(),
                              [&](const auto& w) { return w.windowID == window.id; });
    if (found == content.windows.end())
        throw CaptureError(CaptureErrorCase::windowNotFound);
    // Twice the window's size in points, whatever the display's own scale.
    const auto width = pixels(window.frame.width(), 2.0), height = pixels(window.frame.height(), 2.0);
    if (!width || !height)
        throw CaptureError(CaptureErrorCase::captureFailed);

    const auto filter = platform::ContentFilter::forWindow(*found);
    const platform::BitmapRef bitmap =
        co_await platform::ScreenshotService::captureImage(filter, configuration(*width, *height));
    co_return makeRecord(bitmap, CaptureMode::window, nullptr);
}

std::vector<platform::RunningApplication> CaptureManager::ownApplications(const platform::ShareableContent& content) const {
    // Leaves the overlay, thumbnail and flash out of the picture.
    std::vector<platform::RunningApplication> own;
    const QString id = env_.bundleIdentifier();
    if (id.isEmpty())
        return own;
    for (const auto& app : content.applications)
        if (app.bundleIdentifier == id)
            own.push_back(app);
    return own;
}

CapturedImage CaptureManager::makeRecord(platform::BitmapRef bitmap, CaptureMode mode, platform::ScreenRef screen) {
    if (!bitmap)
        throw CaptureError(CaptureErrorCase::captureFailed);
    CapturedImage record;
    record.image = platform::Image(bitmap);
    record.captureDate = env_.now();
    record.mode = mode;
    record.sourceScreen = std::move(screen);
    return record;
}

QString CaptureManager::saveScreenshot(CapturedImage& image) {
    ScreenshotWriter writer(env_.persistence());
    writer.now = env_.now;
    // A failed save is logged and is no failure of the capture.
    image.fileURL = writer.saveScreenshot(image.image.bitmap());
    return writer.failureReason();
}

QCoro::Task<void> CaptureManager::handlePostCapture(CapturedImage image, platform::ScreenRef screen, QString saveFailure) {
    // Each switch is read when its step comes.
    const bool copied = env_.persistence().copyToClipboard();
    if (copied) {
        std::optional<QString> path;
        if (image.fileURL)
            path = image.fileURL->toLocalFile();
        env_.copyImageWithFile(image.image.bitmap(), path);
    }
    if (!image.fileURL) {
        // Not announced as taken: no shutter, no flash, no card offering a file that does not
        // exist. The image is not lost when it went to the clipboard.
        platform::UserNotice::show(QStringLiteral("Screenshot not saved"),
                                   saveFailure + (copied ? QStringLiteral("\nThe image is on the clipboard.") : QString()));
        co_return;
    }
    if (env_.persistence().playSounds())
        env_.playShutterSound();
    if (env_.persistence().showFlash())
        co_await env_.showFlash(screen);
    env_.showThumbnail(image);
}

}  // namespace zentola
