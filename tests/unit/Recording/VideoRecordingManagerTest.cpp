#include "Fakes.h"

#include "Features/Capture/VideoRecordingManager.h"
#include "Services/PersistenceManager.h"
#include "platform/capture/RunningApplication.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/desktop/UserNotice.h"
#include "platform/display/FakeScreenProvider.h"
#include "support/Printed.h"
#include "support/RunTask.h"
#include "support/WaitUntil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zentola;
using platform::FakeScreenProvider;
using platform::MediaTime;
using platform::SampleBuffer;
using platform::StreamOutputType;
using testing_support::runTask;
using PM = PersistenceManager;
using Case = VideoRecordingManager::RecordingErrorCase;
using Lines = std::vector<std::string>;

namespace {

SampleBuffer frame(double t) {
    return SampleBuffer::video(platform::Bitmap::create(2, 2, 8, platform::PixelFormat::BGRA,
                                                        platform::AlphaMode::opaque, std::vector<std::uint8_t>(16)),
                               MediaTime::fromSeconds(t));
}

class VideoRecordingManagerTest : public ::testing::Test {
protected:
    VideoRecordingManagerTest() {
        screens->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11, 2.0),
                              FakeScreenProvider::display("B", QRect(1920, 0, 1280, 1024), 22, 1.0),
                              FakeScreenProvider::display("C", QRect(3200, 0, 800, 600), 0, 1.0)});
        provider->content.displays = {{11, 960, 540, QRect(0, 0, 1920, 1080), 2.0, QRectF(0, 0, 960, 540)},
                                      {22, 1280, 1024, QRect(1920, 0, 1280, 1024), 1.0, QRectF(960, 0, 1280, 1024)}};
        provider->content.windows.resize(1);
        provider->content.windows[0].windowID = 501;
        provider->content.applications = {{"org.other.Editor", "editor", 10},
                                          {platform::RunningApplication::ownBundleIdentifier(), "zentola", 20}};
        platform::ScreenCaptureProvider::install(provider);
        platform::StreamSourceFactory::install(sources);
        platform::AssetWriter::setFactory([this](const std::string& path, platform::AssetWriter::FileType type) {
            auto w = std::make_shared<FakeMovieWriter>(path, type);
            w->refuseVideo = refuseVideo, w->refuseAudio = refuseAudio;
            writers.push_back(w);
            return w;
        });
        QDir().mkpath(dir.path() + "/Movies");
        settings.saveVideoFolderAccess(QUrl::fromLocalFile(dir.path() + "/Movies"));
        VideoRecordingManager::Environment env;
        env.persistence = [this]() -> PM& { return settings; };
        env.hasMicrophonePermission = [this] { return micPermission; };
        env.defaultAudioCaptureDeviceID = [] { return std::optional<QString>("mic-1"); };
        env.bundleIdentifier = [] { return platform::RunningApplication::ownBundleIdentifier(); };
        env.now = [this] { return clock; };
        manager = std::make_unique<VideoRecordingManager>(env);
    }
    ~VideoRecordingManagerTest() override {
        manager.reset();
        platform::AssetWriter::setFactory(nullptr);
        platform::StreamSourceFactory::install(nullptr);
        platform::ScreenCaptureProvider::install(nullptr);
    }

    // The recording's log lines, or the error case it failed with.
    Lines start(CaptureMode mode, std::optional<SelectionRect> rect = {}, std::optional<WindowInfo> window = {},
                platform::ScreenRef screen = {}) {
        CapturedStdout printed;
        try {
            runTask(manager->startRecording(mode, rect, window, screen));
        } catch (const VideoRecordingManager::RecordingError& e) {
            failure = e.errorCase();
        }
        return printed.lines();
    }
    std::optional<QUrl> stop(Lines* out = nullptr) {
        CapturedStdout printed;
        auto url = runTask(manager->stopRecording());
        *(out ? out : &ignored) = printed.lines();
        return url;
    }
    FakeMovieWriter& writer() { return *writers.back(); }
    FakeSources::Source& source(StreamOutputType type) { return sources->source(type); }
    // A frame, all the way through the video queue to the writer.
    void firstFrame() {
        source(StreamOutputType::screen).handlers.onSample(frame(5.0));
        ASSERT_TRUE(waitUntil([&] { return writer().input("video")->appended() >= 1; }));
    }
    std::string path() const { return manager->outputURL()->toLocalFile().toStdString(); }

    FakeScreenProvider::Installation screens = FakeScreenProvider::install();
    std::shared_ptr<FakeCaptureProvider> provider = std::make_shared<FakeCaptureProvider>();
    std::shared_ptr<FakeSources> sources = std::make_shared<FakeSources>();
    std::vector<std::shared_ptr<FakeMovieWriter>> writers;
    bool refuseVideo = false, refuseAudio = false, micPermission = true;
    std::optional<Case> failure;
    Lines ignored;
    QTemporaryDir dir;
    platform::DefaultsStore store{dir.path() + "/defaults.json"};
    PM settings{store};
    QDateTime clock = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7));
    std::unique_ptr<VideoRecordingManager> manager;
};

}  // namespace

TEST_F(VideoRecordingManagerTest, ScreenRecordingTurnsTheSettingsIntoStreamAndWriterConfiguration) {
    settings.setVideoContainer(PM::VideoContainer::mp4);
    settings.setVideoCodec(PM::VideoCodec::hevc);
    settings.setVideoFrameRate(PM::VideoFrameRate::fps60);
    settings.setAudioOption(PM::AudioOption::both);
    const std::string file = (dir.path() + "/Movies/Screen Recording 2026-03-04 at 05.06.07.mp4").toStdString();
    EXPECT_EQ(start(CaptureMode::screen), (Lines{"[VideoRecording] Starting recording - mode: screen",
                                                 "[VideoRecording] System audio input added to writer",
                                                 "[VideoRecording] Microphone input added to writer",
                                                 "[VideoRecording] System audio stream output added",
                                                 "[VideoRecording] Microphone stream output added",
                                                 "[VideoRecording] Recording started - output: " + file}));
    EXPECT_TRUE(manager->isRecording());
    // The main display at its backing scale: its frame in points times 2.
    const QSize size = (screens->list[0]->frame().size() * 2).toSize();
    EXPECT_EQ(writer().fileType(), platform::AssetWriter::FileType::mpeg4);
    EXPECT_EQ(writer().videoSettings->codec, platform::VideoOutputSettings::Codec::hevc);
    EXPECT_EQ(QSize(int(writer().videoSettings->width), int(writer().videoSettings->height)), size);
    ASSERT_EQ(writer().audioSettings.size(), 2u);
    EXPECT_FALSE(writer().audioSettings[1]) << "the microphone is stored as delivered";
    ASSERT_EQ(sources->configurations.size(), 3u);
    const auto& c = sources->configurations[0];
    EXPECT_EQ(QSize(int(c.width), int(c.height)), size);
    EXPECT_TRUE(c.showsCursor && c.capturesAudio && c.captureMicrophone && c.sourceRect.isNull());
    EXPECT_EQ(c.minimumFrameInterval, MediaTime::make(1, 60));
    EXPECT_EQ(c.microphoneCaptureDeviceID, std::optional<QString>("mic-1"));
    ASSERT_EQ(sources->filters[0].excludedApplications().size(), 1u);
    EXPECT_EQ(sources->filters[0].excludedApplications()[0].processID, 20) << "this application is left out";
    EXPECT_TRUE(std::all_of(sources->sources.begin(), sources->sources.end(), [](auto* s) { return s->running.load(); }));
    // The duration follows the clock on each tick and goes back to zero.
    EXPECT_EQ(manager->recordingDuration(), 0.0);
    clock = clock.addMSecs(1500);
    ASSERT_TRUE(waitUntil([&] { return manager->recordingDuration() > 0; }, 5000));
    EXPECT_DOUBLE_EQ(manager->recordingDuration(), 1.5);
    stop();
    EXPECT_EQ(manager->recordingDuration(), 0.0);
}

TEST_F(VideoRecordingManagerTest, WindowAndRectangleRecordingsTakeTheirSizeFromTheCaller) {
    WindowInfo window;
    window.id = 999;  // no longer listed: fails and leaves the remembered window alone
    window.title = "notes.txt";
    window.frame = QRectF(100, 100, 800, 600);
    const auto before = store.dictionaryRepresentation();
    start(CaptureMode::window, {}, window);
    EXPECT_EQ(failure, Case::windowNotFound);
    EXPECT_EQ(store.dictionaryRepresentation(), before);
    window.id = 501;  // on a display of scale 1, window mode still uses 2
    start(CaptureMode::window, {}, window, screens->list[1]);
    EXPECT_EQ(sources->filters[0].window().windowID, 501u);
    EXPECT_EQ(QSize(int(sources->configurations[0].width), int(sources->configurations[0].height)), QSize(1600, 1200));
    EXPECT_TRUE(store.dictionaryRepresentation().values().contains(QVariant(QString("notes.txt"))));
    stop();
    // A rectangle drawn on B, recorded from the display given, with its numbers unchanged.
    start(CaptureMode::rect, SelectionRect{QPointF(40, 30), QSizeF(321.5, 200.25), 22}, {}, screens->list[0]);
    EXPECT_EQ(sources->filters[1].display().displayID, 11u);
    EXPECT_EQ(sources->configurations[1].sourceRect, QRectF(40, 30, 321.5, 200.25));
    EXPECT_EQ(QSize(int(sources->configurations[1].width), int(sources->configurations[1].height)), QSize(643, 400));
    stop();
    // Any stored rate but 60 records at 30; retina off keeps points; no microphone without permission.
    store.setInteger("zentola.videoFrameRate", 45);
    settings.setRecordAtRetina(false);
    settings.setAudioOption(PM::AudioOption::microphone);
    micPermission = false;
    EXPECT_EQ(start(CaptureMode::screen, {}, {}, screens->list[1]).size(), 2u) << "and no word about it";
    ASSERT_EQ(sources->configurations.size(), 3u);
    EXPECT_EQ(sources->configurations[2].minimumFrameInterval, MediaTime::make(1, 30));
    EXPECT_EQ(sources->configurations[2].width, qint64(screens->list[1]->frame().width()));
    EXPECT_FALSE(sources->configurations[2].captureMicrophone);
    EXPECT_EQ(writer().fileType(), platform::AssetWriter::FileType::quickTimeMovie);
    EXPECT_EQ(writer().videoSettings->codec, platform::VideoOutputSettings::Codec::h264);
    EXPECT_TRUE(writer().audioSettings.empty());
    stop();
    // A whole display of scale 1 beside one of scale 2, at its backing scale: its own pixels.
    settings.setRecordAtRetina(true);
    start(CaptureMode::screen, {}, {}, screens->list[1]);
    EXPECT_EQ(QSize(int(sources->configurations.back().width), int(sources->configurations.back().height)),
              QSize(1280, 1024));
}

TEST_F(VideoRecordingManagerTest, FailedStartsLeaveNothingBehindAndRefusedAudioInputsAreOnlyLogged) {
    for (auto [mode, screen, expected] : {std::tuple{CaptureMode::window, platform::ScreenRef(), Case::windowNotFound},
                                          {CaptureMode::rect, platform::ScreenRef(), Case::invalidRect},
                                          {CaptureMode::screen, screens->list[2], Case::displayNotFound}}) {
        failure.reset();
        start(mode, {}, {}, screen);
        EXPECT_EQ(failure, expected);
    }
    EXPECT_EQ(provider->requests, 1) << "a missing window or rectangle fails before the platform is asked";
    refuseVideo = true;
    start(CaptureMode::screen);
    EXPECT_EQ(failure, Case::cannotAddVideoInput);
    EXPECT_EQ(manager->state(), RecordingState::idle);
    EXPECT_FALSE(manager->outputURL() || manager->writerContext().getWriterAndInputs().writer);

    refuseVideo = false, refuseAudio = true;
    settings.setAudioOption(PM::AudioOption::both);
    const Lines out = start(CaptureMode::screen);
    EXPECT_TRUE(manager->isRecording());
    EXPECT_EQ(Lines(out.begin() + 1, out.begin() + 4), (Lines{"[VideoRecording] Cannot add system audio input to writer",
                                                              "[VideoRecording] Cannot add microphone input to writer",
                                                              "[VideoRecording] System audio stream output added"}));
    EXPECT_EQ(sources->sources.size(), 3u);
    EXPECT_FALSE(manager->writerContext().getWriterAndInputs().audioInput);
}

TEST_F(VideoRecordingManagerTest, AStopBeforeAnyFrameWritesNothingAndOverlappingStartsAndStopsAreRefused) {
    start(CaptureMode::screen);
    const std::string file = path();
    Lines out;
    EXPECT_FALSE(stop(&out));
    EXPECT_EQ(out, (Lines{"[VideoRecording] Stopping recording...", "[VideoRecording] Writer status before finish: 0",
                          "[VideoRecording] Writer not in writing state, status: 0"}));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(file)) || manager->outputURL());
    EXPECT_TRUE(writer().events().empty()) << "the writer was neither started nor finished";
    EXPECT_FALSE(stop(&out));
    EXPECT_EQ(out, Lines{"[VideoRecording] Not recording"});

    provider->gate = platform::Completion<void>();
    auto first = manager->startRecording(CaptureMode::screen, {}, {}, {});
    start(CaptureMode::screen);
    EXPECT_EQ(failure, Case::recordingInProgress) << "a second start while the first waits";
    provider->gate->resolve();
    runTask(std::move(first));
    EXPECT_EQ(start(CaptureMode::screen), Lines{"[VideoRecording] Already recording or stopping"});
    firstFrame();
    auto stopping = manager->stopRecording();
    EXPECT_EQ(manager->state(), RecordingState::stopping);
    EXPECT_FALSE(stop(&out));
    EXPECT_EQ(out, Lines{"[VideoRecording] Not recording"});
    EXPECT_EQ(start(CaptureMode::screen), Lines{"[VideoRecording] Already recording or stopping"});
    EXPECT_TRUE(runTask(std::move(stopping)));
    EXPECT_EQ(writers.size(), 2u);
}

TEST_F(VideoRecordingManagerTest, RecordingsInTheSameSecondGetFreeNamesAndTheStopFinishesInputsInOrder) {
    settings.setAudioOption(PM::AudioOption::both);
    for (const char* suffix : {"", " (2)", " (3)"}) {
        start(CaptureMode::screen);
        const std::string file = path();
        EXPECT_EQ(file, (dir.path() + "/Movies/Screen Recording 2026-03-04 at 05.06.07" + suffix + ".mov").toStdString());
        firstFrame();
        source(StreamOutputType::audio).handlers.onSample(SampleBuffer::audio({0, 0, 0, 0}, {}, MediaTime::fromSeconds(5)));
        ASSERT_TRUE(waitUntil([&] { return writer().input("systemAudio")->appended() == 1; }));
        Lines out;
        EXPECT_EQ(stop(&out), QUrl::fromLocalFile(QString::fromStdString(file)));
        EXPECT_EQ(out, (Lines{"[VideoRecording] Stopping recording...", "[VideoRecording] Writer status before finish: 1",
                              "[VideoRecording] Writer status after finish: 2", "[VideoRecording] Recording saved: " + file}));
        const auto events = writer().events();
        EXPECT_EQ(Lines(events.end() - 4, events.end()),
                  (Lines{"finish video", "finish systemAudio", "finish microphone", "finishWriting"}));
    }
}

// Frames lost on the way are told at the stop, after the movie is saved; none lost, nothing told.
TEST_F(VideoRecordingManagerTest, TheStopTellsHowManyFramesWereDroppedAndTheLongestGap) {
    start(CaptureMode::screen);
    firstFrame();
    for (double t : {5.0 + 1 / 30.0, 5.2})
        source(StreamOutputType::screen).handlers.onSample(frame(t));
    ASSERT_TRUE(waitUntil([&] { return writer().input("video")->appended() == 3; }));
    Lines out;
    EXPECT_TRUE(stop(&out));
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[3], "[VideoRecording] Recording saved: " + writer().path());
    EXPECT_EQ(out[4], "[VideoRecording] Dropped 4 frames, longest gap 167 ms");
}

// No room to finish the movie as a regular one: it is saved as it was written, and the log and the
// user are told why, once.
TEST_F(VideoRecordingManagerTest, AMovieKeptAsWrittenIsSavedAndTheUserIsToldWhy) {
    std::vector<std::pair<QString, QString>> notices;
    platform::UserNotice::setFallback([&](const QString& title, const QString& body) {
        notices.emplace_back(title, body);
        return true;
    });
    start(CaptureMode::screen);
    firstFrame();
    const std::string file = path();
    writer().kept = platform::PlatformError("FileSystem", 28, "not enough room on the disk to finish it");
    Lines out;
    EXPECT_EQ(stop(&out), QUrl::fromLocalFile(QString::fromStdString(file)));
    platform::UserNotice::setFallback({});
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[3], "[VideoRecording] Recording saved: " + file);
    EXPECT_EQ(out[4], "[VideoRecording] Recording kept as written while recording, not finished as a regular movie: "
                      "not enough room on the disk to finish it");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].first, "Recording kept as recorded");
    EXPECT_TRUE(notices[0].second.contains(QFileInfo(QString::fromStdString(file)).fileName())) << notices[0].second.toStdString();
    EXPECT_TRUE(notices[0].second.contains("not enough room on the disk")) << notices[0].second.toStdString();
}

TEST_F(VideoRecordingManagerTest, AWriterThatFailsEndsItsRecordingAtOnceAndIsNotReportedAsSaved) {
    start(CaptureMode::screen);
    firstFrame();
    QFile partial(QString::fromStdString(path()));
    ASSERT_TRUE(partial.open(QIODevice::WriteOnly));  // what the writer managed to write
    CapturedStdout printed;
    writer().failWith("No space left on device");
    for (int i = 0; i < 3; ++i)
        source(StreamOutputType::screen).handlers.onSample(frame(5.1 + i));
    ASSERT_TRUE(waitUntil([&] { return manager->state() == RecordingState::idle; }));
    EXPECT_EQ(printed.lines(),
              (Lines{"[VideoRecording] Writer failed: No space left on device", "[VideoRecording] Stopping recording...",
                     "[VideoRecording] Writer status before finish: 3",
                     "[VideoRecording] Writer not in writing state, status: 3",
                     "[VideoRecording] Partial recording kept: " + partial.fileName().toStdString()}));
    // A finish that fails is no saved movie either.
    start(CaptureMode::screen);
    writer().finishStatus = platform::AssetWriter::Status::failed;
    firstFrame();
    Lines out;
    EXPECT_FALSE(stop(&out));
    EXPECT_EQ(Lines(out.begin() + 2, out.end()), (Lines{"[VideoRecording] Writer status after finish: 3",
                                                        "[VideoRecording] Error saving recording: disk full"}));
}

// A sound server that goes is only an interruption; a source that dies ends the recording, which is
// finished and kept as on a stop, even when it dies while a stop is under way.
TEST_F(VideoRecordingManagerTest, TheSoundServerGoingIsLoggedEachWayAndALostStreamFinishesTheMovie) {
    settings.setAudioOption(PM::AudioOption::both);
    start(CaptureMode::screen);
    firstFrame();
    const std::string file = path();
    CapturedStdout printed;
    const platform::PlatformError lost("AudioCapture", 6, "Lost the sound server: Connection terminated");
    for (auto type : {StreamOutputType::audio, StreamOutputType::microphone})
        source(type).handlers.onInterruption(lost);
    for (auto type : {StreamOutputType::microphone, StreamOutputType::audio})
        source(type).handlers.onInterruption(std::nullopt);
    spinFor(50);
    EXPECT_TRUE(manager->isRecording());
    source(StreamOutputType::screen).handlers.onFailure(platform::PlatformError("X11", 3, "The window was closed"));
    ASSERT_TRUE(waitUntil([&] { return manager->state() == RecordingState::idle; }));
    auto out = printed.lines();
    EXPECT_EQ(Lines(out.begin(), out.begin() + 5),
              (Lines{"[VideoRecording] Sound server lost, recording silence until it is back: " + lost.description(),
                     "[VideoRecording] Sound server is back, recording sound again",
                     "[VideoRecording] Stream stopped with error: The window was closed",
                     "[VideoRecording] Force cleaning up orphaned stream", "[VideoRecording] Stopping recording..."}));
    EXPECT_EQ(out.back(), "[VideoRecording] Recording saved: " + file);
    // A source that dies while the stop is stopping it: the orphan's stop finds the stop under way.
    start(CaptureMode::screen);
    firstFrame();
    source(StreamOutputType::screen).failsWhileStopping = true;
    EXPECT_TRUE(stop(&out));
    EXPECT_EQ(Lines(out.begin(), out.begin() + 5), (Lines{"[VideoRecording] Stopping recording...",
                                                          "[VideoRecording] Stream stopped with error: gone",
                                                          "[VideoRecording] Force cleaning up orphaned stream",
                                                          "[VideoRecording] Not recording",
                                                          "[VideoRecording] Writer status before finish: 1"}));
}
