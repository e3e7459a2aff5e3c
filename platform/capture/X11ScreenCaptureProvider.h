#pragma once

#include "platform/capture/ScreenCaptureProvider.h"

#include <memory>
#include <mutex>

namespace platform {

class SerialQueue;
class X11Connection;
class X11Desktop;
class X11Grabber;

// Shareable content and the window list from the X server on the main thread; grabs on a worker
// thread of their own so a large frame does not stall the interface.
class X11ScreenCaptureProvider : public ScreenCaptureProvider {
public:
    X11ScreenCaptureProvider();
    ~X11ScreenCaptureProvider() override;

    QCoro::Task<ShareableContent> shareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly) override;
    QCoro::Task<BitmapRef> captureImage(ContentFilter filter, StreamConfiguration configuration) override;
    std::vector<WindowListEntry> windowList(bool onScreenOnly, bool excludeDesktopElements) override;

    // The grab itself, on the calling thread. Throws PlatformError.
    static BitmapRef capture(X11Grabber& grabber, const ContentFilter& filter, const StreamConfiguration& configuration);
    // The display's pixels for a source rectangle in its points (null: the whole display).
    static QRect nativeArea(const ShareableDisplay& display, const QRectF& sourceRect);

private:
    // Connects on first use; throws PlatformError when the server cannot be reached.
    std::shared_ptr<X11Connection> connection();

    std::mutex mutex_;
    std::shared_ptr<X11Connection> connection_;
    std::unique_ptr<X11Desktop> desktop_;
    std::shared_ptr<X11Grabber> grabber_;
    std::unique_ptr<SerialQueue> queue_;
    std::shared_ptr<quint64> captures_ = std::make_shared<quint64>(0);  // main thread
};

}  // namespace platform
