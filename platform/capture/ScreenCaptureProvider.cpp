#include "platform/capture/ScreenCaptureProvider.h"

#include "platform/capture/X11ScreenCaptureProvider.h"

namespace platform {

namespace {
std::shared_ptr<ScreenCaptureProvider>& installed() {
    static std::shared_ptr<ScreenCaptureProvider> provider;
    return provider;
}
}  // namespace

std::shared_ptr<ScreenCaptureProvider> ScreenCaptureProvider::current() {
    auto& p = installed();
    if (!p)
        p = std::make_shared<X11ScreenCaptureProvider>();
    return p;
}

void ScreenCaptureProvider::install(std::shared_ptr<ScreenCaptureProvider> provider) { installed() = std::move(provider); }

}  // namespace platform
