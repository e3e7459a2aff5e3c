#pragma once

#include "platform/capture/OwnWindows.h"
#include "platform/capture/X11Desktop.h"
#include "platform/core/Bitmap.h"

#include <QRect>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_set>
#include <vector>

namespace platform {

class X11Connection;
class X11WindowWatch;

// Reads screen and window pixels from the X server, for screenshots and for each frame of a stream.
// Bitmaps are BGRA and opaque, but for grabs of windows with alpha. Thread-safe; a stream keeps one
// grabber for its whole life so the shared-memory segments are reused from frame to frame.
class X11Grabber {
public:
    // keptSegments: how many shared-memory segments to keep for reuse (a stream wants a few, a
    // one-off screenshot none). With fillsAlpha false the fourth byte stays as the server leaves
    // it, undefined, which saves a pass over every pixel: only for consumers that read colour
    // alone (the encoders' colour conversion), never for bitmaps shown through Qt, whose opaque
    // format wants 0xff there. A grabber that keeps segments serves a stream of grabs and also
    // watches the windows (see grabArea); the server holds the watch's reports until the next
    // grab reads them, which only a steady stream of grabs keeps short; watchesWindows false keeps
    // the segments without the watch. Throws PlatformError when the server's pixels are not 32-bit.
    explicit X11Grabber(std::shared_ptr<X11Connection> connection, int keptSegments = 0, bool fillsAlpha = true,
                        std::optional<bool> watchesWindows = std::nullopt);
    ~X11Grabber();
    X11Grabber(const X11Grabber&) = delete;
    X11Grabber& operator=(const X11Grabber&) = delete;

    // The area of the root window (X11 pixels) as the screen shows it, except that the windows of
    // excludedPids are left out and what lies beneath them is shown instead (what the window
    // kept from beneath it, see OwnWindows, else the published root pixmap); windows listed in
    // keptWindows (client ids) stay. With nothing excluded on screen this is one shared-memory
    // grab; a grabber that watches the windows lists them again only after the server reports a
    // change to them, one that does not lists them every time.
    // Parts of the area outside bounds (null: the root window) stay black. Throws PlatformError.
    BitmapRef grabArea(const QRect& area, const std::vector<qint32>& excludedPids = {},
                       const std::vector<quint32>& keptWindows = {}, bool showCursor = false,
                       const QRect& bounds = QRect());
    // One top-level window's own pixels (client id or frame id), even where other windows cover
    // it. A window of a 32-bit visual that is not opaque all over gives premultiplied alpha
    // (unless fillsAlpha is off: colour alone). Throws PlatformError when there is no such window.
    BitmapRef grabWindow(quint32 window, bool showCursor = false);

    // Gives the kept shared memory back; later grabs keep segments again.
    void releaseKeptMemory();

    // The bitmap resampled to the size (the same bitmap when it already has it).
    static BitmapRef scaled(const BitmapRef& bitmap, QSize size);

    std::shared_ptr<X11Connection> connection() const { return x_; }
    // How often grabArea has listed the top-level windows.
    std::uint64_t windowListings() const { return windowListings_.load(); }

private:
    struct Segment;
    class Pool;

    // keepsAlpha: the drawable's fourth byte is alpha, not undefined.
    BitmapRef grabDrawable(quint32 drawable, const QRect& rect, bool keepsAlpha = false);
    // The top-level windows, listed again when the watch reports a change or a request failed.
    // Called with watchMutex_ held.
    const std::vector<X11Desktop::TopLevel>& currentWindows();
    // Where a window of ours (its client id) covers the area, in root coordinates.
    struct Hidden {
        QRect region;
        quint32 window = 0;
        std::optional<OwnWindows::Beneath> beneath;  // what the window keeps, read before the listing
    };
    // Paints the region afresh: the desktop's background, then the shown windows bottom to top.
    // False when a window's pixels could not be read.
    bool repaintRegion(std::uint8_t* pixels, int bytesPerRow, const QRect& area, const Hidden& hidden,
                       const std::vector<const X11Desktop::TopLevel*>& shown);
    void paintBackground(std::uint8_t* pixels, int bytesPerRow, const QRect& area, const Hidden& hidden);
    void drawCursor(std::uint8_t* pixels, int bytesPerRow, const QRect& area);
    // True when a window was not redirected before (its pixmap may still be repainting).
    bool redirect(const std::vector<quint32>& frames);
    // The window's own pixmap, to be freed by the caller; none when it has none.
    quint32 windowPixmap(quint32 frame);
    // Reads rect (window coordinates) of a window's own pixmap into dst.
    bool readWindowPixels(quint32 frame, const QRect& rect, std::uint8_t* dst, int dstStride);
    void sync();

    std::shared_ptr<X11Connection> x_;
    X11Desktop desktop_;
    std::shared_ptr<Pool> pool_;
    bool fillsAlpha_;
    std::mutex redirectedMutex_;
    std::unordered_set<quint32> redirected_;  // frames this connection has redirected
    std::mutex watchMutex_;
    bool watchesWindows_;
    std::unique_ptr<X11WindowWatch> watch_;  // made by the first grab that leaves windows out
    std::vector<X11Desktop::TopLevel> windows_;
    bool windowsStale_ = true;
    std::atomic<std::uint64_t> windowListings_{0};
};

}  // namespace platform
