// The sound of whole recordings through the real pulse server: what was heard is in the movie, in
// step with its picture from the first moment, and whole after the server comes back.
#include "MovieProbe.h"
#include "RecorderHarness.h"

#include "platform/audio/CaptureClock.h"
#include "support/LiveDesktop.h"
#include "support/WaitUntil.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>

using namespace zentola;
using PM = PersistenceManager;

namespace {

// Every number that follows `key` in ffmpeg's silence report of an audio track.
std::vector<double> silences(const QString& path, int track, const QString& key, double shortest) {
    QProcess p;
    p.start("ffmpeg", {"-hide_banner", "-nostats", "-i", path, "-map", QString("0:a:%1").arg(track), "-af",
                       QString("silencedetect=noise=-30dB:d=%1").arg(shortest), "-f", "null", "-"});
    p.waitForFinished(60000);
    std::vector<double> values;
    for (const auto& m : QRegularExpression(key + "\\s*(-?[0-9.]+)").globalMatch(QString::fromUtf8(p.readAllStandardError())))
        values.push_back(m.captured(1).toDouble());
    return values;
}

// Where the movie's time line begins on the capture clock, from the recorder's own line.
std::optional<double> sessionStart(const std::string& log) {
    const std::string key = "[VideoRecording] Started writing session at ";
    const auto at = log.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    return std::stod(log.substr(at + key.size()));
}

class RecordingSoundTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
};

}  // namespace

// A tone is playing; a recording of about half a second holds it, not a silent track.
TEST_F(RecordingSoundTest, AShortRecordingHoldsTheSoundHeardUntilItsStop) {
    live::SoundFeed tone("zentola_sink");
    spinFor(2500);  // an idle null sink renders far ahead at first; the player's short latency takes over later
    RecorderHarness r(dir.path());
    r.settings().setRecordAtRetina(false);
    r.settings().setAudioOption(PM::AudioOption::systemAudio);
    ASSERT_TRUE(r.start(CaptureMode::rect, SelectionRect{QPointF(0, 0), QSizeF(320, 240), 0})) << r.error().toStdString();
    spinFor(600);
    const auto url = r.stop();
    ASSERT_TRUE(url);
    const QString path = url->toLocalFile();
    auto m = MovieProbe::probe(path);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->audio().size(), 1u);
    EXPECT_GT(MovieProbe::meanVolume(path, 0), -30) << "the track is silent";
}

// The settings a movie is written with: every container, codec and frame rate keeps each track's
// timing through the rewrite that finishes the file.
struct MovieKind {
    const char* name;
    PM::VideoContainer container;
    PM::VideoCodec codec;
    PM::VideoFrameRate rate;
};

class RecordingTimingTest : public RecordingSoundTest, public ::testing::WithParamInterface<MovieKind> {};

// A beep on the system output, then one on the microphone, then a window turning white, all within
// a second of the start: each beep lies in its track where it was heard and the white in the picture
// from the frame after it happened, measured on the capture clock.
TEST_P(RecordingTimingTest, TheFirstBeepsOfBothSourcesLieWhereTheyWereHeard) {
    const MovieKind kind = GetParam();
    live::Windows windows;
    const auto flash = windows.create(40, 40, 120, 90, 0x000000);
    live::SoundFeed system("zentola_sink", false), microphone("zentola_mic_sink", false);
    spinFor(2500);  // an idle null sink renders far ahead at first; its players' short latency takes over later
    RecorderHarness r(dir.path(), true);
    r.settings().setRecordAtRetina(false);
    r.settings().setVideoContainer(kind.container);
    r.settings().setVideoCodec(kind.codec);
    r.settings().setVideoFrameRate(kind.rate);
    r.settings().setAudioOption(PM::AudioOption::both);
    std::atomic<std::int64_t> systemOnset{0}, microphoneOnset{0};
    testing::internal::CaptureStdout();
    const bool started = r.start(CaptureMode::rect, SelectionRect{QPointF(0, 0), QSizeF(320, 240), 0});
    spinFor(200);
    system.startTone([&] { systemOnset = platform::CaptureClock::nowNanoseconds(); });
    spinFor(250);
    microphone.startTone([&] { microphoneOnset = platform::CaptureClock::nowNanoseconds(); });
    spinFor(150);
    const std::int64_t whiteAfter = platform::CaptureClock::nowNanoseconds();
    windows.fill(flash, 0xffffff);
    const std::int64_t whiteBy = platform::CaptureClock::nowNanoseconds();
    spinFor(700);
    const auto url = started ? r.stop() : std::nullopt;
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(started) << r.error().toStdString();
    ASSERT_TRUE(url) << log;
    const auto start = sessionStart(log);
    ASSERT_TRUE(start) << log;
    const QString path = url->toLocalFile();
    auto m = MovieProbe::probe(path);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->audio().size(), 2u);
    const std::pair<int, std::int64_t> beeps[] = {{0, systemOnset.load()}, {1, microphoneOnset.load()}};
    for (const auto& [track, onset] : beeps) {
        SCOPED_TRACE(track == 0 ? "system audio" : "microphone");
        const auto heard = MovieProbe::soundOnsets(path, track);
        ASSERT_EQ(heard.size(), 1u);
        const double expected = double(onset) / 1e9 - *start;
        EXPECT_LT(expected, 0.6) << "the beep came late in the recording";
        EXPECT_NEAR(heard[0], expected, 0.015);
    }
    // The first frame that shows the white was grabbed after it, within a frame interval (and a
    // margin for a busy machine), and lies in the frame slot nearest to its grab.
    const auto white = MovieProbe::pictureOnset(path, QRect(50, 50, 100, 70));
    ASSERT_TRUE(white);
    const double frame = 1.0 / (kind.rate == PM::VideoFrameRate::fps60 ? 60 : 30);
    EXPECT_GT(*white, double(whiteAfter) / 1e9 - *start - frame / 2 - 0.005);
    EXPECT_LT(*white, double(whiteBy) / 1e9 - *start + frame * 1.5 + 0.05);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKindOfMovie, RecordingTimingTest,
    ::testing::Values(MovieKind{"QuickTimeH264At30", PM::VideoContainer::mov, PM::VideoCodec::h264, PM::VideoFrameRate::fps30},
                      MovieKind{"Mpeg4H264At30", PM::VideoContainer::mp4, PM::VideoCodec::h264, PM::VideoFrameRate::fps30},
                      MovieKind{"QuickTimeH264At60", PM::VideoContainer::mov, PM::VideoCodec::h264, PM::VideoFrameRate::fps60},
                      MovieKind{"Mpeg4HevcAt60", PM::VideoContainer::mp4, PM::VideoCodec::hevc, PM::VideoFrameRate::fps60},
                      MovieKind{"QuickTimeHevcAt30", PM::VideoContainer::mov, PM::VideoCodec::hevc, PM::VideoFrameRate::fps30}),
    [](const auto& info) { return std::string(info.param.name); });

// The sound server is killed and started again while a tone plays on: once the sound is back it
// runs on without a hole, as a plain reader of the same output hears it.
TEST_F(RecordingSoundTest, SoundIsWholeOnceTheServerIsBack) {
    live::OwnPulseServer pulse(dir.path());
    ASSERT_TRUE(pulse.start());
    auto tone = std::make_unique<live::SoundFeed>("own_sink");
    RecorderHarness r(dir.path());
    r.settings().setRecordAtRetina(false);
    r.settings().setAudioOption(PM::AudioOption::systemAudio);
    ASSERT_TRUE(r.start(CaptureMode::rect, SelectionRect{QPointF(0, 0), QSizeF(320, 240), 0})) << r.error().toStdString();
    spinFor(1000);
    pulse.kill();
    tone.reset();
    spinFor(700);
    ASSERT_TRUE(pulse.start());
    tone = std::make_unique<live::SoundFeed>("own_sink");
    spinFor(4000);  // a fresh null sink delivers its first sound after a second or two
    const auto url = r.stop();
    ASSERT_TRUE(url);
    const QString path = url->toLocalFile();
    const auto onsets = MovieProbe::soundOnsets(path, 0);
    ASSERT_FALSE(onsets.empty()) << "the sound never came back";
    const double back = onsets.back();
    auto m = MovieProbe::probe(path);
    ASSERT_TRUE(m);
    EXPECT_GT(back, 1.5) << "the restart left no silence";
    EXPECT_LT(back, m->duration - 1.2) << "too little sound after the restart to judge";
    for (double hole : silences(path, 0, "silence_start:", 0.02))
        EXPECT_FALSE(hole > back && hole < m->duration - 0.1) << "a hole at " << hole << " s";
}

// A sound server that takes the connection and never answers: the start waits for it without
// blocking the main thread (the tray and the overlay go on), and fails once the server goes.
TEST_F(RecordingSoundTest, ASoundServerThatNeverAnswersDoesNotFreezeTheMainThread) {
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(dir.path() + "/silent"));
    live::OwnServer server("PULSE_SERVER", "unix:" + silent.fullServerName());
    RecorderHarness r(dir.path());
    r.settings().setRecordAtRetina(false);
    r.settings().setAudioOption(PM::AudioOption::systemAudio);
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(20);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (++ticks != 10)
            return;
        silent.close();
        while (QLocalSocket* connection = silent.nextPendingConnection())
            delete connection;
    });
    ticker.start();
    EXPECT_FALSE(r.start(CaptureMode::rect, SelectionRect{QPointF(0, 0), QSizeF(320, 240), 0}));
    EXPECT_GE(ticks, 10) << "the main thread stood still while the sound source opened";
    EXPECT_TRUE(r.error().contains("sound server")) << r.error().toStdString();
    EXPECT_EQ(r.manager().state(), RecordingState::idle);
}
