// The stream on the real X server and the real pulse server (and on servers of its own it kills).
#include "platform/audio/CaptureClock.h"
#include "platform/capture/ShareableContent.h"
#include "platform/capture/X11Connection.h"
#include "platform/core/MainThread.h"
#include "platform/core/SerialQueue.h"
#include "platform/stream/Stream.h"
#include "platform/stream/X11StreamGrabber.h"
#include "support/LiveDesktop.h"
#include "support/RunTask.h"
#include "support/WaitUntil.h"
#include "support/XClient.h"

#include <QLocalServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QFile>

#include <xcb/randr.h>

#include <future>
#include <mutex>
#include <set>
#include <unistd.h>

using namespace platform;
using live::rgbAt;
using testing_support::runTask;

namespace {

// What the screen output receives: every frame's time stamp and thread, and the last frame (the
// others go back to the grabber).
struct Collector : StreamOutput {
    struct Got {
        BitmapRef last;
        std::vector<MediaTime> times;
        std::set<std::thread::id> threads;
    };
    void didOutputSampleBuffer(Stream&, const SampleBuffer& buffer, StreamOutputType) override {
        std::lock_guard lock(mutex);
        got.last = buffer.imageBuffer();
        got.times.push_back(buffer.presentationTimeStamp());
        got.threads.insert(std::this_thread::get_id());
    }
    Got snapshot() {
        std::lock_guard lock(mutex);
        return got;
    }
    std::mutex mutex;
    Got got;
};

struct Delegate : StreamDelegate {
    void didStopWithError(Stream&, const PlatformError& e) override {
        EXPECT_TRUE(isMainThread());
        errors.push_back(e);
    }
    std::vector<PlatformError> errors;
};

ShareableDisplay displayAt(int nativeX) {
    for (const auto& d : runTask(ShareableContent::get(false, true)).displays)
        if (d.nativeGeometry.x() == nativeX)
            return d;
    throw std::runtime_error("no display at x=" + std::to_string(nativeX));
}

// No rate: the display's own pace.
StreamConfiguration videoConfiguration(qint64 width, qint64 height, int fps = 0) {
    StreamConfiguration c;
    c.width = width, c.height = height, c.showsCursor = false;
    c.minimumFrameInterval = fps ? MediaTime::make(1, fps) : MediaTime::invalid();
    return c;
}

std::shared_ptr<SerialQueue> videoQueue() { return std::make_shared<SerialQueue>("com.zentola.videoCapture"); }

// The last frame of a stream that ran for a while.
BitmapRef lastFrame(const ContentFilter& filter, const StreamConfiguration& config) {
    Stream stream(filter, config, nullptr);
    Collector video;
    stream.addStreamOutput(&video, StreamOutputType::screen, videoQueue());
    runTask(stream.startCapture());
    spinFor(400);
    runTask(stream.stopCapture());
    if (!video.snapshot().last)
        throw std::runtime_error("no frame arrived");
    return video.snapshot().last;
}

// Another reader of the server's notices of the screen's size, to wait until a change has been made.
class ScreenWatch {
public:
    ScreenWatch() { follower_.followRootSize(); }
    bool sees(int width) {
        return waitUntil([&] {
            while (xcb_generic_event_t* e = xcb_poll_for_event(follower_.get())) {
                follower_.noteEvent(e);
                free(e);
            }
            return follower_.rootSize() == QSize(width, 1080);
        });
    }

private:
    X11Connection follower_;
};

// Whether a thread of this process waits in the kernel for a file to be readable (a reply from the
// X server).
bool waitsForAReply(pid_t thread) {
    QFile wchan(QString("/proc/self/task/%1/wchan").arg(thread));
    return thread > 0 && wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("poll");
}

// Moves an output of the server's own RandR layout and sets the screen's size, as xrandr does, on a
// connection that may hold the server meanwhile.
bool moveOutput(const XClient& x, const char* name, int left, int screenWidth) {
    xcb_connection_t* c = x.c;
    auto resources = freed(xcb_randr_get_screen_resources_current_reply(c, xcb_randr_get_screen_resources_current(c, x.root), nullptr));
    const xcb_randr_output_t* outputs = resources ? xcb_randr_get_screen_resources_current_outputs(resources.get()) : nullptr;
    for (int i = 0; outputs && i < xcb_randr_get_screen_resources_current_outputs_length(resources.get()); ++i) {
        const xcb_timestamp_t at = resources->config_timestamp;
        auto output = freed(xcb_randr_get_output_info_reply(c, xcb_randr_get_output_info(c, outputs[i], at), nullptr));
        if (!output || !output->crtc ||
            QByteArray(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(output.get())),
                       xcb_randr_get_output_info_name_length(output.get())) != name)
            continue;
        auto crtc = freed(xcb_randr_get_crtc_info_reply(c, xcb_randr_get_crtc_info(c, output->crtc, at), nullptr));
        auto set = freed(crtc ? xcb_randr_set_crtc_config_reply(
                                    c, xcb_randr_set_crtc_config(c, output->crtc, XCB_CURRENT_TIME, at, qint16(left), crtc->y,
                                                                 crtc->mode, crtc->rotation, 1, &outputs[i]),
                                    nullptr)
                              : nullptr);
        return set && set->status == XCB_RANDR_SET_CONFIG_SUCCESS &&
               !freed(xcb_request_check(c, xcb_randr_set_screen_size_checked(c, x.root, quint16(screenWidth), 1080,
                                                                             quint32(screenWidth * 254 / 960), 286)));
    }
    return false;
}

}  // namespace

// Frames at about the configured rate, on the output's queue, in order on the capture clock,
// resampled to the configured size; without this process's windows when it is left out.
TEST(StreamDisplay, DeliversScaledFramesOfThePaintedPixelsAtAboutTheRate) {
    live::Windows windows;
    windows.create(100, 100, 200, 150, 0xd02010);
    Delegate delegate;
    Stream stream(ContentFilter::forDisplay(displayAt(0), {}, {}), videoConfiguration(960, 540, 30), &delegate);
    auto queue = videoQueue();
    Collector video;
    stream.addStreamOutput(&video, StreamOutputType::screen, queue);
    const MediaTime before = CaptureClock::now();
    runTask(stream.startCapture());
    spinFor(2000);
    runTask(stream.stopCapture());
    const auto [frame, times, threads] = video.snapshot();
    EXPECT_GE(times.size(), 40u) << "2 s at 30 fps";
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_TRUE(before <= times.front() && times.back() <= CaptureClock::now());
    std::thread::id onQueue;
    queue->sync([&] { onQueue = std::this_thread::get_id(); });
    EXPECT_EQ(threads, std::set<std::thread::id>{onQueue});
    EXPECT_EQ(QSize(frame->width(), frame->height()), QSize(960, 540));
    EXPECT_EQ(rgbAt(*frame, 51, 51), 0xd02010u);
    EXPECT_NE(rgbAt(*frame, 152, 127), 0xd02010u);
    EXPECT_TRUE(delegate.errors.empty());
    spinFor(200);
    EXPECT_EQ(video.snapshot().times.size(), times.size()) << "nothing arrives once the stop has returned";
    RunningApplication self;
    self.processID = getpid();
    const BitmapRef hidden = lastFrame(ContentFilter::forDisplay(displayAt(0), {self}, {}), videoConfiguration(1920, 1080));
    EXPECT_NE(rgbAt(*hidden, 150, 150), 0xd02010u) << "this process's windows are left out";
}

// A rectangle is in its display's own points; past the display's edge it is black, never the
// neighbouring display's pixels.
TEST(StreamDisplay, ARectangleShowsItsOwnDisplayAndBlackPastItsEdge) {
    live::Windows windows;
    windows.create(1920 + 150, 260, 40, 30, 0xf0e020);  // on B, which starts at x = 1920
    windows.create(1900, 100, 100, 100, 0x10a0f0);      // across the edge between A and B
    StreamConfiguration config = videoConfiguration(320, 240);
    config.sourceRect = QRectF(100, 200, 320, 240);
    BitmapRef frame = lastFrame(ContentFilter::forDisplay(displayAt(1920), {}, {}), config);
    EXPECT_EQ(frame->width(), 320);
    EXPECT_EQ(rgbAt(*frame, 50, 60), 0xf0e020u);
    EXPECT_EQ(rgbAt(*frame, 89, 89), 0xf0e020u);
    EXPECT_NE(rgbAt(*frame, 49, 60), 0xf0e020u);

    config.sourceRect = QRectF(1880, 100, 80, 40);  // on A, half of it past A's right edge
    config.width = 80, config.height = 40;
    frame = lastFrame(ContentFilter::forDisplay(displayAt(0), {}, {}), config);
    EXPECT_EQ(rgbAt(*frame, 30, 20), 0x10a0f0u);
    EXPECT_EQ(rgbAt(*frame, 39, 20), 0x10a0f0u);
    EXPECT_EQ(rgbAt(*frame, 40, 20), 0x000000u);
    EXPECT_EQ(rgbAt(*frame, 79, 39), 0x000000u);
}

// Coverage is worked out only when the windows change, yet every change shows at once.
TEST(StreamWindow, ShowsOnlyTheWindowWorkingOutCoverageOnlyWhenTheWindowsChange) {
    live::Windows windows;
    const xcb_window_t other = windows.create(400, 250, 300, 100, 0x2040e0);
    ShareableWindow w;
    w.windowID = windows.create(200, 200, 320, 200, 0xa0d020);  // above the other
    X11StreamGrabber grabber(ContentFilter::forWindow(w), videoConfiguration(320, 200));
    auto colourAt = [&](int x, int y) { return rgbAt(*grabber.grab(), x, y); };
    EXPECT_EQ(colourAt(250, 100), 0xa0d020u);
    auto checks = grabber.coverageChecks();
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(colourAt(i * 15, 100), 0xa0d020u);
    EXPECT_LT(grabber.coverageChecks() - checks, 3u) << "nothing changed, yet the windows were listed per frame";
    windows.raise(other);  // now over its right part
    EXPECT_EQ(colourAt(310, 60), 0xa0d020u);
    checks = grabber.coverageChecks();
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(colourAt(310, 60), 0xa0d020u);
    EXPECT_LT(grabber.coverageChecks() - checks, 3u) << "reading a covered window's own pixels lists the windows";
    windows.move(w.windowID, 900, 500);  // away from the other, where nothing covers it
    windows.move(other, 100, 100);
    for (auto [x, y] : {std::pair{1, 1}, {160, 100}, {318, 198}})
        EXPECT_EQ(colourAt(x, y), 0xa0d020u) << x << "," << y;
    windows.setMapped(w.windowID, false);  // hidden: no frame, and no error either
    EXPECT_EQ(grabber.grab(), nullptr);
    windows.setMapped(w.windowID, true);
    EXPECT_EQ(colourAt(100, 50), 0xa0d020u);
    windows.destroy(w.windowID);  // closed: the stream ends
    EXPECT_THROW(grabber.grab(), PlatformError);
}

// A window stream goes by the screen's size from the server's notices too: a window the screen no
// longer reaches (its monitor turned off, or half past the edge) still shows whole, from its own
// pixels, and once the screen reaches it again, from the screen; the size is never asked.
TEST(StreamWindow, FollowsTheScreenAsMonitorsChange) {
    QTemporaryDir dir;
    live::OwnXorgServer server(dir.path());
    ASSERT_TRUE(server.start());
    ScreenWatch watch;
    live::Windows windows;
    ShareableWindow w;
    w.windowID = windows.create(1920 + 200, 200, 320, 200, 0x30c0a0);
    X11StreamGrabber grabber(ContentFilter::forWindow(w), videoConfiguration(320, 200));
    auto showsWhole = [&] {
        const BitmapRef frame = grabber.grab();
        return frame && rgbAt(*frame, 1, 1) == 0x30c0a0u && rgbAt(*frame, 318, 198) == 0x30c0a0u;
    };
    ASSERT_TRUE(showsWhole());
    const auto asked = grabber.screenSizeRequests();
    for (const QStringList& change : {QStringList{"--output", "DUMMY1", "--off"},
                                      QStringList{"--output", "DUMMY1", "--mode", "1920x1080", "--pos", "1920x0"}}) {
        ASSERT_TRUE(live::OwnXorgServer::xrandr(change));
        ASSERT_TRUE(watch.sees(change.contains("--off") ? 1920 : 3840));
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE(showsWhole()) << change.join(' ').toStdString();
    }
    windows.move(w.windowID, 3840 - 100, 300);  // past the screen's right edge
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(showsWhole()) << "half past the edge";
    EXPECT_EQ(grabber.screenSizeRequests(), asked) << "the screen's size was asked instead of followed";
}

// The screen shrinks after the stream read the server's notices and before its grab is served (held
// back here by another client holding the server): the grab fails on the old size, the size is
// asked once, and the frame is taken again of what is left of its display.
TEST(StreamDisplay, AGrabOnAScreenSizeJustChangedIsTakenAgain) {
    QTemporaryDir dir;
    live::OwnXorgServer server(dir.path());
    ASSERT_TRUE(server.start());
    live::Windows windows;
    windows.create(1920 + 100, 100, 200, 150, 0x20d040);
    X11StreamGrabber right(ContentFilter::forDisplay(displayAt(1920), {}, {}), videoConfiguration(1920, 1080));
    ASSERT_EQ(rgbAt(*right.grab(), 150, 150), 0x20d040u);
    const auto asked = right.screenSizeRequests();

    XClient holder;
    xcb_grab_server(holder.c);
    holder.sync();
    std::atomic<pid_t> grabbing{0};
    auto frame = std::async(std::launch::async, [&] {
        grabbing = gettid();
        return right.grab();
    });
    const bool waiting = waitUntil([&] { return waitsForAReply(grabbing); });
    // The second monitor moves left by 920 pixels and the screen narrows with it, to 2920.
    const bool moved = moveOutput(holder, "DUMMY1", 1000, 2920);
    xcb_ungrab_server(holder.c);
    holder.sync();
    ASSERT_TRUE(waiting) << "the grab never reached the server";
    ASSERT_TRUE(moved);
    BitmapRef taken;
    ASSERT_NO_THROW(taken = frame.get());
    ASSERT_TRUE(taken);

    EXPECT_EQ(rgbAt(*taken, 200, 200), 0x20d040u) << "the window, where it was on the screen";
    EXPECT_EQ(right.screenSizeRequests() - asked, 1u);
}

TEST(StreamOpening, FailsWhenTheSourceCannotBeOpened) {
    ShareableWindow gone;
    gone.windowID = 0x7ffffff;
    Collector c;
    EXPECT_THROW(Stream(ContentFilter::forWindow(gone), videoConfiguration(200, 200), nullptr)
                     .addStreamOutput(&c, StreamOutputType::screen, videoQueue()),
                 PlatformError);
    StreamConfiguration config = videoConfiguration(100, 100);
    config.captureMicrophone = true;
    config.microphoneCaptureDeviceID = QStringLiteral("no_such_source");
    Stream stream(ContentFilter::forDisplay(displayAt(0), {}, {}), config, nullptr);
    try {
        stream.addStreamOutput(&c, StreamOutputType::microphone, std::make_shared<SerialQueue>("com.zentola.microphoneCapture"));
        ADD_FAILURE() << "a missing microphone must not open";
    } catch (const PlatformError& e) {
        EXPECT_EQ(e.domain(), "AudioCapture");
        EXPECT_NE(e.description().find("no_such_source"), std::string::npos) << e.description();
    }
}

TEST(StreamSourceLoss, ASoundServerThatNeverAnswersFailsTheOutputInsteadOfHanging) {
    QTemporaryDir dir;
    QLocalServer silent;  // takes connections into its backlog and never speaks
    ASSERT_TRUE(silent.listen(dir.path() + "/silent"));
    live::OwnServer server("PULSE_SERVER", "unix:" + silent.fullServerName());
    StreamConfiguration config;
    config.capturesAudio = true;
    Stream stream(ContentFilter::forDisplay(ShareableDisplay{}, {}, {}), config, nullptr);
    Collector audio;
    try {
        stream.addStreamOutput(&audio, StreamOutputType::audio, std::make_shared<SerialQueue>("com.zentola.audioCapture"));
        ADD_FAILURE() << "a silent server must not open";
    } catch (const PlatformError& e) {
        EXPECT_EQ(e.domain(), "AudioCapture");
    }
}

// The screen's size, which every grab is cut to, comes from the server's notices as monitors are
// moved, turned off and on, not from a question before each frame.
TEST(StreamDisplay, KnowsTheScreensSizeFromTheServersNoticesAsMonitorsChange) {
    QTemporaryDir dir;
    live::OwnXorgServer server(dir.path());
    ASSERT_TRUE(server.start());
    live::Windows windows;
    windows.create(100, 100, 200, 150, 0xd02010);
    windows.create(1920 + 100, 100, 200, 150, 0x20d040);
    X11StreamGrabber left(ContentFilter::forDisplay(displayAt(0), {}, {}), videoConfiguration(1920, 1080));
    X11StreamGrabber right(ContentFilter::forDisplay(displayAt(1920), {}, {}), videoConfiguration(1920, 1080));
    const auto asked = left.screenSizeRequests(), rightAsked = right.screenSizeRequests();
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(rgbAt(*left.grab(), 150, 150), 0xd02010u);
    EXPECT_EQ(left.screenSizeRequests(), asked) << "the screen's size was asked for each frame";

    // Another reader of the same notices sees the sizes the streams go by.
    ScreenWatch watch;
    auto followerSees = [&](int width) { return watch.sees(width); };
    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY1", "--pos", "3840x0"}));
    EXPECT_TRUE(followerSees(5760));
    EXPECT_EQ(rgbAt(*left.grab(), 150, 150), 0xd02010u);
    EXPECT_EQ(rgbAt(*right.grab(), 150, 150), 0x20d040u) << "where the monitor was, the screen goes on";

    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY1", "--off"}));
    EXPECT_TRUE(followerSees(1920));
    EXPECT_EQ(rgbAt(*left.grab(), 150, 150), 0xd02010u);
    EXPECT_THROW(right.grab(), PlatformError) << "its display has gone off the screen";

    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY1", "--mode", "1920x1080", "--pos", "1920x0"}));
    EXPECT_TRUE(followerSees(3840));
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(rgbAt(*left.grab(), 150, 150), 0xd02010u);
    EXPECT_EQ(rgbAt(*right.grab(), 150, 150), 0x20d040u) << "the monitor is back where its stream grabs";
    EXPECT_LE(left.screenSizeRequests() - asked, 1u) << "at most once, after a grab on an old size";
    EXPECT_LE(right.screenSizeRequests() - rightAsked, 1u) << "at most once, after a grab on an old size";
}
