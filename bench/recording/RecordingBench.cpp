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

#include <cmath>
#include <cstdio>
#include <ctime>

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
    if ((args.size() == 8 || args.size() == 9) && args[1] == "repeat") {
        QTimer::singleShot(0, [&] {
            record(args[2].toInt(), args[3].toInt(), args[4].toInt(), args[5].toInt(), args[6] == "hevc", false, args[7],
                   args.size() == 9 ? args[8].toInt() : 0);
        });
        return app.exec();
    }
    std::fprintf(stderr, "usage: %s animate W H | grab FRAMES | record SECONDS FPS h264|hevc mov|mp4 FOLDER | "
                         "repeat COUNT MS GAP_MS FPS h264|hevc FOLDER [IDLE_MS]\n", argv[0]);
    return 2;
}
