// Whole recordings: the real stream from the X server and the pulse server into the real encoders.
#include "MovieProbe.h"
#include "RecorderHarness.h"

#include "platform/capture/ShareableContent.h"
#include "support/LiveDesktop.h"
#include "support/Printed.h"
#include "support/RunTask.h"
#include "support/WaitUntil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/mount.h>

using namespace zentola;
using PM = PersistenceManager;

namespace {

class RecordingSessionTest : public ::testing::Test {
protected:
    // Shared-memory segments this process has attached.
    static int attachedSharedMemory() {
        QFile maps("/proc/self/maps");
        return maps.open(QIODevice::ReadOnly) ? int(maps.readAll().count("SYSV")) : -1;
    }
    // The saved movie's path; the rewrite that finished it left nothing behind.
    static QString stop(RecorderHarness& r) {
        const auto url = r.stop();
        EXPECT_FALSE(QDir(r.folder + "/Movies").entryList(QDir::Hidden | QDir::Files).join(",").contains("finishing"));
        return url ? url->toLocalFile() : QString();
    }
    static void expectVideo(const MovieProbe& m, const char* codec, int width, int height, double fps, double seconds) {
        ASSERT_TRUE(m.video());
        EXPECT_EQ(m.video()->codec, codec);
        EXPECT_EQ(m.video()->width, width);
        EXPECT_EQ(m.video()->height, height);
        EXPECT_DOUBLE_EQ(m.video()->baseRate, fps);
        EXPECT_GT(m.video()->frameRate, fps * 0.8) << "frames may go missing on a busy machine, not many";
        EXPECT_NEAR(m.duration, seconds, 0.3);
    }
    // Every audio track runs as long as the picture, at 48 kHz, and holds sound.
    static void expectSound(const MovieProbe& m, const QString& path, std::vector<const char*> codecs) {
        ASSERT_EQ(m.audio().size(), codecs.size());
        for (std::size_t i = 0; i < codecs.size(); ++i) {
            EXPECT_EQ(m.audio()[i]->codec, codecs[i]);
            EXPECT_EQ(m.audio()[i]->sampleRate, 48000);
            EXPECT_NEAR(m.audio()[i]->duration, m.video()->duration, 0.1);
            EXPECT_GT(MovieProbe::meanVolume(path, int(i)), -30) << "track " << i;
        }
    }

    QTemporaryDir dir;
};

}  // namespace

// A window turns white at the moment the microphone's sound starts: in the movie the two are within
// 40 ms of each other. At 1080p60 no frame is missing anywhere, the first second of the process's
// first recording included.
TEST_F(RecordingSessionTest, TheScreenAt1080p60IsInStepWithItsSoundAndLosesNoFrame) {
    live::Windows windows;
    const auto flash = windows.create(1300, 500, 320, 240, 0x000000);
    live::SoundFeed system("zentola_sink"), microphone("zentola_mic_sink", false);
    spinFor(1500);  // an idle null sink takes up a stream's short latency only after a while
    RecorderHarness r(dir.path(), true);
    r.settings().setVideoFrameRate(PM::VideoFrameRate::fps60);
    r.settings().setAudioOption(PM::AudioOption::both);
    ASSERT_TRUE(r.start(CaptureMode::screen)) << r.error().toStdString();
    spinFor(1500);
    microphone.startTone([&] { windows.fill(flash, 0xffffff); });
    spinFor(1500);
    const QString path = stop(r);
    auto m = MovieProbe::probe(path);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->majorBrand, "qt  ");
    EXPECT_FALSE(m->fragmented);
    expectVideo(*m, "h264", 1920, 1080, 60, 3.0);  // retina on, but this display's scale is 1
    expectSound(*m, path, {"aac", "pcm_f32le"});
    EXPECT_LE(MovieProbe::largestFrameGap(path), 1.5 / 60);
    const auto picture = MovieProbe::pictureOnset(path, QRect(1310, 510, 300, 220));
    const auto sound = MovieProbe::soundOnsets(path, 1);  // stored as captured: no encoder's pre-echo
    ASSERT_TRUE(picture);
    ASSERT_EQ(sound.size(), 1u);
    EXPECT_NEAR(sound[0], *picture, 0.040);
}

// The default output goes away a second in (headphones unplugged): the recording follows the new
// default, silence until then, and runs to the stop with its sound.
TEST_F(RecordingSessionTest, ARectangleOnTheSecondDisplayFollowsTheDefaultOutputWhenItIsUnplugged) {
    const QString module = live::pactl({"load-module", "module-null-sink", "sink_name=zentola_headphones"});
    ASSERT_FALSE(module.isEmpty());
    live::pactl({"set-default-sink", "zentola_headphones"});
    live::SoundFeed system("zentola_sink"), microphone("zentola_mic_sink");  // wherever the default goes
    RecorderHarness r(dir.path());
    r.settings().setVideoContainer(PM::VideoContainer::mp4);
    r.settings().setVideoCodec(PM::VideoCodec::hevc);
    r.settings().setRecordAtRetina(false);
    r.settings().setAudioOption(PM::AudioOption::systemAudio);
    auto screens = platform::Screen::screens();
    ASSERT_GE(screens.size(), 2u);
    // On the second display, in its own top-left space.
    const bool started = r.start(CaptureMode::rect, SelectionRect{QPointF(200, 150), QSizeF(640, 360), 0}, {}, screens[1]);
    spinFor(1000);
    live::pactl({"unload-module", module});
    spinFor(2000);
    EXPECT_TRUE(r.manager().isRecording()) << "the recording ended with its output";
    live::pactl({"set-default-sink", "zentola_sink"});
    ASSERT_TRUE(started) << r.error().toStdString();
    const QString path = stop(r);
    auto m = MovieProbe::probe(path);
    ASSERT_TRUE(m);
    expectVideo(*m, "hevc", 640, 360, 30, 3.0);
    EXPECT_EQ(m->video()->tag, "hvc1");
    expectSound(*m, path, {"aac"});
    EXPECT_LT(MovieProbe::meanVolume(path, 0, 0.1, 0.8), -60) << "the unplugged output was silent";
    EXPECT_GT(MovieProbe::meanVolume(path, 0, 2.0, 2.9), -30) << "the new default output is heard";
}

// The sound server goes away mid-recording and comes back: the picture goes on, the sound is
// silence meanwhile and is heard again once the server is back. Then the window closes, which ends
// the recording with a movie finished as by a stop.
TEST_F(RecordingSessionTest, AWindowWithTheMicrophoneRidesOutTheSoundServerRestartingUntilItCloses) {
    live::OwnPulseServer pulse(dir.path());
    ASSERT_TRUE(pulse.start());
    auto microphone = std::make_unique<live::SoundFeed>("own_sink");
    live::Windows windows;
    WindowInfo window;
    window.id = windows.createManaged(300, 200, 400, 300, 0x2080c0);  // listed by a window manager, if one runs
    window.frame = QRectF(300, 200, 400, 300);
    RecorderHarness r(dir.path());
    r.settings().setVideoCodec(PM::VideoCodec::hevc);
    r.settings().setAudioOption(PM::AudioOption::microphone);
    spinFor(1500);  // a fresh null sink plays a stream's sound late at first
    CapturedStdout printed;
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(r.start(CaptureMode::window, {}, window)) << r.error().toStdString();
    const QString path = r.manager().outputURL()->toLocalFile();
    spinFor(1500);
    pulse.kill();
    spinFor(1000);
    const bool survived = r.manager().isRecording();
    ASSERT_TRUE(pulse.start());
    microphone = std::make_unique<live::SoundFeed>("own_sink");
    spinFor(3500);  // again a fresh null sink, which delivers its first sound after a second or two
    const double seconds = clock.elapsed() / 1000.0;
    windows.destroy(window.id);
    const bool ended = waitUntil([&] { return r.manager().state() == RecordingState::idle; }, 10000);
    const std::string out = printed.text();
    ASSERT_TRUE(ended) << out;
    EXPECT_TRUE(survived) << out;
    for (const std::string line : {"Sound server lost, recording silence until it is back: ",
                                   "Sound server is back, recording sound again\n"})
        EXPECT_TRUE(out.find("[VideoRecording] " + line) != std::string::npos &&
                    out.find("[VideoRecording] " + line) == out.rfind("[VideoRecording] " + line)) << "once: " << line << out;
    auto m = MovieProbe::probe(path);
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->fragmented) << "finished like a normal stop";
    EXPECT_EQ(m->majorBrand, "qt  ");
    expectVideo(*m, "hevc", 800, 600, 30, seconds);  // twice the frame given, at scale 2
    EXPECT_EQ(m->video()->tag, "hvc1");
    expectSound(*m, path, {"pcm_f32le"});
    EXPECT_GT(MovieProbe::meanVolume(path, 0, 0.2, 1.2), -30);
    EXPECT_LT(MovieProbe::meanVolume(path, 0, 1.7, 2.3), -60) << "silence while the server was away";
    EXPECT_GT(MovieProbe::meanVolume(path, 0, seconds - 1.2, seconds - 0.6), -30) << "sound again once it is back";
}

// On an X server of the test's own: the pointer is drawn into the movie; when the server dies the
// recording ends at once with the stream's error, the movie finished as on a stop; and the shared
// memory the stream grabbed into is handed back.
TEST_F(RecordingSessionTest, OnAServerThatDiesThePointerIsDrawnTheRecordingEndsAndItsMemoryIsHandedBack) {
    RecorderHarness r(dir.path(), true);
    r.settings().setRecordAtRetina(false);
    // The displays stay the shared server's; the stream grabs from the server DISPLAY names at the start.
    testing_support::runTask(platform::ShareableContent::get(false, true));
    const int segments = attachedSharedMemory();
    live::OwnXvfbServer x;
    ASSERT_TRUE(x.start());
    live::Windows windows;
    windows.create(600, 600, 200, 200, 0xffffff);
    ASSERT_EQ(QProcess::execute("xdotool", {"mousemove", "700", "700"}), 0);
    ASSERT_TRUE(r.start(CaptureMode::screen)) << r.error().toStdString();
    const QString path = r.manager().outputURL()->toLocalFile();
    spinFor(1500);
    CapturedStdout printed;
    x.kill();
    const bool ended = waitUntil([&] { return r.manager().state() == RecordingState::idle; }, 10000);
    const std::string out = printed.text();
    ASSERT_TRUE(ended) << "the recording outlived its X server: " << out;
    EXPECT_NE(out.find("[VideoRecording] Stream stopped with error: Lost the connection to the X server\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[VideoRecording] Recording saved: " + path.toStdString() + "\n"), std::string::npos) << out;
    const QImage picture = MovieProbe::frame(path, 0.5);
    ASSERT_EQ(picture.size(), QSize(1920, 1080));
    auto dark = [&](QRect area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += qGray(picture.pixel(x, y)) < 128;
        return n;
    };
    EXPECT_EQ(dark(QRect(610, 610, 60, 60)), 0) << "the window is white";
    EXPECT_GT(dark(QRect(690, 690, 20, 20)), 10) << "the pointer is drawn over it";
    EXPECT_EQ(attachedSharedMemory(), segments) << "the stream's shared memory is still attached";
}

// On a small file system of its own: a full disk refuses the start with its reason, and a disk that
// fills up mid-recording ends the recording at once, keeps what was written, and says so once.
TEST_F(RecordingSessionTest, AFullDiskIsToldAndNeverReportedAsASavedMovie) {
    const QString folder = dir.path() + "/disk";
    QDir().mkpath(folder);
    if (::mount("tmpfs", folder.toLocal8Bit().constData(), "tmpfs", 0, "size=16m") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root: " << std::strerror(errno);
    struct Unmount {
        QString at;
        ~Unmount() { ::umount2(at.toLocal8Bit().constData(), MNT_DETACH); }
    } unmount{folder};
    auto fill = [&] { QProcess::execute("dd", {"if=/dev/zero", "of=" + folder + "/filler", "bs=64k", "status=none"}); };
    RecorderHarness r(folder);
    r.settings().setRecordAtRetina(false);
    r.settings().setVideoContainer(PM::VideoContainer::mp4);
    const SelectionRect rect{QPointF(0, 0), QSizeF(320, 240), 0};
    fill();
    EXPECT_FALSE(r.start(CaptureMode::rect, rect));
    EXPECT_TRUE(r.error().contains("No space left on device")) << r.error().toStdString();
    QFile::remove(folder + "/filler");

    ASSERT_TRUE(r.start(CaptureMode::rect, rect)) << r.error().toStdString();
    const QString path = r.manager().outputURL()->toLocalFile();
    // The header, then the first fragment in full: the size stops changing until the next one.
    qint64 size = 0, header = 0;
    ASSERT_TRUE(waitUntil([&] { return (header = QFileInfo(path).size()) > 0; }, 10000));
    ASSERT_TRUE(waitUntil([&] { return (size = QFileInfo(path).size()) > header; }, 10000)) << "no fragment on disk";
    while (waitUntil([&] { return QFileInfo(path).size() != size; }, 300))
        size = QFileInfo(path).size();
    CapturedStdout printed;
    fill();
    const bool ended = waitUntil([&] { return r.manager().state() == RecordingState::idle; }, 10000);
    const std::string out = printed.text();
    ASSERT_TRUE(ended) << "the recording went on past the full disk: " << out;
    EXPECT_EQ(out.find("[VideoRecording] Writer failed: "), out.rfind("[VideoRecording] Writer failed: ")) << out;
    EXPECT_NE(out.find("No space left on device"), std::string::npos) << out;
    EXPECT_NE(out.find("[VideoRecording] Partial recording kept: " + path.toStdString() + "\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("Recording saved"), std::string::npos) << out;
    auto m = MovieProbe::probe(path);
    ASSERT_TRUE(m && m->video()) << "ffprobe cannot read what was written";
    EXPECT_GE(m->video()->frames, 30) << "the first fragment is about two seconds";
}
