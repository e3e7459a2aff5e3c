#pragma once

#include "Features/Capture/ScreenshotWriter.h"
#include "Models/CaptureMode.h"
#include "Models/CapturedImage.h"
#include "Models/SelectionRect.h"
#include "Models/WindowInfo.h"
#include "platform/core/Bitmap.h"
#include "platform/core/Error.h"
#include "platform/display/Screen.h"

#include <QDateTime>
#include <QRectF>
#include <QString>
#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>
#include <vector>

namespace platform {
struct RunningApplication;
struct ShareableContent;
}

namespace zentola {

class PersistenceManager;

// Takes one screenshot of a display, a rectangle of a display or a window of another application,
// saves it, and announces it: pasteboard, shutter sound and flash, each as the settings say, then
// the floating thumbnail. A screenshot that could not be saved goes to the pasteboard as the
// settings say and is told to the user with the reason, never announced as taken. Main thread
// only; keeps nothing between captures.
class CaptureManager {
public:
    enum class CaptureErrorCase { displayNotFound, windowNotFound, captureFailed, noPermission, invalidRect };
    class CaptureError : public platform::EnumError<CaptureErrorCase> {
    public:
        explicit CaptureError(CaptureErrorCase c);
        bool operator==(const CaptureError& other) const { return errorCase() == other.errorCase(); }
    };

    // What a capture uses besides the screen-capture service; system() is the real desktop.
    struct Environment {
        std::function<PersistenceManager&()> persistence;
        std::function<bool()> preflightScreenCaptureAccess;
        std::function<QString()> bundleIdentifier;
        std::function<void(const platform::BitmapRef& image, const std::optional<QString>& filePath)> copyImageWithFile;
        std::function<void()> playShutterSound;
        std::function<QCoro::Task<void>(platform::ScreenRef screen)> showFlash;
        std::function<void(const CapturedImage& image)> showThumbnail;
        std::function<QDateTime()> now;

        static Environment system();
    };

    static CaptureManager& shared();
    explicit CaptureManager(Environment environment);

    // Throws CaptureError or the screen-capture service's PlatformError; on failure nothing is
    // saved and nothing is announced. A failed save is no failure of the capture.
    QCoro::Task<void> performCaptureWorkflow(CaptureMode mode, std::optional<SelectionRect> rect,
                                             std::optional<WindowInfo> window, platform::ScreenRef screen);
    QCoro::Task<CapturedImage> captureWindow(WindowInfo window);

    CaptureManager(const CaptureManager&) = delete;
    CaptureManager& operator=(const CaptureManager&) = delete;

private:
    QCoro::Task<CapturedImage> captureScreen(std::optional<quint32> displayID, QRectF frame, double scaleFactor,
                                             platform::ScreenRef screen);
    QCoro::Task<CapturedImage> captureRect(SelectionRect rect, std::optional<quint32> displayID, QRectF frame,
                                           double scaleFactor, platform::ScreenRef screen);
    // A save that failed (its reason given) is told to the user instead of announced.
    QCoro::Task<void> handlePostCapture(CapturedImage image, platform::ScreenRef screen, QString saveFailure);
    // Sets the record's file; the reason it has none, or empty.
    QString saveScreenshot(CapturedImage& image);
    std::vector<platform::RunningApplication> ownApplications(const platform::ShareableContent& content) const;
    CapturedImage makeRecord(platform::BitmapRef bitmap, CaptureMode mode, platform::ScreenRef screen);

    Environment env_;
};

}  // namespace zentola
