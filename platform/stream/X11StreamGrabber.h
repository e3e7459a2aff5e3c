#pragma once

#include "platform/capture/ContentFilter.h"
#include "platform/capture/StreamConfiguration.h"
#include "platform/stream/FrameGrabber.h"
#include "platform/stream/FrameScaler.h"

#include <QRect>
#include <QSize>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

class X11Connection;
class X11Desktop;
class X11Grabber;

// A stream's frames from the X server: a display or a rectangle of it (without the windows of the
// excluded applications), or one window's own pixels, resampled to the configured size.
// Keeps its own connection and grabber for the stream's life, so shared memory is reused.
class X11StreamGrabber : public FrameGrabber {
public:
    static constexpr const char* errorDomain = "X11";
    static constexpr int keptSegments = 2;

    // Connects and grabs once to prove the source can be read. Throws PlatformError.
    X11StreamGrabber(const ContentFilter& filter, const StreamConfiguration& configuration);
    ~X11StreamGrabber() override;

    BitmapRef grab() override;

    // The configured output size; a width or height of 0 takes the source's own.
    static QSize outputSize(const StreamConfiguration& configuration, QSize sourceSize);

    QSize frameSize() const { return frameSize_; }
    // How often a window stream has listed the windows to see whether its window is covered.
    std::uint64_t coverageChecks() const { return coverageChecks_; }
    // How often the screen's size was asked of the server.
    std::uint64_t screenSizeRequests() const;

private:
    // Where the window is and whether anything is over it, as of the last listing.
    struct Placement {
        bool viewable = false;
        QRect area;
        bool covered = true;
    };

    BitmapRef grabSource();
    BitmapRef grabWindow();
    BitmapRef grabPlaced(quint32 id, const Placement& placement);
    Placement place(quint32 id);
    // Reads what the server has sent; true when a window was created, mapped, unmapped, moved,
    // restacked or destroyed (or a request failed) since the last call.
    bool stackingChanged();

    ContentFilter filter_;
    StreamConfiguration configuration_;
    std::shared_ptr<X11Connection> connection_;
    std::unique_ptr<X11Grabber> grabber_;
    std::unique_ptr<X11Desktop> desktop_;
    QRect area_;
    QSize frameSize_;
    std::vector<qint32> excludedPids_;
    std::vector<quint32> keptWindows_;
    std::optional<Placement> placement_;  // none: list the windows again
    std::uint64_t coverageChecks_ = 0;
};

}  // namespace platform
