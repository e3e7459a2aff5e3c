#include "platform/capture/X11Grabber.h"

#include "platform/capture/OwnWindows.h"
#include "platform/capture/X11Connection.h"
#include "platform/capture/X11WindowWatch.h"
#include "platform/core/Error.h"

#include <xcb/composite.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <QImage>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

namespace platform {

namespace {

// Long enough for a client to repaint what a first redirection exposed.
constexpr auto repaintDelay = std::chrono::milliseconds(60);

[[noreturn]] void fail(int code, const std::string& what) { throw PlatformError("X11", code, what); }

// Runs fn(firstRow, endRow) over bands of rows on several threads when the area is large: most of
// the cost of a first pass over fresh shared memory is mapping its pages, which spreads well.
void inBands(int height, std::size_t bytes, const std::function<void(int, int)>& fn) {
    const int threads = bytes < (std::size_t(4) << 20) ? 1 : int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i)
        workers.emplace_back(fn, height * i / threads, height * (i + 1) / threads);
    fn(0, height / threads);
    for (auto& t : workers)
        t.join();
}

// The X server leaves the fourth byte undefined; the toolkit expects 0xff in opaque pixels. Only
// groups that are not opaque yet are written back, so a server that fills the byte costs one read.
void makeOpaque(std::uint8_t* pixels, int bytesPerRow, int width, int height) {
    for (int y = 0; y < height; ++y) {
        auto* p = reinterpret_cast<std::uint32_t*>(pixels + std::size_t(y) * bytesPerRow);
        int x = 0;
#ifdef __SSE2__
        const __m128i alpha = _mm_set1_epi32(int(0xff000000u));
        for (; x + 16 <= width; x += 16) {
            auto* q = reinterpret_cast<__m128i*>(p + x);
            const __m128i v0 = _mm_loadu_si128(q), v1 = _mm_loadu_si128(q + 1);
            const __m128i v2 = _mm_loadu_si128(q + 2), v3 = _mm_loadu_si128(q + 3);
            const __m128i all = _mm_and_si128(_mm_and_si128(v0, v1), _mm_and_si128(v2, v3));
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_or_si128(all, alpha), all)) == 0xffff)
                continue;
            _mm_storeu_si128(q, _mm_or_si128(v0, alpha));
            _mm_storeu_si128(q + 1, _mm_or_si128(v1, alpha));
            _mm_storeu_si128(q + 2, _mm_or_si128(v2, alpha));
            _mm_storeu_si128(q + 3, _mm_or_si128(v3, alpha));
        }
#endif
        for (; x < width; ++x)
            p[x] |= 0xff000000u;
    }
}

// Whether the fourth byte of every pixel is 0xff.
bool allOpaque(const std::uint8_t* pixels, int bytesPerRow, int width, int height) {
    for (int y = 0; y < height; ++y) {
        const auto* p = reinterpret_cast<const std::uint32_t*>(pixels + std::size_t(y) * bytesPerRow);
        std::uint32_t all = 0xffffffffu;
        for (int x = 0; x < width; ++x)
            all &= p[x];
        if ((all >> 24) != 0xffu)
            return false;
    }
    return true;
}

void copyRows(std::uint8_t* dst, int dstStride, const std::uint8_t* src, int srcStride, int rowBytes, int rows) {
    for (int y = 0; y < rows; ++y)
        std::memcpy(dst + std::size_t(y) * dstStride, src + std::size_t(y) * srcStride, rowBytes);
}

}  // namespace

struct X11Grabber::Segment {
    int shmid = -1;
    std::uint8_t* address = nullptr;
    std::size_t size = 0;
    xcb_shm_seg_t seg = 0;
};

// Shared-memory segments attached to the server, reused once the bitmap that used one is gone.
class X11Grabber::Pool : public std::enable_shared_from_this<Pool> {
public:
    Pool(std::shared_ptr<X11Connection> x, int kept) : x_(std::move(x)), kept_(kept) {}
    ~Pool() {
        for (Segment& s : free_)
            destroy(s);
    }

    Segment acquire(std::size_t size) {
        {
            std::lock_guard lock(mutex_);
            for (auto it = free_.begin(); it != free_.end(); ++it) {
                if (it->size >= size) {
                    Segment s = *it;
                    free_.erase(it);
                    return s;
                }
            }
        }
        Segment s;
        s.size = size;
        s.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (s.shmid < 0)
            fail(errno, std::string("Cannot allocate shared memory: ") + std::strerror(errno));
        void* a = shmat(s.shmid, nullptr, 0);
        if (a == reinterpret_cast<void*>(-1)) {
            const int e = errno;
            shmctl(s.shmid, IPC_RMID, nullptr);
            fail(e, std::string("Cannot map shared memory: ") + std::strerror(e));
        }
        s.address = static_cast<std::uint8_t*>(a);
        // Touching the fresh pages here, on several threads, saves the server from taking each
        // page fault in turn while it copies the screen in.
        std::uint8_t* base = s.address;
        const std::size_t rowBytes = 1 << 16;
        const int rows = int((size + rowBytes - 1) / rowBytes);
        inBands(rows, size, [=](int first, int end) {
            const std::size_t from = std::size_t(first) * rowBytes, to = std::min(size, std::size_t(end) * rowBytes);
            if (to > from)
                std::memset(base + from, 0, to - from);
        });
        s.seg = xcb_generate_id(x_->get());
        xcb_generic_error_t* err = xcb_request_check(x_->get(), xcb_shm_attach_checked(x_->get(), s.seg, s.shmid, 0));
        // Marked for removal now, so the memory goes away with the last user even after a crash.
        shmctl(s.shmid, IPC_RMID, nullptr);
        if (err) {
            free(err);
            shmdt(s.address);
            fail(2, "The X server cannot attach shared memory");
        }
        return s;
    }

    void release(const Segment& s) {
        std::lock_guard lock(mutex_);
        if (int(free_.size()) < kept_) {
            free_.push_back(s);
            return;
        }
        destroy(s);
    }

    void trim() {
        std::lock_guard lock(mutex_);
        for (const Segment& s : free_)
            destroy(s);
        free_.clear();
    }

private:
    void destroy(const Segment& s) {
        xcb_shm_detach(x_->get(), s.seg);
        xcb_flush(x_->get());
        shmdt(s.address);
    }

    std::shared_ptr<X11Connection> x_;
    int kept_;
    std::mutex mutex_;
    std::vector<Segment> free_;
};

X11Grabber::X11Grabber(std::shared_ptr<X11Connection> connection, int keptSegments, bool fillsAlpha,
                       std::optional<bool> watchesWindows)
    : x_(std::move(connection)), desktop_(x_), pool_(std::make_shared<Pool>(x_, keptSegments)), fillsAlpha_(fillsAlpha),
      watchesWindows_(watchesWindows.value_or(keptSegments > 0)) {
    const xcb_setup_t* setup = xcb_get_setup(x_->get());
    bool ok = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == x_->screen()->root_depth && it.data->bits_per_pixel == 32)
            ok = true;
    if (!ok || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        fail(4, "The X server's pixel format is not 32-bit little-endian");
}

X11Grabber::~X11Grabber() = default;

void X11Grabber::releaseKeptMemory() { pool_->trim(); }

BitmapRef X11Grabber::grabDrawable(quint32 drawable, const QRect& rect, bool keepsAlpha) {
    xcb_connection_t* c = x_->get();
    const int w = rect.width(), h = rect.height();
    const std::size_t bytes = std::size_t(w) * h * 4;
    // A drawable with alpha holds it premultiplied, as Render reads it; one opaque all over is
    // written as any other, without an alpha channel.
    auto alphaOf = [&](std::uint8_t* pixels) {
        if (keepsAlpha && !allOpaque(pixels, w * 4, w, h))
            return AlphaMode::premultiplied;
        if (fillsAlpha_ && !keepsAlpha)
            makeOpaque(pixels, w * 4, w, h);
        return AlphaMode::opaque;
    };
    if (x_->hasShm()) {
        Segment s = pool_->acquire(bytes);
        xcb_generic_error_t* err = nullptr;
        auto* r = xcb_shm_get_image_reply(
            c, xcb_shm_get_image(c, drawable, rect.x(), rect.y(), w, h, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, s.seg, 0), &err);
        if (!r) {
            free(err);
            pool_->release(s);
            fail(5, "Cannot read the screen's pixels");
        }
        free(r);
        const AlphaMode alpha = alphaOf(s.address);
        std::weak_ptr<Pool> pool = pool_;
        return Bitmap::wrap(w, h, w * 4, PixelFormat::BGRA, alpha, s.address, [pool, s] {
            if (auto p = pool.lock())
                p->release(s);
            else
                shmdt(s.address);
        });
    }
    xcb_generic_error_t* err = nullptr;
    auto* r = xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, rect.x(), rect.y(), w, h, ~0u), &err);
    if (!r || std::size_t(xcb_get_image_data_length(r)) < bytes) {
        free(err);
        free(r);
        fail(5, "Cannot read the screen's pixels");
    }
    std::vector<std::uint8_t> pixels(xcb_get_image_data(r), xcb_get_image_data(r) + bytes);
    free(r);
    const AlphaMode alpha = alphaOf(pixels.data());
    return Bitmap::create(w, h, w * 4, PixelFormat::BGRA, alpha, std::move(pixels));
}

bool X11Grabber::redirect(const std::vector<quint32>& frames) {
    // Automatic redirection keeps each window on screen as before and gives it a pixmap of its
    // own; the server drops it when the window or this connection goes away. The server keeps a
    // record for every request, even for a window this connection redirected before, so each
    // window is asked for once. A fresh one must first be repainted by its client.
    std::vector<quint32> fresh;
    {
        std::lock_guard lock(redirectedMutex_);
        for (quint32 f : frames)
            if (redirected_.insert(f).second)
                fresh.push_back(f);
    }
    xcb_connection_t* c = x_->get();
    std::vector<xcb_void_cookie_t> cookies;
    for (quint32 f : fresh)
        cookies.push_back(xcb_composite_redirect_window_checked(c, f, XCB_COMPOSITE_REDIRECT_AUTOMATIC));
    bool any = false;
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        xcb_generic_error_t* err = xcb_request_check(c, cookies[i]);
        if (err) {
            std::lock_guard lock(redirectedMutex_);
            redirected_.erase(fresh[i]);
        }
        any = any || !err;
        free(err);
    }
    return any;
}

quint32 X11Grabber::windowPixmap(quint32 frame) {
    xcb_connection_t* c = x_->get();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (redirect({frame})) {
            sync();
            std::this_thread::sleep_for(repaintDelay);
        }
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        xcb_generic_error_t* err = xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, frame, pixmap));
        if (!err)
            return pixmap;
        free(err);
        // The server gives a destroyed window's id to later windows, which are not redirected:
        // drop this connection's record, if any, and ask once more.
        free(xcb_request_check(c, xcb_composite_unredirect_window_checked(c, frame, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
        std::lock_guard lock(redirectedMutex_);
        redirected_.erase(frame);
    }
    return XCB_PIXMAP_NONE;
}

bool X11Grabber::readWindowPixels(quint32 frame, const QRect& rect, std::uint8_t* dst, int dstStride) {
    xcb_connection_t* c = x_->get();
    const xcb_pixmap_t pixmap = windowPixmap(frame);
    if (pixmap == XCB_PIXMAP_NONE)
        return false;
    auto* r = xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, rect.x(), rect.y(), rect.width(), rect.height(), ~0u),
        nullptr);
    xcb_free_pixmap(c, pixmap);
    const std::size_t rowBytes = std::size_t(rect.width()) * 4;
    if (!r || std::size_t(xcb_get_image_data_length(r)) < rowBytes * rect.height()) {
        free(r);
        return false;
    }
    copyRows(dst, dstStride, xcb_get_image_data(r), int(rowBytes), int(rowBytes), rect.height());
    free(r);
    return true;
}

void X11Grabber::paintBackground(std::uint8_t* pixels, int bytesPerRow, const QRect& area, const Hidden& hidden) {
    xcb_connection_t* c = x_->get();
    const QRect& region = hidden.region;
    auto at = [&](const QRect& r) {
        return pixels + std::size_t(r.y() - area.y()) * bytesPerRow + std::size_t(r.x() - area.x()) * 4;
    };
    auto copyKept = [&](const OwnWindows::Beneath& b, const QRect& r) {
        const std::uint8_t* from = b.pixels->row(r.y() - b.area.y()) + std::size_t(r.x() - b.area.x()) * 4;
        copyRows(at(r), bytesPerRow, from, b.pixels->bytesPerRow(), r.width() * 4, r.height());
    };
    // What the screen showed beneath the window as it came on, where that was the desktop's
    // background alone, is what the desktop shows there now, whoever paints its background.
    const auto& beneath = hidden.beneath;
    const bool usable = beneath && beneath->pixels && beneath->pixels->width() == beneath->area.width() &&
                        beneath->pixels->height() == beneath->area.height();
    const QRect known = usable ? beneath->area.intersected(region) : QRect();
    const QRegion background = usable ? beneath->background.intersected(known) : QRegion();
    if (background != QRegion(region)) {
        // Elsewhere the root pixmap that background setters publish; else the background's one
        // colour; else what was beneath, which may show a window gone since; black where nothing
        // is known.
        bool painted = false;
        for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
            const auto ids = x_->cardinalProperty(x_->root(), x_->atom(name), XCB_ATOM_PIXMAP);
            if (ids.empty() || painted)
                continue;
            auto* r = xcb_get_image_reply(c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, ids.front(), region.x(),
                                                           region.y(), region.width(), region.height(), ~0u),
                                          nullptr);
            const int rowBytes = region.width() * 4;
            painted = r && std::size_t(xcb_get_image_data_length(r)) >= std::size_t(rowBytes) * region.height();
            if (painted)
                copyRows(at(region), bytesPerRow, xcb_get_image_data(r), rowBytes, rowBytes, region.height());
            free(r);
        }
        // The colour also serves where the window is now, if something else moved it away from
        // what it kept (a window manager keeping it on a shrunken screen).
        if (!painted && usable && beneath->backgroundColour) {
            const std::uint32_t colour = 0xff000000u | *beneath->backgroundColour;
            for (int y = 0; y < region.height(); ++y)
                std::fill_n(reinterpret_cast<std::uint32_t*>(at(region) + std::size_t(y) * bytesPerRow), region.width(), colour);
            painted = true;
        }
        if (!painted) {
            for (int y = 0; y < region.height(); ++y)
                std::memset(at(region) + std::size_t(y) * bytesPerRow, 0, std::size_t(region.width()) * 4);
            if (!known.isEmpty())
                copyKept(*beneath, known);
        }
    }
    for (const QRect& r : background)
        copyKept(*beneath, r);
}

bool X11Grabber::repaintRegion(std::uint8_t* pixels, int bytesPerRow, const QRect& area, const Hidden& hidden,
                               const std::vector<const X11Desktop::TopLevel*>& shown) {
    const QRect& region = hidden.region;
    paintBackground(pixels, bytesPerRow, area, hidden);

    bool read = true;
    for (const X11Desktop::TopLevel* t : shown) {
        const QRect part = t->geometry.intersected(region);
        if (part.isEmpty())
            continue;
        std::uint8_t* dst = pixels + std::size_t(part.y() - area.y()) * bytesPerRow + std::size_t(part.x() - area.x()) * 4;
        read = readWindowPixels(t->frame, part.translated(-t->geometry.topLeft()), dst, bytesPerRow) && read;
    }
    return read;
}

const std::vector<X11Desktop::TopLevel>& X11Grabber::currentWindows() {
    if (!watch_ || watch_->changed() || windowsStale_) {
        windowsStale_ = false;
        windows_ = desktop_.topLevels(false);
        ++windowListings_;
    }
    return windows_;
}

BitmapRef X11Grabber::grabArea(const QRect& area, const std::vector<qint32>& excludedPids,
                               const std::vector<quint32>& keptWindows, bool showCursor, const QRect& bounds) {
    if (area.isEmpty())
        fail(6, "The capture area is empty");
    const QRect rootRect(QPoint(0, 0), x_->rootSize());
    const QRect inside = area.intersected(bounds.isNull() ? rootRect : rootRect.intersected(bounds));
    if (inside.isEmpty())
        fail(6, "The capture area is outside the screen");

    auto ours = [&](const X11Desktop::TopLevel& t) {
        return std::find(excludedPids.begin(), excludedPids.end(), t.pid) != excludedPids.end() &&
               std::find(keptWindows.begin(), keptWindows.end(), t.client) == keptWindows.end();
    };
    auto addHidden = [&](const std::vector<X11Desktop::TopLevel>& tops,
                         const std::unordered_map<quint32, OwnWindows::Beneath>& kept, std::vector<Hidden>& hidden) {
        for (const auto& t : tops) {
            if (!ours(t) || !t.viewable)
                continue;
            const auto it = kept.find(t.client);
            std::optional<OwnWindows::Beneath> beneath;
            if (it != kept.end())
                beneath = it->second;
            // A window of ours on its way (a card sliding in) may still show, through a
            // compositing manager, where it was a moment ago.
            QRect covered = t.geometry;
            if (beneath && beneath->moving)
                covered = covered.united(beneath->area);
            if (covered.intersects(inside))
                hidden.push_back({covered.intersected(inside), t.client, std::move(beneath)});
        }
        // A compositing manager may still show, for a moment, a window of ours that the server has
        // just taken off screen.
        bool compositor = false, asked = false;
        for (const auto& [id, b] : kept) {
            if (!b.hidden || !b.area.intersects(inside) ||
                std::any_of(hidden.begin(), hidden.end(), [&, id = id](const Hidden& h) { return h.window == id; }))
                continue;
            if (!asked)
                compositor = x_->compositorRunning(), asked = true;
            if (compositor)
                hidden.push_back({b.area.intersected(inside), id, b});
        }
    };

    std::unique_lock watchLock(watchMutex_, std::defer_lock);
    BitmapRef grabbed;
    std::vector<Hidden> hidden;
    if (excludedPids.empty()) {
        grabbed = grabDrawable(x_->root(), inside);
    } else {
        watchLock.lock();
        if (!watch_ && watchesWindows_)
            watch_ = std::make_unique<X11WindowWatch>();
        for (int attempt = 0;; ++attempt) {
            hidden.clear();
            // Read before the listing: a window hidden since is no longer listed on screen, one
            // listed on screen still has what it keeps here.
            auto kept = OwnWindows::all();
            addHidden(currentWindows(), kept, hidden);
            grabbed = grabDrawable(x_->root(), inside);
            // The server made every change it reports here before it answered the grab: with none
            // since the listing, the list shows the windows as they were grabbed.
            if (!watch_ || !watch_->changedUpToNow())
                break;
            windowsStale_ = true;
            if (attempt == 2) {
                // Still changing: leave out where our windows were before the grab and after it.
                kept = OwnWindows::all();
                addHidden(currentWindows(), kept, hidden);
                break;
            }
        }
    }
    // The pixels are ours until the bitmap is handed out.
    auto* pixels = const_cast<std::uint8_t*>(grabbed->data());
    const int stride = grabbed->bytesPerRow();

    if (!hidden.empty() && x_->hasComposite()) {
        std::vector<const X11Desktop::TopLevel*> shown;
        std::vector<quint32> frames;
        for (const auto& t : windows_) {
            if (ours(t) || !t.viewable)
                continue;
            if (std::any_of(hidden.begin(), hidden.end(), [&](const Hidden& h) { return h.region.intersects(t.geometry); })) {
                shown.push_back(&t);
                frames.push_back(t.frame);
            }
        }
        if (redirect(frames)) {
            sync();
            std::this_thread::sleep_for(repaintDelay);
        }
        for (const Hidden& h : hidden) {
            const QRect& r = h.region;
            // A window that cannot be read is likely gone: list them again next time.
            if (!repaintRegion(pixels, stride, inside, h, shown))
                windowsStale_ = true;
            if (fillsAlpha_)
                makeOpaque(pixels + std::size_t(r.y() - inside.y()) * stride + std::size_t(r.x() - inside.x()) * 4, stride,
                           r.width(), r.height());
        }
    }
    if (showCursor)
        drawCursor(pixels, stride, inside);

    if (inside == area)
        return grabbed;
    // Parts of the area beyond the screen or the bounds stay black.
    std::vector<std::uint8_t> canvas(std::size_t(area.width()) * area.height() * 4, 0);
    for (std::size_t i = 3; i < canvas.size(); i += 4)
        canvas[i] = 0xff;
    copyRows(canvas.data() + std::size_t(inside.y() - area.y()) * area.width() * 4 + std::size_t(inside.x() - area.x()) * 4,
             area.width() * 4, grabbed->data(), stride, inside.width() * 4, inside.height());
    return Bitmap::create(area.width(), area.height(), area.width() * 4, PixelFormat::BGRA, AlphaMode::opaque,
                          std::move(canvas));
}

BitmapRef X11Grabber::grabWindow(quint32 window, bool showCursor) {
    const auto top = desktop_.topLevel(window);
    if (!top || !top->viewable)
        fail(7, "The window is not on screen");
    const QRect geometry = top->geometry;
    if (!x_->hasComposite())
        return grabArea(geometry, {}, {}, showCursor);

    xcb_connection_t* c = x_->get();
    const xcb_pixmap_t pixmap = windowPixmap(top->frame);
    if (pixmap == XCB_PIXMAP_NONE)
        fail(8, "Cannot read the window's pixels");
    BitmapRef bitmap;
    try {
        // A window of a 32-bit visual (a toolkit's see-through margin and shadow round it) keeps
        // its alpha: the window alone, with nothing behind it. Colour-only consumers skip it.
        bitmap = grabDrawable(pixmap, QRect(QPoint(0, 0), geometry.size()), fillsAlpha_ && top->depth == 32);
    } catch (const PlatformError&) {
        xcb_free_pixmap(c, pixmap);
        fail(8, "Cannot read the window's pixels");
    }
    xcb_free_pixmap(c, pixmap);
    if (showCursor)
        drawCursor(const_cast<std::uint8_t*>(bitmap->data()), bitmap->bytesPerRow(), geometry);
    return bitmap;
}

void X11Grabber::sync() {
    free(xcb_get_input_focus_reply(x_->get(), xcb_get_input_focus(x_->get()), nullptr));
}

void X11Grabber::drawCursor(std::uint8_t* pixels, int bytesPerRow, const QRect& area) {
    if (!x_->hasXFixes())
        return;
    auto* r = xcb_xfixes_get_cursor_image_reply(x_->get(), xcb_xfixes_get_cursor_image(x_->get()), nullptr);
    if (!r)
        return;
    const std::uint32_t* src = xcb_xfixes_get_cursor_image_cursor_image(r);
    const QRect cursor(r->x - r->xhot, r->y - r->yhot, r->width, r->height);
    const QRect part = cursor.intersected(area);
    for (int y = part.top(); y <= part.bottom() && !part.isEmpty(); ++y) {
        auto* dst = reinterpret_cast<std::uint32_t*>(pixels + std::size_t(y - area.y()) * bytesPerRow) - area.x();
        const std::uint32_t* s = src + std::size_t(y - cursor.y()) * cursor.width() - cursor.x();
        for (int x = part.left(); x <= part.right(); ++x) {
            // Premultiplied ARGB over opaque BGRA.
            const std::uint32_t a = s[x] >> 24, inv = 255 - a, d = dst[x];
            auto ch = [&](int shift) { return ((s[x] >> shift) & 0xff) + (((d >> shift) & 0xff) * inv + 127) / 255; };
            dst[x] = 0xff000000u | (std::min(ch(16), 255u) << 16) | (std::min(ch(8), 255u) << 8) | std::min(ch(0), 255u);
        }
    }
    free(r);
}

BitmapRef X11Grabber::scaled(const BitmapRef& bitmap, QSize size) {
    if (!bitmap || size.isEmpty() || (bitmap->width() == size.width() && bitmap->height() == size.height()))
        return bitmap;
    const QImage view = bitmap->asQImage();
    auto out = std::make_shared<QImage>(view.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    if (out->isNull())
        fail(12, "Out of memory while resampling the picture");
    if (out->format() != view.format())
        out->convertTo(view.format());
    // The bitmap keeps the resampled image alive instead of copying it.
    return Bitmap::wrap(out->width(), out->height(), int(out->bytesPerLine()), bitmap->format(), bitmap->alpha(),
                        out->constBits(), [out] {});
}

}  // namespace platform
