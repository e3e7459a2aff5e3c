#include "platform/capture/ContentFilter.h"

namespace platform {

ContentFilter ContentFilter::forDisplay(ShareableDisplay display, std::vector<RunningApplication> excludingApplications,
                                        std::vector<ShareableWindow> exceptingWindows) {
    ContentFilter f;
    f.kind_ = Kind::display;
    f.display_ = std::move(display);
    f.excludedApplications_ = std::move(excludingApplications);
    f.exceptedWindows_ = std::move(exceptingWindows);
    return f;
}

ContentFilter ContentFilter::forWindow(ShareableWindow window) {
    ContentFilter f;
    f.kind_ = Kind::desktopIndependentWindow;
    f.window_ = std::move(window);
    return f;
}

}  // namespace platform
