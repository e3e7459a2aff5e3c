#pragma once

#include "Models/WindowInfo.h"
#include "platform/capture/WindowListEntry.h"

#include <QtGlobal>

#include <vector>

namespace zentola {

// The on-screen windows of other applications that are big enough to capture, frontmost layer
// first. Each call asks the desktop afresh.
class WindowEnumerator {
public:
    static WindowEnumerator& shared();
    explicit WindowEnumerator(qint32 ownPID);

    qint32 ownPID() const { return ownPID_; }
    // Never fails; empty when the desktop cannot be asked.
    std::vector<WindowInfo> getWindows() const;

    // The list made from the desktop's entries (front to back): entries without a number, owner,
    // bounds or layer, this process's windows, negative layers and windows under 50 points on a
    // side are left out; the rest sorted by layer, highest first, keeping the desktop's order
    // within a layer.
    static std::vector<WindowInfo> windows(const std::vector<platform::WindowListEntry>& entries, qint32 ownPID);

    // Smallest width and height worth capturing, in points.
    static constexpr double minimumSide = 50;

private:
    qint32 ownPID_;
};

}  // namespace zentola
