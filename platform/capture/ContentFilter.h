#pragma once

#include "platform/capture/RunningApplication.h"
#include "platform/capture/ShareableDisplay.h"
#include "platform/capture/ShareableWindow.h"

#include <vector>

namespace platform {

// What a capture shows: a display without some applications' windows, or one window alone.
class ContentFilter {
public:
    enum class Kind { display, desktopIndependentWindow };

    // The display as it looks, minus every window of the excluded applications, except the
    // excepted windows, which stay.
    static ContentFilter forDisplay(ShareableDisplay display, std::vector<RunningApplication> excludingApplications,
                                    std::vector<ShareableWindow> exceptingWindows);
    // The window's own contents, with nothing behind or above it.
    static ContentFilter forWindow(ShareableWindow window);

    Kind kind() const { return kind_; }
    const ShareableDisplay& display() const { return display_; }
    const ShareableWindow& window() const { return window_; }
    const std::vector<RunningApplication>& excludedApplications() const { return excludedApplications_; }
    const std::vector<ShareableWindow>& exceptedWindows() const { return exceptedWindows_; }

private:
    ContentFilter() = default;

    Kind kind_ = Kind::display;
    ShareableDisplay display_;
    ShareableWindow window_;
    std::vector<RunningApplication> excludedApplications_;
    std::vector<ShareableWindow> exceptedWindows_;
};

}  // namespace platform
