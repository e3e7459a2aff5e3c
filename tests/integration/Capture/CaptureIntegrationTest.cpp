#include "Features/Capture/CaptureManager.h"
#include "Features/Capture/WindowEnumerator.h"
#include "Features/Thumbnail/ThumbnailWindowController.h"
#include "Extensions/ScreenExt.h"
#include "Services/FlashManager.h"
#include "Services/PersistenceManager.h"
#include "platform/capture/OwnWindows.h"
#include "platform/capture/RunningApplication.h"
#include "platform/capture/ScreenshotService.h"
#include "platform/capture/ShareableContent.h"
#include "platform/capture/X11Connection.h"
#include "platform/capture/X11Grabber.h"
#include "platform/core/Error.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/desktop/Compositor.h"
#include "support/LiveDesktop.h"
#include "support/QuietCapture.h"
#include "support/RunTask.h"
#include "support/WaitUntil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>
#include <qcoro/qcorotimer.h>

#include <xcb/res.h>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

using namespace zentola;
using testing_support::runTask;

namespace {

constexpr QRgb red = 0xd02020, green = 0x20c040, blue = 0x2040e0;

// Plain coloured windows owned by another process, there until it ends.
struct TestWindows : QProcess {
    std::vector<quint32> ids;
    explicit TestWindows(const QStringList& specs) {
        start(CAPTURE_TEST_WINDOW, specs);
        if (waitForStarted(5000) && waitForReadyRead(10000))
            for (const QString& id : QString::fromLatin1(readLine()).split(' ', Qt::SkipEmptyParts))
                ids.push_back(id.trimmed().toUInt());
        // Missing ones fail the test and stay 0, no window.
        EXPECT_EQ(ids.size(), std::size_t(specs.size())) << "test windows";
        ids.resize(specs.size());
    }
    ~TestWindows() override {
        closeWriteChannel();
        if (!waitForFinished(5000))
            kill(), waitForFinished(1000);
    }
};

QString spec(QRect r, QRgb colour) {
    return QStringLiteral("%1,%2,%3,%4,%5").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).arg(colour, 6, 16, QChar('0'));
}

QRgb pixel(const platform::BitmapRef& b, int x, int y) {
    const std::uint8_t* p = b->row(y) + std::size_t(x) * 4;
    return qRgb(p[2], p[1], p[0]) & 0xffffff;
}

// The number of pixels of the rectangle without the colour (or, with none, unlike the other bitmap).
int unlike(const platform::BitmapRef& b, QRect r, QRgb colour, const platform::BitmapRef& other = nullptr) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += pixel(b, x, y) != (other ? pixel(other, x, y) : colour);
    return n;
}
bool filled(const platform::BitmapRef& b, QRect r, QRgb colour) { return unlike(b, r, colour) == 0; }

platform::ShareableDisplay displayNamed(const QString& name) {
    const auto content = runTask(platform::ShareableContent::get(false, true));
    for (const auto& s : platform::Screen::screens())
        for (const auto& d : content.displays)
            if (s->name() == name && ScreenExt::displayID(s) == d.displayID)
                return d;
    ADD_FAILURE() << "no display " << name.toStdString();
    return {};
}

const std::vector<platform::RunningApplication> ours{{platform::RunningApplication::ownBundleIdentifier(), "", qint32(getpid())}};

platform::BitmapRef grab(const platform::ContentFilter& filter, QRectF source = {}, qint64 w = 0, qint64 h = 0,
                         bool cursor = false) {
    platform::StreamConfiguration config;
    config.width = w;
    config.height = h;
    config.sourceRect = source;
    config.showsCursor = cursor;
    return runTask(platform::ScreenshotService::captureImage(filter, config));
}
platform::BitmapRef grabA(bool leavingOursOut = true) {
    return grab(platform::ContentFilter::forDisplay(displayNamed("A"), leavingOursOut ? ours : decltype(ours){}, {}));
}

// Returns once the server has carried the requests out.
void sync(xcb_connection_t* c) { free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }

// A plain window that no window manager handles, not yet mapped.
xcb_window_t plainWindow(platform::X11Connection& x, QRect r, QRgb colour, xcb_window_t parent = XCB_NONE) {
    const xcb_window_t w = xcb_generate_id(x.get());
    const uint32_t values[] = {colour, 1};
    xcb_create_window(x.get(), XCB_COPY_FROM_PARENT, w, parent ? parent : x.root(), int16_t(r.x()), int16_t(r.y()),
                      uint16_t(r.width()), uint16_t(r.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, x.screen()->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    return w;
}

}  // namespace

TEST(CaptureIntegration, DisplayAndRectangleGrabsShowTheScreen_PastTheDisplayIsBlack_TheCursorOnlyWhenAsked) {
    // Red on display A's right edge, blue at B's left edge (B starts at x = 1920), white under the pointer.
    TestWindows windows({spec(QRect(1800, 500, 120, 100), red), spec(QRect(1920, 200, 300, 400), blue),
                         spec(QRect(600, 600, 200, 200), 0xffffff)});
    const auto onA = platform::ContentFilter::forDisplay(displayNamed("A"), {}, {});
    const auto a = grab(onA);
    ASSERT_TRUE(a->width() == 1920 && a->height() == 1080);
    EXPECT_TRUE(filled(a, QRect(1800, 500, 120, 100), red) && pixel(a, 1799, 499) != red);
    // A rectangle in B's own points, at its own size or another.
    const auto b = platform::ContentFilter::forDisplay(displayNamed("B"), {}, {});
    const auto exact = grab(b, QRectF(10, 210, 200, 100), 200, 100);
    EXPECT_TRUE(exact->width() == 200 && filled(exact, QRect(0, 0, 200, 100), blue));
    const auto doubled = grab(b, QRectF(0, 190, 100, 50), 200, 100);
    EXPECT_TRUE(doubled->width() == 200 && doubled->height() == 100 && filled(doubled, QRect(4, 24, 190, 70), blue) &&
                pixel(doubled, 2, 2) != blue);
    const auto past = grab(onA, QRectF(1850, 520, 140, 60), 140, 60);
    EXPECT_TRUE(filled(past, QRect(0, 0, 70, 60), red) && filled(past, QRect(70, 0, 70, 60), 0));

    ASSERT_EQ(QProcess::execute("xdotool", {"mousemove", "700", "700"}), 0);
    EXPECT_TRUE(filled(grab(onA, QRectF(600, 600, 200, 200)), QRect(0, 0, 200, 200), 0xffffff));
    const auto with = grab(onA, QRectF(600, 600, 200, 200), 0, 0, true);
    EXPECT_TRUE(!filled(with, QRect(80, 80, 40, 40), 0xffffff) && filled(with, QRect(0, 0, 40, 40), 0xffffff) &&
                filled(with, QRect(160, 160, 40, 40), 0xffffff));
}

TEST(CaptureIntegration, AWindowGrabIsTheWindowAloneWithItsFrameEvenWhenCovered) {
    TestWindows windows({spec(QRect(300, 300, 200, 160), red), spec(QRect(350, 350, 300, 300), green)});
    const auto content = runTask(platform::ShareableContent::get(false, true));
    auto it = std::find_if(content.windows.begin(), content.windows.end(), [&](const auto& w) { return w.windowID == windows.ids[0]; });
    ASSERT_NE(it, content.windows.end());
    EXPECT_TRUE(it->frame == QRectF(300, 300, 200, 160) && it->owningApplication->processID == windows.processId());
    const auto shot = grab(platform::ContentFilter::forWindow(*it));
    EXPECT_TRUE(shot->width() == 200 && filled(shot, QRect(0, 0, 200, 160), red) && pixel(grabA(), 450, 450) == green);

    // A window manager's frame (green) holding the application's window (red) and a decoration (blue).
    auto x = std::make_shared<platform::X11Connection>();
    xcb_connection_t* c = x->get();
    const xcb_window_t frame = plainWindow(*x, QRect(700, 300, 300, 200), green);
    const xcb_window_t client = plainWindow(*x, QRect(10, 20, 200, 100), red, frame),
                       decoration = plainWindow(*x, QRect(250, 0, 40, 20), blue, frame);
    const uint32_t normalState[] = {1, 0};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, client, x->atom("WM_STATE"), x->atom("WM_STATE"), 32, 2, normalState);
    xcb_map_subwindows(c, frame);
    xcb_map_window(c, frame);
    sync(c);
    platform::X11Grabber grabber(x);
    const auto framed = grabber.grabWindow(client);
    EXPECT_TRUE(framed->width() == 300 && filled(framed, QRect(10, 20, 200, 100), red) && filled(framed, QRect(0, 130, 300, 70), green));
    // Neither a decoration nor a window that does not exist is a window to grab.
    for (xcb_window_t none : {decoration, client + 1000, x->root()})
        EXPECT_THROW(grabber.grabWindow(none), platform::PlatformError);
    xcb_destroy_window(c, frame);
    xcb_flush(c);
}

TEST(CaptureIntegration, TheWindowListNamesOtherProcessesWindowsFrontToBackInTheWindowManagersOrder) {
    TestWindows windows({spec(QRect(40, 60, 400, 300), red), spec(QRect(600, 60, 120, 90), blue),
                         spec(QRect(900, 60, 40, 300), green)});
    QWidget own(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    own.setGeometry(1000, 500, 300, 300);
    own.show();
    QApplication::processEvents();
    std::vector<quint32> ids;
    for (const auto& w : WindowEnumerator::shared().getWindows()) {
        EXPECT_NE(w.ownerPID, qint32(getpid()));
        if (w.ownerPID == windows.processId())
            ids.push_back(w.id);
        EXPECT_TRUE(w.id != windows.ids[0] || (w.frame == QRectF(40, 60, 400, 300) && w.title == "Test window 1" &&
                                               w.ownerName == "capture_test_wi" && w.layer == 0 && w.isOnScreen));  // the kernel's process name
    }
    // The last mapped is in front; the 40-point-wide one is too small.
    EXPECT_EQ(ids, (std::vector<quint32>{windows.ids[1], windows.ids[0]}));

    // A window manager stacks them 3, 1, 2 from the bottom and does not manage 4; 3 is a dock.
    TestWindows managed({spec(QRect(10, 10, 100, 100), red), spec(QRect(20, 20, 100, 100), green),
                         spec(QRect(30, 30, 100, 100), blue) + ",d", spec(QRect(40, 40, 100, 100), red)});
    platform::X11Connection x;
    const xcb_atom_t stacking = x.atom("_NET_CLIENT_LIST_STACKING");
    const quint32 order[] = {managed.ids[2], managed.ids[0], managed.ids[1]};
    xcb_change_property(x.get(), XCB_PROP_MODE_REPLACE, x.root(), stacking, XCB_ATOM_WINDOW, 32, 3, order);
    sync(x.get());
    std::vector<std::pair<quint32, int>> stacked;
    for (const auto& w : WindowEnumerator::shared().getWindows())
        if (w.ownerPID == managed.processId())
            stacked.emplace_back(w.id, w.layer);
    xcb_delete_property(x.get(), x.root(), stacking);
    sync(x.get());
    EXPECT_EQ(stacked, (std::vector<std::pair<quint32, int>>{{managed.ids[2], 20}, {managed.ids[1], 0}, {managed.ids[0], 0}}));
}

TEST(CaptureIntegration, TheWorkflowSavesTheSecondDisplayAndAWindow) {
    TestWindows windows({spec(QRect(2000, 200, 300, 100), blue), spec(QRect(200, 700, 160, 120), red)});
    testing_support::QuietCapture capture;
    CaptureManager& manager = capture.manager;
    std::vector<CapturedImage>& shown = capture.shown;
    const auto b = ScreenExt::screenWithDisplayID(displayNamed("B").displayID);
    runTask(manager.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, b));
    runTask(manager.performCaptureWorkflow(CaptureMode::window, std::nullopt,
                                           WindowInfo{windows.ids[1], {}, {}, 0, QRectF(200, 700, 160, 120), 0, true}, b));
    ASSERT_TRUE(shown.size() == 2 && shown[0].fileURL && shown[1].fileURL);
    const QImage screen(shown[0].fileURL->toLocalFile()), window(shown[1].fileURL->toLocalFile());
    EXPECT_TRUE(screen.size() == QSize(1920, 1080) && (screen.pixel(230, 250) & 0xffffff) == blue);
    EXPECT_TRUE(window.size() == QSize(320, 240) && (window.pixel(160, 120) & 0xffffff) == red);
}

// A window of a 32-bit visual with a see-through margin and a shadow, as toolkits that draw their
// own decorations make it, captured in window mode: PNG keeps its alpha, JPEG shows it over white as
// image viewers do; a display grab stays opaque. With a compositing manager and without one.
class SeeThroughWindow : public testing::TestWithParam<bool> {
protected:
    QProcess compositor;
    void SetUp() override {
        ASSERT_FALSE(platform::Compositor::isRunning());
        if (!GetParam())
            return;
        compositor.start("xcompmgr", {});
        ASSERT_TRUE(waitUntil([] { return platform::Compositor::isRunning(); }));
    }
    void TearDown() override {
        compositor.terminate();
        compositor.waitForFinished(3000);
        EXPECT_TRUE(waitUntil([] { return !platform::Compositor::isRunning(); }));
    }
};

TEST_P(SeeThroughWindow, InWindowModePngKeepsItsAlphaAndJpegShowsItOverWhite) {
    // Clear for 20 pixels in from its edges, then 20 of black at half alpha, then opaque red.
    TestWindows windows({spec(QRect(300, 300, 240, 200), red) + ",s"});
    testing_support::QuietCapture capture;
    const WindowInfo window{windows.ids[0], {}, {}, 0, QRectF(300, 300, 240, 200), 0, true};
    QImage png, jpeg;
    for (auto [format, image] : {std::pair{PersistenceManager::ImageFormat::png, &png}, {PersistenceManager::ImageFormat::jpeg, &jpeg}}) {
        capture.settings.setSaveFormat(format);
        runTask(capture.manager.performCaptureWorkflow(CaptureMode::window, std::nullopt, window, nullptr));
        ASSERT_TRUE(capture.shown.back().fileURL);
        ASSERT_TRUE(image->load(capture.shown.back().fileURL->toLocalFile()));
    }
    // Twice the window's size: its clear margin, its shadow, its inside.
    const QPoint clear(10, 10), shadow(60, 200), inside(240, 200);
    ASSERT_EQ(png.size(), QSize(480, 400));
    EXPECT_TRUE(png.hasAlphaChannel());
    EXPECT_EQ(qAlpha(png.pixel(clear)), 0);
    EXPECT_NEAR(qAlpha(png.pixel(shadow)), 128, 2);
    EXPECT_EQ(png.pixel(shadow) & 0xffffff, 0u) << "black, not darkened twice";
    EXPECT_EQ(png.pixel(inside), qRgba(qRed(red), qGreen(red), qBlue(red), 255));

    auto near = [](QRgb actual, QRgb expected, int tolerance) {
        return std::abs(qRed(actual) - qRed(expected)) <= tolerance && std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
               std::abs(qBlue(actual) - qBlue(expected)) <= tolerance;
    };
    ASSERT_EQ(jpeg.size(), QSize(480, 400));
    EXPECT_TRUE(near(jpeg.pixel(clear), qRgb(255, 255, 255), 4)) << std::hex << jpeg.pixel(clear);
    EXPECT_TRUE(near(jpeg.pixel(shadow), qRgb(127, 127, 127), 6)) << std::hex << jpeg.pixel(shadow);
    EXPECT_TRUE(near(jpeg.pixel(inside), red, 12)) << std::hex << jpeg.pixel(inside);

    // The screen itself is opaque, whatever blends it.
    const auto screen = grabA();
    EXPECT_EQ(screen->alpha(), platform::AlphaMode::opaque);
    int seeThrough = 0;
    for (int y = 300; y < 500; ++y)
        for (int x = 300; x < 540; ++x)
            seeThrough += screen->row(y)[x * 4 + 3] != 0xff;
    EXPECT_EQ(seeThrough, 0);
}

INSTANTIATE_TEST_SUITE_P(Desktops, SeeThroughWindow, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "composited" : "bare"; });

TEST(X11Grabber, OurWindowsAreLeftOutWhereverTheyGoAndWhateverIsAboveThem_WithNothingLeftOnTheServer) {
    TestWindows windows({spec(QRect(400, 400, 400, 300), red)});
    auto x = std::make_shared<platform::X11Connection>();
    platform::X11Grabber grabber(x, 4), oneOff(x), colourOnly(x, 0, false);
    const std::vector<qint32> pid{qint32(getpid())};
    const QRect area(300, 300, 600, 500), redInArea(100, 100, 400, 300);
    const auto before = grabber.grabArea(area, pid);
    ASSERT_TRUE(filled(before, redInArea, red));
    // Frames with nothing changed between them do not list the windows again.
    const auto listings = grabber.windowListings();
    EXPECT_TRUE(unlike(grabber.grabArea(area, pid), area.translated(-area.topLeft()), 0, before) == 0 && grabber.windowListings() == listings);
    // Each change right before the next frame, with nothing else in between.
    // A panel of ours on a connection of its own, as the app's windows are.
    platform::X11Connection own;
    const xcb_window_t panel = plainWindow(own, QRect(450, 450, 120, 80), green);
    xcb_map_window(own.get(), panel);
    for (QPoint to : {QPoint(450, 450), QPoint(600, 500), QPoint(400, 420), QPoint(670, 610)}) {
        const uint32_t at[] = {uint32_t(to.x()), uint32_t(to.y())};
        xcb_configure_window(own.get(), panel, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, at);
        sync(own.get());
        for (platform::X11Grabber* g : {&grabber, &oneOff, &colourOnly})
            EXPECT_TRUE(filled(g->grabArea(area, pid), redInArea, red)) << to.x() << "," << to.y();
    }
    xcb_unmap_window(own.get(), panel);
    sync(own.get());
    EXPECT_EQ(unlike(grabber.grabArea(area, pid), area.translated(-area.topLeft()), 0, before), 0);
    // Without leaving ours out, the screen does show it; another window mapped above ours shows.
    xcb_map_window(own.get(), panel);
    sync(own.get());
    EXPECT_TRUE(filled(grabber.grabArea(area), QRect(370, 310, 120, 80), green));
    TestWindows above({spec(QRect(700, 620, 40, 40), blue)});
    const auto frame = grabber.grabArea(area, pid);
    EXPECT_TRUE(filled(frame, QRect(400, 320, 40, 40), blue) && filled(frame, QRect(370, 310, 20, 10), red));
    // Every pixel opaque, resampled too (to just the size asked, outliving its source), and the
    // server keeps nothing for repeated grabs.
    const auto resampled = platform::X11Grabber::scaled(grabber.grabWindow(windows.ids[0]), QSize(801, 603));
    EXPECT_TRUE(resampled->width() == 801 && resampled->height() == 603 && filled(resampled, QRect(0, 0, 801, 603), red));
    for (const auto& b : {frame, resampled})
        for (int y = 0; y < b->height(); ++y)
            for (int i = 0; i < b->width(); ++i)
                ASSERT_EQ(b->row(y)[i * 4 + 3], 0xff);
    auto resources = [&] {
        auto* r = xcb_res_query_client_resources_reply(
            x->get(), xcb_res_query_client_resources(x->get(), xcb_get_setup(x->get())->resource_id_base), nullptr);
        int total = 0;
        for (auto it = xcb_res_query_client_resources_types_iterator(r); it.rem; xcb_res_type_next(&it))
            total += int(it.data->count);
        free(r);
        return total;
    };
    int afterFirst = 0;
    for (int i = 0; i < 5; ++i) {
        grabber.grabWindow(windows.ids[0]);
        oneOff.grabArea(area, pid);
        afterFirst = i == 0 ? resources() : afterFirst;
    }
    EXPECT_EQ(resources(), afterFirst);
    // The shared memory kept for the next grabs goes back; what live bitmaps use stays.
    auto attached = [] {
        QFile maps("/proc/self/maps");
        return maps.open(QIODevice::ReadOnly) ? int(maps.readAll().count("SYSV")) : -1;
    };
    const int kept = attached();
    grabber.releaseKeptMemory();
    EXPECT_LT(attached(), kept);
    EXPECT_EQ(frame->row(0)[3], 0xff);
    EXPECT_EQ(grabber.grabArea(area, pid)->width(), area.width()) << "and it grabs as before";
    // As when the server goes away: errors, not crashes or hangs.
    ::shutdown(xcb_get_file_descriptor(x->get()), SHUT_RDWR);
    EXPECT_THROW(grabber.grabArea(area), platform::PlatformError);
    EXPECT_THROW(grabber.grabArea(area, pid), platform::PlatformError);
    EXPECT_THROW(grabber.grabWindow(windows.ids[0]), platform::PlatformError);
}

TEST(X11Grabber, GrabsFollowTheScreenAsMonitorsAreMovedAndTurnedOffWhileTheyLive) {
    QTemporaryDir dir;
    live::OwnXorgServer server(dir.path());
    ASSERT_TRUE(server.start());
    auto x = std::make_shared<platform::X11Connection>();
    // One grabber that lists the windows at each grab, one that watches them.
    platform::X11Grabber oneOff(x), watching(x, 2);
    const std::vector<qint32> pid{qint32(getpid())};
    TestWindows windows({spec(QRect(3900, 100, 300, 200), red)});
    const xcb_window_t window = windows.ids[0];
    auto rootWidth = [&] {
        auto* r = xcb_get_geometry_reply(x->get(), xcb_get_geometry(x->get(), x->root()), nullptr);
        const int w = r ? r->width : 0;
        free(r);
        return w;
    };
    ASSERT_EQ(rootWidth(), 3840);

    // The right monitor moves past where the screen ended: the screen grows under the window.
    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY1", "--pos", "3840x0"}));
    ASSERT_EQ(rootWidth(), 5760);
    const QRect moved(3840, 0, 1920, 1080), windowInMoved(60, 100, 300, 200);
    for (platform::X11Grabber* g : {&oneOff, &watching}) {
        EXPECT_TRUE(filled(g->grabArea(moved), windowInMoved, red));
        EXPECT_TRUE(filled(g->grabArea(moved, pid), windowInMoved, red));
    }

    // Turned off: the screen shrinks to the left monitor, and what lay beyond it is black.
    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY1", "--off"}));
    ASSERT_EQ(rootWidth(), 1920);
    for (platform::X11Grabber* g : {&oneOff, &watching}) {
        const auto across = g->grabArea(QRect(1800, 0, 240, 100), pid);
        EXPECT_TRUE(filled(across, QRect(120, 0, 120, 100), 0));
        EXPECT_THROW(g->grabArea(moved), platform::PlatformError);
    }

    // On again, left of the other: the screen grows back.
    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY1", "--mode", "1920x1080", "--pos", "1920x0"}));
    ASSERT_EQ(rootWidth(), 3840);
    const uint32_t at[] = {2000, 100};
    xcb_configure_window(x->get(), window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, at);
    sync(x->get());
    for (platform::X11Grabber* g : {&oneOff, &watching})
        EXPECT_TRUE(filled(g->grabArea(QRect(1920, 0, 1920, 1080), pid), QRect(80, 100, 300, 200), red));
}

// Whatever sets the desktop's background, and with or without a compositing manager, a capture
// shows beneath our card and our flash what the desktop itself shows there.
enum class Background { solid, unpublishedPixmap, publishedPixmap };

std::string backgroundName(const testing::TestParamInfo<std::tuple<Background, bool>>& info) {
    static const char* const names[] = {"solid", "unpublishedPixmap", "publishedPixmap"};
    return std::string(names[int(std::get<0>(info.param))]) + (std::get<1>(info.param) ? "_composited" : "_bare");
}

class BeneathOurWindows : public testing::TestWithParam<std::tuple<Background, bool>> {
protected:
    platform::X11Connection x;
    xcb_pixmap_t pixmap = 0;
    QProcess compositor;

    void SetUp() override {
        const auto [background, composited] = GetParam();
        if (background == Background::solid) {
            ASSERT_EQ(QProcess::execute("xsetroot", {"-solid", "#3366aa"}), 0);
        } else {
            // Stripes a tile apart, so a background painted at the wrong place shows.
            const QSize size = background == Background::publishedPixmap ? QSize(3840, 1080) : QSize(64, 48);
            pixmap = xcb_generate_id(x.get());
            xcb_create_pixmap(x.get(), x.screen()->root_depth, pixmap, x.root(), uint16_t(size.width()), uint16_t(size.height()));
            const xcb_gcontext_t gc = xcb_generate_id(x.get());
            for (int stripe = 0; stripe * 16 < size.height(); ++stripe) {
                const uint32_t colour = stripe % 2 ? 0x804020 : 0x20a0c0 + stripe;
                xcb_create_gc(x.get(), gc, pixmap, XCB_GC_FOREGROUND, &colour);
                const xcb_rectangle_t band{0, int16_t(stripe * 16), uint16_t(size.width()), 16};
                xcb_poly_fill_rectangle(x.get(), pixmap, gc, 1, &band);
                xcb_free_gc(x.get(), gc);
            }
            xcb_change_window_attributes(x.get(), x.root(), XCB_CW_BACK_PIXMAP, &pixmap);
            xcb_clear_area(x.get(), 0, x.root(), 0, 0, 0, 0);
            if (background == Background::publishedPixmap)
                for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"})
                    xcb_change_property(x.get(), XCB_PROP_MODE_REPLACE, x.root(), x.atom(name), XCB_ATOM_PIXMAP, 32, 1, &pixmap);
            sync(x.get());
        }
        if (composited) {
            const platform::BitmapRef served = grabA(false);
            compositor.start("xcompmgr", {});
            ASSERT_TRUE(waitUntil([] { return platform::Compositor::isRunning(); }));
            // The screen is the compositing manager's own picture once it has painted all of display A
            // afresh: a window over all of it shows, then goes. Where no background is published it
            // paints one of its own there, unlike the server's; a busy machine may take seconds.
            constexpr QRgb poke = 0xff00ff;
            const QRect whole(0, 0, 1920, 1080);
            const xcb_window_t cover = plainWindow(x, whole, poke);
            xcb_map_window(x.get(), cover);
            sync(x.get());
            ASSERT_TRUE(waitUntil([&] { return filled(grabA(false), whole, poke); }, 20000)) << "the cover shows";
            // Unmapped, not destroyed: the manager may still be painting with the window's picture.
            xcb_unmap_window(x.get(), cover);
            sync(x.get());
            const bool published = background == Background::publishedPixmap;
            ASSERT_TRUE(waitUntil(
                [&] {
                    const platform::BitmapRef now = grabA(false);
                    const int area = whole.width() * whole.height();
                    return unlike(now, whole, poke) == area && (published || unlike(now, whole, 0, served) == area);
                },
                20000))
                << "the compositing manager has painted the display";
            xcb_destroy_window(x.get(), cover);
            sync(x.get());
        }
    }
    // Shows a magenta card of a full-display capture of the screen.
    static void showCard(ThumbnailWindowController& thumbnail, platform::ScreenRef screen = platform::Screen::main()) {
        QImage card(1920, 1080, QImage::Format_RGB32);
        card.fill(Qt::magenta);
        thumbnail.show({platform::Image(platform::Bitmap::fromQImage(card)), {}, CaptureMode::screen, std::move(screen), std::nullopt});
    }
    // A flash animation that stays at each step's alpha while up holds.
    static FlashManager::Animate holdingWhile(const bool& up) {
        return [&up](FlashWindow& w, double alpha, int) -> QCoro::Task<void> {
            w.setAlpha(alpha);
            while (up)
                co_await QCoro::sleepFor(std::chrono::milliseconds(10));
        };
    }
    static bool atRest(ThumbnailWindowController& thumbnail) {
        const auto kept = platform::OwnWindows::beneath(quint32(thumbnail.window()->winId()));
        return kept && !kept->moving;
    }

    void TearDown() override {
        // What our hidden windows kept goes a moment after they hide; the next case's desktop differs.
        EXPECT_TRUE(waitUntil([] { return platform::OwnWindows::all().empty(); }));
        if (compositor.state() != QProcess::NotRunning)
            ::kill(pid_t(compositor.processId()), SIGCONT);  // in case a case stopped it
        compositor.terminate();
        compositor.waitForFinished(3000);
        for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"})
            xcb_delete_property(x.get(), x.root(), x.atom(name));
        if (pixmap)
            xcb_free_pixmap(x.get(), pixmap);
        // Carried out before the connection goes: a name left behind for a freed pixmap breaks the
        // next compositing manager.
        sync(x.get());
        QProcess::execute("xsetroot", {"-def"});
    }
};

TEST_P(BeneathOurWindows, ACaptureShowsTheDesktopBeneathTheCardAndTheFlash) {
    const platform::BitmapRef desktop = grabA();
    const QRect whole(0, 0, 1920, 1080);
    ASSERT_EQ(unlike(grabA(false), whole, 0, desktop), 0) << "the desktop stands still";

    ThumbnailWindowController thumbnail;
    showCard(thumbnail);
    // Up and painted, as the screen itself shows it.
    const QRect onScreen(1920 - 20 - 316 + 40, 1080 - 20 - 185 + 40, 236, 105);
    ASSERT_TRUE(waitUntil([&] { return unlike(grabA(false), onScreen, 0, desktop) == onScreen.width() * onScreen.height(); }));
    EXPECT_EQ(unlike(grabA(), whole, 0, desktop), 0);

    bool up = true;
    FlashManager flashes(holdingWhile(up));
    auto flash = flashes.showFlash(platform::Screen::main());
    ASSERT_TRUE(waitUntil([&] { return unlike(grabA(false), QRect(10, 10, 100, 100), 0, desktop) > 0; }));
    EXPECT_EQ(unlike(grabA(), whole, 0, desktop), 0);
    up = false;
    ASSERT_TRUE(waitUntil([&] { return flash.isReady(); }));
    thumbnail.hide();
    ASSERT_TRUE(waitUntil([&] { return !thumbnail.window()->isVisible(); }));
}

TEST_P(BeneathOurWindows, CapturesRacingTheFlashAndTheCardAsTheyGoShowTheDesktop) {
    // The flash and the card let go of what they keep as they hide, on the main thread, while a
    // grab on its own thread may have listed them on screen a moment before.
    const platform::BitmapRef desktop = grabA();
    const QRect whole(0, 0, 1920, 1080);
    ASSERT_EQ(unlike(grabA(false), whole, 0, desktop), 0) << "the desktop stands still";
    FlashManager flashes;
    for (int offset : {0, 5, 11, 17, 23, 31}) {
        auto flash = flashes.showFlash(platform::Screen::main());
        QElapsedTimer started;
        started.start();
        waitUntil([&] { return started.elapsed() >= offset; });
        for (int n = 0, last = 2; last > 0; ++n) {
            EXPECT_EQ(unlike(grabA(), whole, 0, desktop), 0) << "offset " << offset << " ms, grab " << n;
            last -= flash.isReady();
        }
    }

    ThumbnailWindowController thumbnail;
    for (int offset : {0, 5, 11, 17, 23, 31}) {
        showCard(thumbnail);
        ASSERT_TRUE(waitUntil([&] { return thumbnail.window()->isVisible(); }));
        thumbnail.hide();
        QElapsedTimer started;
        started.start();
        waitUntil([&] { return started.elapsed() >= offset; });
        for (int n = 0, last = 2; last > 0; ++n) {
            EXPECT_EQ(unlike(grabA(), whole, 0, desktop), 0) << "offset " << offset << " ms, grab " << n;
            last -= !thumbnail.window()->isVisible();
        }
    }
}

TEST_P(BeneathOurWindows, AFlashJustGoneThatTheCompositingManagerStillShowsIsLeftOut) {
    if (!std::get<1>(GetParam()))
        GTEST_SKIP() << "without a compositing manager the server's picture changes at once";
    const platform::BitmapRef desktop = grabA();
    bool up = true;
    FlashManager flashes(holdingWhile(up));
    auto flash = flashes.showFlash(platform::Screen::main());
    ASSERT_TRUE(waitUntil([&] { return unlike(grabA(false), QRect(10, 10, 100, 100), 0, desktop) > 0; }));
    // The manager falls behind: it still shows the flash once the server has taken it away.
    ::kill(pid_t(compositor.processId()), SIGSTOP);
    up = false;
    ASSERT_TRUE(waitUntil([&] { return flash.isReady(); }));
    EXPECT_GT(unlike(grabA(false), QRect(10, 10, 100, 100), 0, desktop), 0) << "the screen still shows it";
    EXPECT_EQ(unlike(grabA(), QRect(0, 0, 1920, 1080), 0, desktop), 0);
    ::kill(pid_t(compositor.processId()), SIGCONT);
}

TEST_P(BeneathOurWindows, WindowsClosedBesideAndBeneathTheRestingCardAreGoneFromCaptures) {
    const auto [background, composited] = GetParam();
    const platform::BitmapRef desktopA = grabA();
    const auto displayB = platform::ContentFilter::forDisplay(displayNamed("B"), ours, {});
    const platform::BitmapRef desktopB = grab(displayB);
    const QRect wholeA(0, 0, 1920, 1080), besideInB(0, 800, 400, 280);
    // Beneath the card's place at A's bottom right, and beside it on B, along the card's way in.
    std::optional<TestWindows> windows(std::in_place, QStringList{spec(QRect(1500, 850, 300, 150), red),
                                                                  spec(QRect(1960, 880, 200, 120), green)});
    ASSERT_TRUE(waitUntil([&] { return pixel(grabA(false), 1510, 860) == red; }));

    ThumbnailWindowController thumbnail;
    showCard(thumbnail);
    // At rest at its place.
    ASSERT_TRUE(waitUntil([&] { return atRest(thumbnail); }));
    const QRect placed = thumbnail.window()->geometry();
    ASSERT_TRUE(placed.intersects(QRect(1500, 850, 300, 150)));
    windows.reset();
    ASSERT_TRUE(waitUntil([&] { return unlike(grab(platform::ContentFilter::forDisplay(displayNamed("B"), {}, {})), besideInB, 0, desktopB) == 0; }))
        << "the screen shows the windows gone";
    ASSERT_TRUE(waitUntil([&] { return pixel(grabA(false), 1510, 860) != red; }));

    EXPECT_EQ(unlike(grab(displayB), besideInB, 0, desktopB), 0) << "beside the card";
    // Without a compositing manager, a background that nobody publishes and that is not one colour
    // is known only from what the card kept, which may show a window gone since.
    if (background != Background::unpublishedPixmap || composited) {
        EXPECT_EQ(unlike(grabA(), placed, 0, desktopA), 0) << "beneath the card";
    }
    EXPECT_EQ(unlike(grabA(), QRect(1500, 850, 80, 150), 0, desktopA), 0) << "beside the card on its own display";
    thumbnail.hide();
    ASSERT_TRUE(waitUntil([&] { return !thumbnail.window()->isVisible(); }));
}

TEST_P(BeneathOurWindows, TheCardMovedByAnotherClientIsLeftOutWhereItIsNow) {
    // As a window manager keeps it on a screen that shrank: where it is now, nothing was kept.
    const auto [background, composited] = GetParam();
    if (background == Background::unpublishedPixmap && !composited)
        GTEST_SKIP() << "a picture that nobody publishes is known only where something was kept";
    const platform::BitmapRef desktop = grabA();
    ThumbnailWindowController thumbnail;
    // On B its way in starts past the screen's right edge, where nothing can be read.
    for (const QString& display : {QStringLiteral("A"), QStringLiteral("B")}) {
        const auto screen = ScreenExt::screenWithDisplayID(displayNamed(display).displayID);
        showCard(thumbnail, screen);
        ASSERT_TRUE(waitUntil([&] { return atRest(thumbnail); }));
        const uint32_t to[] = {200, 150};
        xcb_configure_window(x.get(), xcb_window_t(thumbnail.window()->winId()), XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, to);
        sync(x.get());
        const QRect there(240, 190, 200, 100);
        ASSERT_TRUE(waitUntil([&] { return unlike(grabA(false), there, 0, desktop) == there.width() * there.height(); }));
        EXPECT_EQ(unlike(grabA(), QRect(0, 0, 1920, 1080), 0, desktop), 0) << "shown on " << display.toStdString();
        thumbnail.hide();
        ASSERT_TRUE(waitUntil([&] { return !thumbnail.window()->isVisible(); }));
    }
}

INSTANTIATE_TEST_SUITE_P(Backgrounds, BeneathOurWindows,
                         testing::Combine(testing::Values(Background::solid, Background::unpublishedPixmap,
                                                          Background::publishedPixmap),
                                          testing::Bool()),
                         backgroundName);
