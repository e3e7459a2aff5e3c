#pragma once

#include "platform/capture/RunningApplication.h"
#include "platform/capture/ShareableDisplay.h"
#include "platform/capture/ShareableWindow.h"

#include <qcoro/qcorotask.h>

#include <vector>

namespace platform {

// The displays, windows and applications that can be captured right now.
struct ShareableContent {
    std::vector<ShareableDisplay> displays;
    std::vector<ShareableWindow> windows;         // front to back
    std::vector<RunningApplication> applications;  // every owner of a listed window, and this process

    // Asks the X server afresh (through ScreenCaptureProvider::current()). Throws PlatformError
    // when the X server cannot be reached. Resumes on the main thread.
    static QCoro::Task<ShareableContent> get(bool excludingDesktopWindows, bool onScreenWindowsOnly);
};

}  // namespace platform
