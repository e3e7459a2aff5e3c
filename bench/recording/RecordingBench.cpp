// Whole-process recording benchmark helper.
//   recording_bench animate W H           a window that repaints all of itself at 60 fps
//   recording_bench record SECONDS FPS h264|hevc mov|mp4 FOLDER
//                                          records the main display with the app's recorder and
//                                          prints "movie PATH" once the movie is finished
//   recording_bench repeat COUNT MS GAP_MS FPS h264|hevc FOLDER [IDLE_MS]
//                                          COUNT recordings of MS milliseconds, GAP_MS apart, by one
//                                          recorder, with its resident and peak memory after each,
//                                          and its resident memory once it has idled IDLE_MS after
//                                          the last
//   recording_bench grab FRAMES           processor time per grab of the whole screen as a stream
//                                          grabs it, with and without filling the fourth byte
//   recording_bench sync SECONDS FPS FOLDER
//                                          records the main display (MOV, H.264) with system audio
//                                          while a black window at 200,200 (320x240) flashes white as
//                                          a beep plays, 0.3 s after the start and then every 1.01 s
//                                          (each a little later against the frame slots than the one
//                                          before); prints "movie PATH"
#include "Features/Capture/VideoRecordingManager.h"
#include "Services/PersistenceManager.h"
#include "platform/capture/RunningApplication.h"
#include "platform/capture/X11Connection.h"
#include "platform/capture/X11Grabber.h"
#include "platform/defaults/DefaultsStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

#include <xcb/xcb.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zentola;

namespace {

class Animation : public QWidget {
public:
    Animation() {
        setWindowFlags(Qt::FramelessWindowHint);
        setAttribute(Qt::WA_OpaquePaintEvent);
        clock_.start();
        auto* t = new QTimer(this);
        t->setTimerType(Qt::PreciseTimer);
        connect(t, &QTimer::timeout, this, qOverload<>(&QWidget::update));
        t->start(16);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const double s = clock_.elapsed() / 1000.0;
        p.fillRect(rect(), QColor::fromHsv(int(s * 40) % 360, 90, 60));
        for (int i = 0; i < 24; ++i) {
            double a = s * (0.5 + i * 0.07) + i;
            int x = int((std::sin(a) * 0.45 + 0.5) * width());
            int y = int((std::cos(a * 1.3) * 0.45 + 0.5) * height());
            p.fillRect(x - 60, y - 40, 120, 80, QColor::fromHsv((i * 37) % 360, 220, 240));
        }
        p.setPen(Qt::white);
        p.setFont(QFont("Sans", 28));
        for (int row = 0; row < 12; ++row)
            p.drawText(40, 80 + row * 80, QString("frame time %1 s — line %2").arg(s, 0, 'f', 3).arg(row));
    }

private:
    QElapsedTimer clock_;
};

// A figure of /proc/self/status in MiB ("VmRSS", "VmHWM", "RssAnon", ...).
double status(const QByteArray& name) {
    QFile file("/proc/self/status");
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.startsWith(name + ":"))
                return line.mid(name.size() + 1).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

// Resident and peak memory of this process, in MiB.
std::pair<double, double> memory() { return {status("VmRSS"), status("VmHWM")}; }

// Where the resident memory is: the heap and other private memory, mapped files (the libraries'
// pages), shared memory (the grabs').
QString residentParts() {
    return QString("anonymous %1, files %2, shared %3 MiB")
        .arg(status("RssAnon"), 0, 'f', 1).arg(status("RssFile"), 0, 'f', 1).arg(status("RssShmem"), 0, 'f', 1);
}

QCoro::Task<void> pause(int ms) {
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(ms);
    co_await timer;
}

// `count` recordings of `ms` each, one after the other with `gapMs` between them, by one recorder:
// prints "movie PATH" for the last one, the resident memory after each and, with idleMs, once the
// recorder has sat idle that long after the last.
QCoro::Task<void> record(int count, int ms, int gapMs, int fps, bool hevc, bool mp4, QString folder, int idleMs = 0) {
    platform::DefaultsStore store(folder + "/defaults.json");
    PersistenceManager settings(store);
    QDir().mkpath(folder + "/Movies");
    settings.saveVideoFolderAccess(QUrl::fromLocalFile(folder + "/Movies"));
    settings.setVideoFrameRate(fps == 60 ? PersistenceManager::VideoFrameRate::fps60 : PersistenceManager::VideoFrameRate::fps30);
    settings.setVideoCodec(hevc ? PersistenceManager::VideoCodec::hevc : PersistenceManager::VideoCodec::h264);
    settings.setVideoContainer(mp4 ? PersistenceManager::VideoContainer::mp4 : PersistenceManager::VideoContainer::mov);
    settings.setAudioOption(PersistenceManager::AudioOption::none);

    VideoRecordingManager::Environment env;
    env.persistence = [&settings]() -> PersistenceManager& { return settings; };
    env.hasMicrophonePermission = [] { return false; };
    env.defaultAudioCaptureDeviceID = [] { return std::optional<QString>(); };
    env.bundleIdentifier = [] { return platform::RunningApplication::ownBundleIdentifier(); };
    env.now = [] { return QDateTime::currentDateTime(); };
    VideoRecordingManager manager(env);
    int rc = 0;
    try {
        for (int i = 0; i < count && rc == 0; ++i) {
            co_await manager.startRecording(CaptureMode::screen, {}, {}, {});
            co_await pause(ms);
            auto url = co_await manager.stopRecording();
            if (!url)
                rc = 1;
            else if (i + 1 == count)
                std::printf("movie %s\n", qPrintable(url->toLocalFile()));
            co_await pause(gapMs);
            const auto [rss, peak] = memory();
            std::printf("memory after %d: resident %.1f MiB, peak %.1f MiB (%s)\n", i + 1, rss, peak, qPrintable(residentParts()));
            std::fflush(stdout);
        }
        if (rc == 0 && idleMs > 0) {
            co_await pause(idleMs);
            std::printf("memory idle: resident %.1f MiB (%s)\n", memory().first, qPrintable(residentParts()));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "recording failed: %s\n", platform::plainText(e).c_str());
        rc = 1;
    }
    std::fflush(stdout);
    QApplication::exit(rc);
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// This thread's processor time per grab; the X server's share is not counted.
int grab(int frames) {
    auto x = std::make_shared<platform::X11Connection>();
    const QRect root(0, 0, x->screen()->width_in_pixels, x->screen()->height_in_pixels);
    double ms[2] = {};
    for (int round = 0; round < 3; ++round)
        for (bool fills : {true, false}) {
            platform::X11Grabber grabber(x, 6, fills);
            grabber.grabArea(root);  // segments made outside the timing
            const double start = threadCpuMs();
            for (int i = 0; i < frames; ++i)
                grabber.grabArea(root);
            const double each = (threadCpuMs() - start) / frames;
            double& best = ms[fills ? 0 : 1];
            best = round == 0 ? each : std::min(best, each);
        }
    std::printf("grab %dx%d cpu ms per frame: fourth byte filled %.2f, left undefined %.2f, saved %.2f\n",
                root.width(), root.height(), ms[0], ms[1], ms[0] - ms[1]);
    return 0;
}

// Sound against picture: beeps played into the default output as they are heard (a tone in 10 ms
// chunks written to pacat in real time, nothing written between beeps), each starting at the
// moment an X window of its own turns white; the window turns black again when the beep ends.
class FlashingBeeps {
public:
    static constexpr int x = 200, y = 200, width = 320, height = 240;

    FlashingBeeps() : x_(xcb_connect(nullptr, nullptr)) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x_)).data;
        window_ = xcb_generate_id(x_);
        const quint32 values[] = {0x000000, 1};
        xcb_create_window(x_, XCB_COPY_FROM_PARENT, window_, screen->root, x, y, width, height, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT,
                          values);
        xcb_map_window(x_, window_);
        sync();
        std::signal(SIGPIPE, SIG_IGN);
        pacat_ = popen("exec pacat --playback --raw --format=float32le --rate=48000 --channels=2 --latency-msec=10", "w");
    }
    ~FlashingBeeps() {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
        if (pacat_)
            pclose(pacat_);
        xcb_destroy_window(x_, window_);
        xcb_disconnect(x_);
    }
    // Beeps of `beepMs` every `everyMs`, the first `firstMs` from now.
    void start(int firstMs, int everyMs, int beepMs) {
        thread_ = std::thread([=, this] {
            std::vector<float> chunk(480 * 2);
            auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(firstMs);
            long long frame = 0;
            while (running_ && pacat_) {
                std::this_thread::sleep_until(due);
                fill(0xffffff);
                for (int written = 0; written < beepMs && running_; written += 10) {
                    for (std::size_t i = 0; i < chunk.size(); i += 2, ++frame)
                        chunk[i] = chunk[i + 1] = float(0.5 * std::sin(2 * M_PI * 440.0 * double(frame) / 48000.0));
                    if (::write(fileno(pacat_), chunk.data(), chunk.size() * sizeof(float)) <= 0)
                        return;
                    std::this_thread::sleep_until(due += std::chrono::milliseconds(10));
                }
                fill(0x000000);
                due += std::chrono::milliseconds(everyMs - beepMs);
            }
        });
    }

private:
    void fill(quint32 rgb) {
        xcb_change_window_attributes(x_, window_, XCB_CW_BACK_PIXEL, &rgb);
        xcb_clear_area(x_, 0, window_, 0, 0, 0, 0);
        sync();
    }
    void sync() { free(xcb_get_input_focus_reply(x_, xcb_get_input_focus(x_), nullptr)); }

    xcb_connection_t* x_;
    xcb_window_t window_ = 0;
    FILE* pacat_ = nullptr;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

QCoro::Task<void> recordBeeps(int seconds, int fps, QString folder) {
    platform::DefaultsStore store(folder + "/defaults.json");
    PersistenceManager settings(store);
    QDir().mkpath(folder + "/Movies");
    settings.saveVideoFolderAccess(QUrl::fromLocalFile(folder + "/Movies"));
    settings.setVideoFrameRate(fps == 60 ? PersistenceManager::VideoFrameRate::fps60 : PersistenceManager::VideoFrameRate::fps30);
    settings.setVideoContainer(PersistenceManager::VideoContainer::mov);
    settings.setAudioOption(PersistenceManager::AudioOption::systemAudio);
    VideoRecordingManager::Environment env;
    env.persistence = [&settings]() -> PersistenceManager& { return settings; };
    env.hasMicrophonePermission = [] { return false; };
    env.defaultAudioCaptureDeviceID = [] { return std::optional<QString>(); };
    env.bundleIdentifier = [] { return QString(); };
    env.now = [] { return QDateTime::currentDateTime(); };
    VideoRecordingManager manager(env);
    int rc = 0;
    try {
        FlashingBeeps beeps;
        // An idle null sink renders far ahead; a player's short latency takes over after a while.
        co_await pause(2500);
        co_await manager.startRecording(CaptureMode::screen, {}, {}, {});
        beeps.start(300, 1010, 150);
        co_await pause(seconds * 1000);
        auto url = co_await manager.stopRecording();
        if (url)
            std::printf("movie %s\n", qPrintable(url->toLocalFile()));
        else
            rc = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "recording failed: %s\n", platform::plainText(e).c_str());
        rc = 1;
    }
    std::fflush(stdout);
    QApplication::exit(rc);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == "animate") {
        auto* w = new Animation;
        w->setGeometry(0, 0, args[2].toInt(), args[3].toInt());
        w->show();
        return app.exec();
    }
    if (args.size() == 3 && args[1] == "grab")
        return grab(args[2].toInt());
    if (args.size() == 7 && args[1] == "record") {
        QTimer::singleShot(0, [&] {
            record(1, args[2].toInt() * 1000, 0, args[3].toInt(), args[4] == "hevc", args[5] == "mp4", args[6]);
        });
        return app.exec();
    }
    if (args.size() == 5 && args[1] == "sync") {
        QTimer::singleShot(0, [&] { recordBeeps(args[2].toInt(), args[3].toInt(), args[4]); });
        return app.exec();
    }
    if ((args.size() == 8 || args.size() == 9) && args[1] == "repeat") {
        QTimer::singleShot(0, [&] {
            record(args[2].toInt(), args[3].toInt(), args[4].toInt(), args[5].toInt(), args[6] == "hevc", false, args[7],
                   args.size() == 9 ? args[8].toInt() : 0);
        });
        return app.exec();
    }
    std::fprintf(stderr, "usage: %s animate W H | grab FRAMES | record SECONDS FPS h264|hevc mov|mp4 FOLDER | "
                         "repeat COUNT MS GAP_MS FPS h264|hevc FOLDER [IDLE_MS] | sync SECONDS FPS FOLDER\n", argv[0]);
    return 2;
}
