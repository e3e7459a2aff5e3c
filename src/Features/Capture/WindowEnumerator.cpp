#include "Features/Capture/WindowEnumerator.h"

#include "platform/capture/ScreenCaptureProvider.h"

#include <unistd.h>

#include <algorithm>

namespace zentola {

WindowEnumerator& WindowEnumerator::shared() {
    static WindowEnumerator instance{qint32(getpid())};
    return instance;
}

WindowEnumerator::WindowEnumerator(qint32 ownPID) : ownPID_(ownPID) {}

std::vector<WindowInfo> WindowEnumerator::getWindows() const {
    return windows(platform::ScreenCaptureProvider::current()->windowList(true, true), ownPID_);
}

std::vector<WindowInfo> WindowEnumerator::windows(const std::vector<platform::WindowListEntry>& entries, qint32 ownPID) {
    std::vector<WindowInfo> list;
    for (const platform::WindowListEntry& e : entries) {
        if (!e.number || !e.ownerPID || !e.bounds || !e.layer)
            continue;
        if (*e.ownerPID == ownPID || *e.layer < 0)
            continue;
        const QRectF bounds = *e.bounds;
        if (bounds.width() < minimumSide || bounds.height() < minimumSide)
            continue;
        WindowInfo w;
        w.id = *e.number;
        w.title = e.name;
        w.ownerName = e.ownerName;
        w.ownerPID = *e.ownerPID;
        w.frame = bounds;
        w.layer = *e.layer;
        w.isOnScreen = e.isOnscreen.value_or(false);
        list.push_back(std::move(w));
    }
    std::stable_sort(list.begin(), list.end(), [](const WindowInfo& a, const WindowInfo& b) { return a.layer > b.layer; });
    return list;
}

}  // namespace zentola
