// Whole recordings: the real stream from the X server and the pulse server into the real encoders.
#include "MovieProbe.h"
#include "RecorderHarness.h"

#include "platform/capture/ShareableContent.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <csignal>
#include <sys/resource.h>

using namespace zentola;
using PM = PersistenceManager;

namespace {

void pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

// A window that repaints itself in a new colour on every frame, like a playing video.
class Busy : public QWidget {
public:
    Busy() {
        setWindowFlags(Qt::FramelessWindowHint);
        setAttribute(Qt::WA_OpaquePaintEvent);
        startTimer(16);
    }

protected:
    void timerEvent(QTimerEvent*) override { update(); }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor::fromHsv((n_ += 7) % 360, 200, 220));
    }

private:
    int n_ = 0;
};

class RecordingSessionTest : public ::testing::Test {
protected:
    // Tones into the system output and the microphone's sink for the whole suite; a null sink's
    // monitor only starts delivering after a moment.
    static void SetUpTestSuite() {
        for (const char* sink : {"zentola_sink", "zentola_mic_sink"}) {
            auto* p = new QProcess;
            p->start("sox", {"-q", "-n", "-t", "pulseaudio", sink, "synth", "120", "sine", "440"});
            p->waitForStarted();
            tones.push_back(p);
        }
        pump(1500);
    }
    static void TearDownTestSuite() {
        for (auto* p : tones) {
            p->kill();
            p->waitForFinished();
            delete p;
        }
        tones.clear();
    }

    std::optional<MovieProbe> record(RecorderHarness& r, CaptureMode mode, std::optional<SelectionRect> rect = {},
                                     std::optional<WindowInfo> window = {}) {
        EXPECT_TRUE(r.start(mode, rect, window)) << r.error().toStdString();
        pump(3000);
        auto url = r.stop();
        EXPECT_TRUE(url);
        if (!url)
            return std::nullopt;
        EXPECT_FALSE(QDir(r.folder() + "/Movies").entryList(QDir::Hidden | QDir::Files).join(",").contains("finishing"));
        return MovieProbe::probe(url->toLocalFile());
    }

    // The movie's rate is the configured one; frames may go missing on a busy machine, not many.
    static void expectRate(const MovieProbe& m, double fps) {
        EXPECT_DOUBLE_EQ(m.video()->baseRate, fps);
        EXPECT_GT(m.video()->frameRate, fps * 0.8);
        EXPECT_LE(m.video()->frameRate, fps * 1.01);
    }

    static void expectInStep(const MovieProbe& m, std::size_t audioTracks) {
        ASSERT_EQ(m.audio().size(), audioTracks);
        for (auto* a : m.audio()) {
            EXPECT_EQ(a->sampleRate, 48000);
            EXPECT_NEAR(a->startTime, m.video()->startTime, 0.05) << a->codec.toStdString();
        }
    }

    QTemporaryDir dir;
    static std::vector<QProcess*> tones;
};

std::vector<QProcess*> RecordingSessionTest::tones;

}  // namespace

TEST_F(RecordingSessionTest, DisplayAsQuickTimeH264At60WithSystemAudioAndMicrophone) {
    Busy busy;
    busy.setGeometry(100, 100, 300, 200);
    busy.show();
    RecorderHarness r(dir.path());
    r.settings().setVideoFrameRate(PM::VideoFrameRate::fps60);
    r.settings().setAudioOption(PM::AudioOption::both);
    auto m = record(r, CaptureMode::screen);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->majorBrand, "qt  ");
    EXPECT_FALSE(m->fragmented);
    ASSERT_TRUE(m->video());
    EXPECT_EQ(m->video()->codec, "h264");
    EXPECT_EQ(m->video()->width, 1920);  // retina on, but this display's scale is 1
    EXPECT_EQ(m->video()->height, 1080);
    expectRate(*m, 60);
    EXPECT_NEAR(m->duration, 3.0, 0.3);
    expectInStep(*m, 2);
    EXPECT_EQ(m->audio()[0]->codec, "aac");
    EXPECT_EQ(m->audio()[1]->codec, "pcm_f32le");
}

TEST_F(RecordingSessionTest, RectangleAsMpeg4HevcAt30WithSystemAudioAndRetinaOff) {
    RecorderHarness r(dir.path());
    r.settings().setVideoContainer(PM::VideoContainer::mp4);
    r.settings().setVideoCodec(PM::VideoCodec::hevc);
    r.settings().setRecordAtRetina(false);
    r.settings().setAudioOption(PM::AudioOption::systemAudio);
    auto screens = platform::Screen::screens();
    ASSERT_GE(screens.size(), 2u);
    // On the second display, in its own top-left space.
    SelectionRect rect{QPointF(200, 150), QSizeF(640, 360), 0};
    ASSERT_TRUE(r.start(CaptureMode::rect, rect, {}, screens[1])) << r.error().toStdString();
    pump(3000);
    auto url = r.stop();
    ASSERT_TRUE(url);
    EXPECT_TRUE(url->toLocalFile().endsWith(".mp4"));
    auto m = MovieProbe::probe(url->toLocalFile());
    ASSERT_TRUE(m && m->video());
    EXPECT_EQ(m->video()->codec, "hevc");
    EXPECT_EQ(m->video()->tag, "hvc1");
    EXPECT_EQ(m->video()->width, 640);
    EXPECT_EQ(m->video()->height, 360);
    expectRate(*m, 30);
    EXPECT_NEAR(m->duration, 3.0, 0.3);
    expectInStep(*m, 1);
    EXPECT_EQ(m->audio()[0]->codec, "aac");
}

TEST_F(RecordingSessionTest, WindowAsMpeg4H264AtDoubleScaleWithTheMicrophoneAsAac) {
    Busy busy;
    busy.setGeometry(300, 200, 400, 300);
    busy.show();
    pump(300);
    auto content = QCoro::waitFor(platform::ShareableContent::get(false, true));
    std::optional<WindowInfo> window;
    for (const auto& w : content.windows)
        if (w.windowID == quint32(busy.winId())) {
            window = WindowInfo{};
            window->id = w.windowID;
            window->frame = w.frame;
        }
    ASSERT_TRUE(window) << "the window is not listed";

    RecorderHarness r(dir.path());
    r.settings().setVideoContainer(PM::VideoContainer::mp4);
    r.settings().setAudioOption(PM::AudioOption::microphone);
    auto m = record(r, CaptureMode::window, {}, window);
    ASSERT_TRUE(m && m->video());
    EXPECT_EQ(m->video()->codec, "h264");
    EXPECT_EQ(m->video()->width, int(window->frame.width()) * 2);
    EXPECT_EQ(m->video()->height, int(window->frame.height()) * 2);
    expectRate(*m, 30);
    EXPECT_NEAR(m->duration, 3.0, 0.3);
    expectInStep(*m, 1);
    EXPECT_EQ(m->audio()[0]->codec, "aac");
}

TEST_F(RecordingSessionTest, AStopRightAfterTheStartWritesNoFileUnlessAFrameBeatIt) {
    RecorderHarness r(dir.path());
    ASSERT_TRUE(r.start(CaptureMode::screen)) << r.error().toStdString();
    auto url = r.stop();
    auto files = QDir(r.folder() + "/Movies").entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_EQ(r.manager().state(), RecordingState::idle);
    // The capture grabs at once, so now and then a first frame reaches the writer before the stop;
    // either way the answer matches what is on disk.
    if (files.isEmpty()) {
        EXPECT_FALSE(url);
    } else {
        ASSERT_EQ(files.size(), 1);
        ASSERT_TRUE(url);
        EXPECT_EQ(url->toLocalFile(), files[0].filePath());
        EXPECT_TRUE(MovieProbe::probe(files[0].filePath()));
    }
}

TEST_F(RecordingSessionTest, AWindowThatGoesAwayEndsTheRecordingWithAFinishedQuickTimeHevcMovie) {
    auto busy = std::make_unique<Busy>();
    busy->setGeometry(200, 200, 320, 240);
    busy->show();
    pump(300);
    WindowInfo window;
    window.id = quint32(busy->winId());
    window.frame = QRectF(200, 200, 320, 240);
    RecorderHarness r(dir.path());
    r.settings().setRecordAtRetina(false);
    r.settings().setVideoCodec(PM::VideoCodec::hevc);
    ASSERT_TRUE(r.start(CaptureMode::window, {}, window)) << r.error().toStdString();
    const QString path = r.manager().outputURL()->toLocalFile();
    pump(1500);
    busy.reset();  // destroys the X window
    for (int i = 0; i < 500 && r.manager().state() != RecordingState::idle; ++i)
        pump(20);
    ASSERT_EQ(r.manager().state(), RecordingState::idle);
    auto m = MovieProbe::probe(path);
    ASSERT_TRUE(m && m->video());
    EXPECT_FALSE(m->fragmented) << "finished like a normal stop";
    EXPECT_EQ(m->majorBrand, "qt  ");
    EXPECT_EQ(m->video()->codec, "hevc");
    EXPECT_EQ(m->video()->tag, "hvc1");
    EXPECT_EQ(m->video()->width, 320);
    EXPECT_TRUE(m->audio().empty());
    EXPECT_GT(m->duration, 1.0);
}

TEST_F(RecordingSessionTest, ARecordingKilledMidwayStillPlaysUpToItsLastFragment) {
    QProcess helper;
    helper.setProcessChannelMode(QProcess::MergedChannels);
    helper.start(QCoreApplication::applicationDirPath() + "/recording_kill_helper", {dir.path()});
    ASSERT_TRUE(helper.waitForStarted());
    QByteArray out;
    for (int i = 0; i < 500 && !out.contains("Recording started"); ++i) {
        helper.waitForReadyRead(20);
        out += helper.readAll();
    }
    ASSERT_TRUE(out.contains("Recording started")) << out.toStdString();
    QThread::msleep(5000);
    ::kill(pid_t(helper.processId()), SIGKILL);
    helper.waitForFinished();

    auto movies = QDir(dir.path() + "/Movies").entryInfoList({"*.mp4"}, QDir::Files);
    ASSERT_EQ(movies.size(), 1);
    auto m = MovieProbe::probe(movies[0].filePath());
    ASSERT_TRUE(m) << "ffprobe cannot read the interrupted movie";
    ASSERT_TRUE(m->video());
    EXPECT_EQ(m->video()->codec, "h264");
    EXPECT_TRUE(m->fragmented);
    // Five seconds recorded, fragments of about two: at least the first two seconds survive.
    EXPECT_GE(m->video()->frames, 2 * 30);
    QProcess decode;
    decode.start("ffmpeg", {"-v", "error", "-i", movies[0].filePath(), "-f", "null", "-"});
    ASSERT_TRUE(decode.waitForFinished(60000));
    EXPECT_EQ(decode.exitCode(), 0);
    EXPECT_EQ(decode.readAllStandardError(), "");
}

TEST_F(RecordingSessionTest, ADiskThatFillsUpFailsTheWriterAndLeavesWhatWasWritten) {
    auto busy = std::make_unique<Busy>();
    busy->setGeometry(0, 0, 320, 240);
    busy->show();
    pump(300);
    RecorderHarness r(dir.path());
    r.settings().setRecordAtRetina(false);
    r.settings().setVideoContainer(PM::VideoContainer::mp4);
    SelectionRect rect{QPointF(0, 0), QSizeF(320, 240), 0};
    ASSERT_TRUE(r.start(CaptureMode::rect, rect)) << r.error().toStdString();
    const QString path = r.manager().outputURL()->toLocalFile();

    // The header, then the first fragment in full: its size stops changing until the next one.
    qint64 header = 0;
    for (int i = 0; i < 500 && (header = QFileInfo(path).size()) == 0; ++i)
        pump(20);
    ASSERT_GT(header, 0);
    qint64 size = header;
    for (int i = 0; i < 500 && (size = QFileInfo(path).size()) == header; ++i)
        pump(20);
    ASSERT_GT(size, header) << "no fragment reached the disk";
    for (qint64 last = -1; last != size; size = QFileInfo(path).size()) {
        last = size;
        pump(300);
    }

    // From here on no byte more fits: writes fail as on a full disk.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit full = saved;
    full.rlim_cur = rlim_t(size);
    setrlimit(RLIMIT_FSIZE, &full);
    auto writerStatus = [&] {
        auto writer = r.manager().writerContext().getWriterAndInputs().writer;
        return writer ? writer->status() : platform::AssetWriter::Status::unknown;
    };
    for (int i = 0; i < 750 && writerStatus() != platform::AssetWriter::Status::failed; ++i)
        pump(20);
    const auto failed = writerStatus();
    testing::internal::CaptureStdout();
    auto url = r.stop();
    const std::string out = testing::internal::GetCapturedStdout();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_EQ(failed, platform::AssetWriter::Status::failed) << "the writer went on past the full disk";
    EXPECT_NE(out.find("[VideoRecording] Writer not in writing state, status: 3\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[VideoRecording] Writer error: "), std::string::npos) << out;
    EXPECT_EQ(r.manager().state(), RecordingState::idle);
    ASSERT_TRUE(url) << "the part written is the user's";
    EXPECT_EQ(url->toLocalFile(), path);
    EXPECT_EQ(QFileInfo(path).size(), size);
    auto m = MovieProbe::probe(path);
    ASSERT_TRUE(m && m->video()) << "ffprobe cannot read what was written";
    EXPECT_GE(m->video()->frames, 30) << "the first fragment is about two seconds";
}

