#include "platform/capture/ShareableContent.h"

#include "platform/capture/ScreenCaptureProvider.h"

namespace platform {

QCoro::Task<ShareableContent> ShareableContent::get(bool excludingDesktopWindows, bool onScreenWindowsOnly) {
    auto provider = ScreenCaptureProvider::current();
    co_return co_await provider->shareableContent(excludingDesktopWindows, onScreenWindowsOnly);
}

}  // namespace platform
