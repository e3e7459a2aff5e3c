#include "platform/capture/ScreenshotService.h"

#include "platform/capture/ScreenCaptureProvider.h"

namespace platform {

QCoro::Task<BitmapRef> ScreenshotService::captureImage(ContentFilter filter, StreamConfiguration configuration) {
    auto provider = ScreenCaptureProvider::current();
    co_return co_await provider->captureImage(std::move(filter), std::move(configuration));
}

}  // namespace platform
