#pragma once

#include "platform/capture/ContentFilter.h"
#include "platform/capture/ShareableContent.h"
#include "platform/capture/StreamConfiguration.h"
#include "platform/capture/WindowListEntry.h"
#include "platform/core/Bitmap.h"

#include <qcoro/qcorotask.h>

#include <memory>
#include <vector>

namespace platform {

// Where shareable content, one-frame captures and the window list come from. The real one talks to
// the X server; tests install a fake.
class ScreenCaptureProvider {
public:
    virtual ~ScreenCaptureProvider() = default;

    virtual QCoro::Task<ShareableContent> shareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly) = 0;
    virtual QCoro::Task<BitmapRef> captureImage(ContentFilter filter, StreamConfiguration configuration) = 0;
    // Front to back. Empty when the X server cannot be reached.
    virtual std::vector<WindowListEntry> windowList(bool onScreenOnly, bool excludeDesktopElements) = 0;

    // The installed provider (the X11 one unless a test installed another). Main thread only.
    static std::shared_ptr<ScreenCaptureProvider> current();
    // nullptr restores the X11 provider.
    static void install(std::shared_ptr<ScreenCaptureProvider> provider);
};

}  // namespace platform
