#include "Features/Capture/CaptureManager.h"
#include "Features/Capture/WindowEnumerator.h"
#include "Extensions/ScreenExt.h"
#include "Services/PersistenceManager.h"
#include "platform/capture/RunningApplication.h"
#include "platform/capture/ScreenshotService.h"
#include "platform/capture/ShareableContent.h"
#include "platform/capture/X11Connection.h"
#include "platform/capture/X11Grabber.h"
#include "platform/core/Error.h"
#include "platform/defaults/DefaultsStore.h"
#include "support/RunTask.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>
#include <gtest/gtest.h>

#include <xcb/res.h>

#include <sys/socket.h>
#include <unistd.h>

using namespace zentola;
using testing_support::runTask;

namespace {

constexpr QRgb red = 0xd02020, green = 0x20c040, blue = 0x2040e0;

// Plain coloured windows owned by another process.
class TestWindows {
public:
    explicit TestWindows(const QStringList& specs) {
        process_.start(CAPTURE_TEST_WINDOW, specs);
        if (!process_.waitForStarted(5000) || !process_.waitForReadyRead(10000))
            return;
        for (const QString& id : QString::fromLatin1(process_.readLine()).split(' ', Qt::SkipEmptyParts))
            ids.push_back(id.trimmed().toUInt());
    }
    ~TestWindows() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(1000);
    }
    qint64 pid() const { return process_.processId(); }
    std::vector<quint32> ids;

private:
    QProcess process_;
};

QString spec(QRect r, QRgb colour) {
    return QStringLiteral("%1,%2,%3,%4,%5").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).arg(colour, 6, 16, QChar('0'));
}

QRgb pixel(const platform::BitmapRef& b, int x, int y) {
    const std::uint8_t* p = b->row(y) + std::size_t(x) * 4;
    return qRgb(p[2], p[1], p[0]);
}

// True when every pixel of the rectangle has the colour.
bool filled(const platform::BitmapRef& b, QRect r, QRgb colour) {
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if ((pixel(b, x, y) & 0xffffff) != colour)
                return false;
    return true;
}

platform::ShareableContent content() { return runTask(platform::ShareableContent::get(false, true)); }

platform::ShareableDisplay displayNamed(const QString& name) {
    for (const auto& s : platform::Screen::screens())
        if (s->name() == name) {
            const auto id = ScreenExt::displayID(s);
            for (const auto& d : content().displays)
                if (id && d.displayID == *id)
                    return d;
        }
    ADD_FAILURE() << "no display " << name.toStdString();
    return {};
}

std::vector<platform::RunningApplication> ownApplications(const platform::ShareableContent& c) {
    std::vector<platform::RunningApplication> own;
    for (const auto& app : c.applications)
        if (app.bundleIdentifier == platform::RunningApplication::ownBundleIdentifier())
            own.push_back(app);
    return own;
}

platform::BitmapRef grab(const platform::ContentFilter& filter, QRectF source = {}, qint64 w = 0, qint64 h = 0) {
    platform::StreamConfiguration config;
    config.width = w;
    config.height = h;
    config.sourceRect = source;
    config.showsCursor = false;
    return runTask(platform::ScreenshotService::captureImage(filter, config));
}

}  // namespace

TEST(CaptureIntegration, DisplayAndRectangleGrabsShowWhatIsOnScreen) {
    // Red on display A, blue on display B (which starts at x = 1920).
    TestWindows windows({spec(QRect(100, 100, 200, 150), red), spec(QRect(2000, 200, 300, 100), blue)});
    ASSERT_EQ(windows.ids.size(), 2u);

    const auto a = grab(platform::ContentFilter::forDisplay(displayNamed("A"), {}, {}));
    ASSERT_EQ(a->width(), 1920);
    ASSERT_EQ(a->height(), 1080);
    EXPECT_TRUE(filled(a, QRect(100, 100, 200, 150), red));
    EXPECT_NE(pixel(a, 99, 99) & 0xffffff, red);
    EXPECT_NE(pixel(a, 300, 250) & 0xffffff, red);

    // A rectangle in B's own points: the blue window starts at (80, 200) there.
    const auto b = displayNamed("B");
    const auto exact = grab(platform::ContentFilter::forDisplay(b, {}, {}), QRectF(80, 200, 300, 100), 300, 100);
    ASSERT_EQ(exact->width(), 300);
    ASSERT_EQ(exact->height(), 100);
    EXPECT_TRUE(filled(exact, QRect(0, 0, 300, 100), blue));
    // Asked for another pixel size, the output has exactly that size.
    const auto doubled = grab(platform::ContentFilter::forDisplay(b, {}, {}), QRectF(70, 190, 100, 50), 200, 100);
    ASSERT_EQ(doubled->width(), 200);
    ASSERT_EQ(doubled->height(), 100);
    EXPECT_TRUE(filled(doubled, QRect(24, 24, 170, 70), blue));
    EXPECT_NE(pixel(doubled, 2, 2) & 0xffffff, blue);
}

TEST(CaptureIntegration, ARectangleReachingPastItsDisplayIsBlackThere) {
    // Red at the right edge of A, blue at the left edge of B.
    TestWindows windows({spec(QRect(1800, 500, 120, 100), red), spec(QRect(1920, 500, 100, 100), blue)});
    ASSERT_EQ(windows.ids.size(), 2u);
    const auto shot = grab(platform::ContentFilter::forDisplay(displayNamed("A"), {}, {}), QRectF(1850, 520, 140, 60), 140, 60);
    ASSERT_EQ(shot->width(), 140);
    ASSERT_EQ(shot->height(), 60);
    EXPECT_TRUE(filled(shot, QRect(0, 0, 70, 60), red));
    EXPECT_TRUE(filled(shot, QRect(70, 0, 70, 60), 0x000000));
}

TEST(CaptureIntegration, AWindowGrabShowsTheWindowAloneEvenWhenCovered) {
    TestWindows windows({spec(QRect(300, 300, 200, 160), red), spec(QRect(350, 350, 300, 300), green)});
    ASSERT_EQ(windows.ids.size(), 2u);
    const auto c = content();
    auto it = std::find_if(c.windows.begin(), c.windows.end(), [&](const auto& w) { return w.windowID == windows.ids[0]; });
    ASSERT_NE(it, c.windows.end());
    EXPECT_EQ(it->frame, QRectF(300, 300, 200, 160));
    ASSERT_TRUE(it->owningApplication);
    EXPECT_EQ(it->owningApplication->processID, windows.pid());

    const auto shot = grab(platform::ContentFilter::forWindow(*it));
    ASSERT_EQ(shot->width(), 200);
    ASSERT_EQ(shot->height(), 160);
    EXPECT_TRUE(filled(shot, QRect(0, 0, 200, 160), red));
    // The screen itself shows green over the corner.
    const auto screen = grab(platform::ContentFilter::forDisplay(displayNamed("A"), {}, {}));
    EXPECT_EQ(pixel(screen, 450, 450) & 0xffffff, green);
}

TEST(CaptureIntegration, WindowsOfThisProcessAreLeftOutOfDisplayGrabs) {
    TestWindows windows({spec(QRect(500, 500, 300, 300), red)});
    ASSERT_EQ(windows.ids.size(), 1u);
    QWidget own;
    own.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
    QPalette palette;
    palette.setColor(QPalette::Window, QColor::fromRgb(green));
    own.setPalette(palette);
    own.setAutoFillBackground(true);
    own.setGeometry(550, 550, 100, 100);
    own.show();

    // Without leaving anything out, our green square shows once it is painted.
    const auto display = displayNamed("A");
    bool shown = false;
    QElapsedTimer clock;
    clock.start();
    while (!shown && clock.elapsed() < 5000) {
        QApplication::processEvents();
        shown = filled(grab(platform::ContentFilter::forDisplay(display, {}, {})), QRect(560, 560, 80, 80), green);
        if (!shown)
            QThread::msleep(20);
    }
    ASSERT_TRUE(shown);

    const auto c = content();
    const auto own_apps = ownApplications(c);
    ASSERT_EQ(own_apps.size(), 1u);
    EXPECT_EQ(own_apps[0].processID, qint32(getpid()));
    const auto shot = grab(platform::ContentFilter::forDisplay(display, own_apps, {}));
    EXPECT_TRUE(filled(shot, QRect(500, 500, 300, 300), red));
    // Excepted windows stay even though their application is left out.
    platform::ShareableWindow kept;
    kept.windowID = quint32(own.winId());
    const auto withKept = grab(platform::ContentFilter::forDisplay(display, own_apps, {kept}));
    EXPECT_TRUE(filled(withKept, QRect(560, 560, 80, 80), green));
}

TEST(CaptureIntegration, TheWindowListNamesOtherProcessesWindowsFrontToBack) {
    TestWindows windows({spec(QRect(40, 60, 400, 300), red), spec(QRect(600, 60, 120, 90), blue),
                         spec(QRect(900, 60, 40, 300), green)});
    ASSERT_EQ(windows.ids.size(), 3u);
    QWidget own;
    own.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    own.setGeometry(1000, 500, 300, 300);
    own.show();
    QApplication::processEvents();

    const auto list = WindowEnumerator::shared().getWindows();
    std::vector<quint32> ids;
    for (const auto& w : list) {
        EXPECT_NE(w.ownerPID, qint32(getpid()));
        EXPECT_NE(w.id, quint32(own.winId()));
        if (w.ownerPID == windows.pid())
            ids.push_back(w.id);
    }
    // The last mapped is in front; the 40-point-wide one is too small.
    EXPECT_EQ(ids, (std::vector<quint32>{windows.ids[1], windows.ids[0]}));
    auto first = std::find_if(list.begin(), list.end(), [&](const auto& w) { return w.id == windows.ids[0]; });
    ASSERT_NE(first, list.end());
    EXPECT_EQ(first->frame, QRectF(40, 60, 400, 300));
    EXPECT_EQ(first->title, QStringLiteral("Test window 1"));
    EXPECT_EQ(first->ownerName, QStringLiteral("capture_test_wi"));  // the process name, as the kernel keeps it
    EXPECT_EQ(first->layer, 0);
    EXPECT_TRUE(first->isOnScreen);
}

TEST(CaptureIntegration, TheWorkflowSavesTheSecondDisplayAndAWindow) {
    TestWindows windows({spec(QRect(2000, 200, 300, 100), blue), spec(QRect(200, 700, 160, 120), red)});
    ASSERT_EQ(windows.ids.size(), 2u);
    QTemporaryDir dir;
    platform::DefaultsStore store(dir.path() + "/defaults.json");
    PersistenceManager settings(store);
    QDir().mkpath(dir.path() + "/shots");
    settings.saveScreenshotFolderAccess(QUrl::fromLocalFile(dir.path() + "/shots"));
    settings.setSaveFormat(PersistenceManager::ImageFormat::png);

    std::vector<CapturedImage> shown;
    CaptureManager::Environment e;
    e.persistence = [&]() -> PersistenceManager& { return settings; };
    e.preflightScreenCaptureAccess = [] { return true; };
    e.bundleIdentifier = [] { return platform::RunningApplication::ownBundleIdentifier(); };
    e.copyImageWithFile = [](const platform::BitmapRef&, const std::optional<QString>&) {};
    e.playShutterSound = [] {};
    e.showFlash = [](platform::ScreenRef) -> QCoro::Task<void> { co_return; };
    e.showThumbnail = [&](const CapturedImage& image) { shown.push_back(image); };
    e.now = [] { return QDateTime::currentDateTime(); };
    CaptureManager manager(std::move(e));

    platform::ScreenRef b;
    for (const auto& s : platform::Screen::screens())
        if (s->name() == "B")
            b = s;
    ASSERT_TRUE(b);
    runTask(manager.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, b));
    WindowInfo window;
    window.id = windows.ids[1];
    window.frame = QRectF(200, 700, 160, 120);
    runTask(manager.performCaptureWorkflow(CaptureMode::window, std::nullopt, window, b));

    ASSERT_EQ(shown.size(), 2u);
    ASSERT_TRUE(shown[0].fileURL && shown[1].fileURL);
    const QImage screen(shown[0].fileURL->toLocalFile());
    ASSERT_EQ(screen.size(), QSize(1920, 1080));
    EXPECT_EQ(screen.pixel(80 + 150, 200 + 50) & 0xffffff, blue);
    const QImage win(shown[1].fileURL->toLocalFile());
    ASSERT_EQ(win.size(), QSize(320, 240));
    EXPECT_EQ(win.pixel(160, 120) & 0xffffff, red);
    EXPECT_NE(shown[0].fileURL, shown[1].fileURL);
}

TEST(CaptureIntegration, TheCursorIsDrawnOnlyWhenAsked) {
    TestWindows windows({spec(QRect(600, 600, 200, 200), 0xffffff)});
    ASSERT_EQ(windows.ids.size(), 1u);
    ASSERT_EQ(QProcess::execute("xdotool", {"mousemove", "700", "700"}), 0);
    const auto filter = platform::ContentFilter::forDisplay(displayNamed("A"), {}, {});
    platform::StreamConfiguration config;
    config.sourceRect = QRectF(600, 600, 200, 200);
    config.showsCursor = false;
    const auto without = runTask(platform::ScreenshotService::captureImage(filter, config));
    EXPECT_TRUE(filled(without, QRect(0, 0, 200, 200), 0xffffff));
    config.showsCursor = true;
    const auto with = runTask(platform::ScreenshotService::captureImage(filter, config));
    // Some pixels right around the pointer change; the far corners stay white.
    EXPECT_FALSE(filled(with, QRect(80, 80, 40, 40), 0xffffff));
    EXPECT_TRUE(filled(with, QRect(0, 0, 40, 40), 0xffffff));
    EXPECT_TRUE(filled(with, QRect(160, 160, 40, 40), 0xffffff));
}

TEST(CaptureIntegration, AWindowManagersStackingListAndWindowTypesOrderTheList) {
    // Created 1, 2, 3, 4 (the server's order); the window manager stacks them 3, 1, 2 from the
    // bottom and does not manage 4. Window 3 is a dock.
    TestWindows windows({"--stacking=3,1,2", spec(QRect(10, 10, 100, 100), red), spec(QRect(20, 20, 100, 100), green),
                         spec(QRect(30, 30, 100, 100), blue) + ",d",
                         spec(QRect(40, 40, 100, 100), red)});
    ASSERT_EQ(windows.ids.size(), 4u);
    std::vector<quint32> ids;
    std::vector<int> layers;
    for (const auto& w : WindowEnumerator::shared().getWindows())
        if (w.ownerPID == windows.pid()) {
            ids.push_back(w.id);
            layers.push_back(w.layer);
        }
    EXPECT_EQ(ids, (std::vector<quint32>{windows.ids[2], windows.ids[1], windows.ids[0]}));
    EXPECT_EQ(layers, (std::vector<int>{20, 0, 0}));
}

namespace {

// Every resource the X server keeps for the client with this connection's ids.
int serverResources(platform::X11Connection& x) {
    xcb_connection_t* c = x.get();
    auto* r = xcb_res_query_client_resources_reply(
        c, xcb_res_query_client_resources(c, xcb_get_setup(c)->resource_id_base), nullptr);
    int total = 0;
    if (r)
        for (auto it = xcb_res_query_client_resources_types_iterator(r); it.rem; xcb_res_type_next(&it))
            total += int(it.data->count);
    free(r);
    return total;
}

bool opaque(const platform::BitmapRef& b) {
    for (int y = 0; y < b->height(); ++y)
        for (int x = 0; x < b->width(); ++x)
            if (b->row(y)[x * 4 + 3] != 0xff)
                return false;
    return true;
}

}  // namespace

TEST(X11Grabber, RepeatedGrabsLeaveNothingBehindOnTheServer) {
    TestWindows windows({spec(QRect(300, 300, 200, 160), red), spec(QRect(900, 300, 200, 160), blue)});
    ASSERT_EQ(windows.ids.size(), 2u);
    // One of ours over the blue window, so display grabs paint what lies beneath it.
    QWidget own;
    own.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    own.setGeometry(950, 350, 100, 60);
    own.show();
    QApplication::processEvents();

    auto x = std::make_shared<platform::X11Connection>();
    platform::X11Grabber grabber(x);
    const std::vector<qint32> ours{qint32(getpid())};
    auto round = [&] {
        EXPECT_TRUE(filled(grabber.grabWindow(windows.ids[0]), QRect(0, 0, 200, 160), red));
        EXPECT_TRUE(filled(grabber.grabArea(QRect(900, 300, 200, 160), ours), QRect(0, 0, 200, 160), blue));
    };
    round();
    const int afterFirst = serverResources(*x);
    for (int i = 0; i < 4; ++i)
        round();
    EXPECT_EQ(serverResources(*x), afterFirst);
}

TEST(X11Grabber, ScreenWindowAndResampledPixelsAreOpaque) {
    TestWindows windows({spec(QRect(101, 103, 333, 77), green)});
    ASSERT_EQ(windows.ids.size(), 1u);
    auto x = std::make_shared<platform::X11Connection>();
    platform::X11Grabber oneOff(x), kept(x, 2);
    // Odd widths, so the ends of rows are covered as well as their middles.
    EXPECT_TRUE(opaque(oneOff.grabArea(QRect(97, 99, 341, 85))));
    EXPECT_TRUE(opaque(kept.grabArea(QRect(97, 99, 341, 85))));
    EXPECT_TRUE(opaque(kept.grabArea(QRect(97, 99, 341, 85))));
    const auto window = kept.grabWindow(windows.ids[0]);
    ASSERT_EQ(window->width(), 333);
    EXPECT_TRUE(opaque(window));
    const auto doubled = platform::X11Grabber::scaled(window, QSize(666, 154));
    ASSERT_EQ(doubled->width(), 666);
    ASSERT_EQ(doubled->height(), 154);
    EXPECT_TRUE(opaque(doubled));
    EXPECT_TRUE(filled(doubled, QRect(4, 4, 658, 146), green));

    // What is painted again beneath a window of ours is opaque too.
    QWidget own;
    own.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    own.setGeometry(151, 111, 101, 41);
    own.show();
    QApplication::processEvents();
    const auto beneath = kept.grabArea(QRect(97, 99, 341, 85), {qint32(getpid())});
    EXPECT_TRUE(filled(beneath, QRect(4, 4, 333, 77), green));
    EXPECT_TRUE(opaque(beneath));
    // Left undefined, the fourth byte changes nothing else.
    platform::X11Grabber colourOnly(x, 0, false);
    EXPECT_TRUE(filled(colourOnly.grabArea(QRect(101, 103, 333, 77), {qint32(getpid())}), QRect(0, 0, 333, 77), green));
    EXPECT_TRUE(filled(colourOnly.grabWindow(windows.ids[0]), QRect(0, 0, 333, 77), green));
}

TEST(X11Grabber, AnApplicationsWindowInsideAFrameIsGrabbedWithItsFrame) {
    // A window manager's frame (green) holding the application's window (red) and a decoration
    // (blue), made on a connection of our own.
    auto x = std::make_shared<platform::X11Connection>();
    xcb_connection_t* c = x->get();
    auto make = [&](xcb_window_t parent, QRect r, QRgb colour) {
        const xcb_window_t w = xcb_generate_id(c);
        const uint32_t values[] = {colour, 1};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, parent, int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()),
                          uint16_t(r.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, x->screen()->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        return w;
    };
    const xcb_window_t frame = make(x->root(), QRect(700, 300, 300, 200), green);
    const xcb_window_t client = make(frame, QRect(10, 20, 200, 100), red);
    const xcb_window_t decoration = make(frame, QRect(250, 0, 40, 20), blue);
    const uint32_t normalState[] = {1, 0};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, client, x->atom("WM_STATE"), x->atom("WM_STATE"), 32, 2, normalState);
    xcb_map_subwindows(c, frame);
    xcb_map_window(c, frame);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    platform::X11Grabber grabber(x);
    const auto shot = grabber.grabWindow(client);
    ASSERT_EQ(shot->width(), 300);
    ASSERT_EQ(shot->height(), 200);
    EXPECT_TRUE(filled(shot, QRect(10, 20, 200, 100), red));
    EXPECT_TRUE(filled(shot, QRect(0, 130, 300, 70), green));
    EXPECT_TRUE(filled(grabber.grabWindow(frame), QRect(250, 0, 40, 20), blue));
    // Neither a decoration nor a window that does not exist is a window to grab.
    EXPECT_THROW(grabber.grabWindow(decoration), platform::PlatformError);
    EXPECT_THROW(grabber.grabWindow(client + 1000), platform::PlatformError);
    EXPECT_THROW(grabber.grabWindow(x->root()), platform::PlatformError);
    xcb_destroy_window(c, frame);
    xcb_flush(c);
}

TEST(X11Grabber, ALostConnectionGivesErrorsNotCrashesOrHangs) {
    TestWindows windows({spec(QRect(300, 300, 100, 100), red)});
    ASSERT_EQ(windows.ids.size(), 1u);
    auto x = std::make_shared<platform::X11Connection>();
    platform::X11Grabber grabber(x, 2);
    ASSERT_TRUE(filled(grabber.grabArea(QRect(300, 300, 100, 100)), QRect(0, 0, 100, 100), red));
    // As when the server goes away.
    ::shutdown(xcb_get_file_descriptor(x->get()), SHUT_RDWR);
    EXPECT_THROW(grabber.grabArea(QRect(300, 300, 100, 100)), platform::PlatformError);
    EXPECT_THROW(grabber.grabArea(QRect(0, 0, 1000, 1000)), platform::PlatformError);
    EXPECT_THROW(grabber.grabArea(QRect(300, 300, 100, 100), {qint32(getpid())}), platform::PlatformError);
    EXPECT_THROW(grabber.grabWindow(windows.ids[0]), platform::PlatformError);
    EXPECT_NE(xcb_connection_has_error(x->get()), 0);
}

namespace {

// A plain window of this process on a connection of its own, as a panel of the app would be.
class OwnWindow {
public:
    OwnWindow(QRect r, QRgb colour) : x_(std::make_shared<platform::X11Connection>()) {
        xcb_connection_t* c = x_->get();
        id_ = xcb_generate_id(c);
        const uint32_t values[] = {colour, 1};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, id_, x_->root(), int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()),
                          uint16_t(r.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, x_->screen()->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        done();
    }
    ~OwnWindow() {
        xcb_destroy_window(x_->get(), id_);
        done();
    }
    void map() {
        xcb_map_window(x_->get(), id_);
        done();
    }
    void unmap() {
        xcb_unmap_window(x_->get(), id_);
        done();
    }
    void move(QPoint to) {
        const uint32_t values[] = {uint32_t(to.x()), uint32_t(to.y())};
        xcb_configure_window(x_->get(), id_, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
        done();
    }

private:
    // Returns once the server has carried the requests out.
    void done() { free(xcb_get_input_focus_reply(x_->get(), xcb_get_input_focus(x_->get()), nullptr)); }

    std::shared_ptr<platform::X11Connection> x_;
    xcb_window_t id_ = 0;
};

bool hasColour(const platform::BitmapRef& b, QRgb colour) {
    for (int y = 0; y < b->height(); ++y)
        for (int x = 0; x < b->width(); ++x)
            if ((pixel(b, x, y) & 0xffffff) == colour)
                return true;
    return false;
}

bool samePixels(const platform::BitmapRef& a, const platform::BitmapRef& b) {
    if (a->width() != b->width() || a->height() != b->height())
        return false;
    for (int y = 0; y < a->height(); ++y)
        for (int x = 0; x < a->width(); ++x)
            if ((pixel(a, x, y) & 0xffffff) != (pixel(b, x, y) & 0xffffff))
                return false;
    return true;
}

}  // namespace

TEST(X11Grabber, OurWindowsMappedMovedOrUnmappedBetweenFramesAreLeftOutOfTheNextFrame) {
    // Another application's red window fills most of the recorded area.
    TestWindows windows({spec(QRect(400, 400, 400, 300), red)});
    ASSERT_EQ(windows.ids.size(), 1u);
    auto x = std::make_shared<platform::X11Connection>();
    platform::X11Grabber grabber(x, 4);
    const std::vector<qint32> ours{qint32(getpid())};
    const QRect area(300, 300, 600, 500);
    const QRect redInArea(100, 100, 400, 300);

    const auto before = grabber.grabArea(area, ours);
    ASSERT_TRUE(filled(before, redInArea, red));
    // Frames with nothing changed between them do not list the windows again.
    const auto listings = grabber.windowListings();
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(samePixels(grabber.grabArea(area, ours), before));
    EXPECT_EQ(grabber.windowListings(), listings);

    // Each change is made right before the next frame, with nothing else in between.
    OwnWindow panel(QRect(450, 450, 120, 80), green);
    EXPECT_TRUE(samePixels(grabber.grabArea(area, ours), before));
    panel.map();
    auto frame = grabber.grabArea(area, ours);
    EXPECT_FALSE(hasColour(frame, green));
    EXPECT_TRUE(filled(frame, redInArea, red));
    // A grabber for one-off screenshots does not watch, and leaves it out as well.
    platform::X11Grabber oneOff(x);
    EXPECT_TRUE(samePixels(oneOff.grabArea(area, ours), frame));
    for (QPoint to : {QPoint(600, 500), QPoint(400, 420), QPoint(670, 610)}) {
        panel.move(to);
        frame = grabber.grabArea(area, ours);
        EXPECT_FALSE(hasColour(frame, green)) << to.x() << "," << to.y();
        EXPECT_TRUE(filled(frame, redInArea, red)) << to.x() << "," << to.y();
    }
    // Kept out of the area, it is no longer painted over; back in and unmapped, the desktop shows.
    panel.move(QPoint(1200, 900));
    EXPECT_TRUE(samePixels(grabber.grabArea(area, ours), before));
    panel.move(QPoint(500, 500));
    EXPECT_FALSE(hasColour(grabber.grabArea(area, ours), green));
    panel.unmap();
    EXPECT_TRUE(samePixels(grabber.grabArea(area, ours), before));
    // Without leaving ours out, the screen did show the window all along.
    panel.map();
    EXPECT_TRUE(filled(grabber.grabArea(area), QRect(200, 200, 120, 80), green));
}

TEST(X11Grabber, AnotherWindowMappedOverOursIsPaintedWhereOursIsLeftOut) {
    TestWindows beneath({spec(QRect(400, 400, 300, 300), red)});
    ASSERT_EQ(beneath.ids.size(), 1u);
    OwnWindow panel(QRect(450, 450, 200, 200), green);
    panel.map();
    auto x = std::make_shared<platform::X11Connection>();
    platform::X11Grabber grabber(x, 4);
    const std::vector<qint32> ours{qint32(getpid())};
    const QRect area(400, 400, 300, 300);
    EXPECT_TRUE(filled(grabber.grabArea(area, ours), QRect(0, 0, 300, 300), red));

    // Above ours, so the grab shows it where ours is: it must be painted again there too.
    TestWindows above({spec(QRect(500, 500, 100, 100), blue)});
    ASSERT_EQ(above.ids.size(), 1u);
    const auto frame = grabber.grabArea(area, ours);
    EXPECT_FALSE(hasColour(frame, green));
    EXPECT_TRUE(filled(frame, QRect(100, 100, 100, 100), blue));
    EXPECT_TRUE(filled(frame, QRect(0, 0, 300, 100), red));
}
