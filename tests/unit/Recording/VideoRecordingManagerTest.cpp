#include "FakeCapturePlatform.h"
#include "FakeMovieWriter.h"
#include "LogLines.h"

#include "Features/Capture/VideoRecordingManager.h"
#include "Services/PersistenceManager.h"
#include "platform/capture/RunningApplication.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/display/FakeScreenProvider.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <qcoro/qcorotask.h>

#include <gtest/gtest.h>

using namespace zentola;
using platform::FakeScreenProvider;
using platform::MediaTime;
using platform::SampleBuffer;
using platform::StreamOutputType;
using PM = PersistenceManager;
using Case = VideoRecordingManager::RecordingErrorCase;

namespace {

template <typename F>
bool eventually(F done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    return done();
}

platform::BitmapRef pixels() {
    return platform::Bitmap::create(2, 2, 8, platform::PixelFormat::BGRA, platform::AlphaMode::opaque,
                                    std::vector<std::uint8_t>(16, 0));
}

// The error a start ends with. (waitFor itself cannot carry an exception out of the task.)
template <typename T>
std::optional<Case> errorOf(QCoro::Task<T> task) {
    std::optional<Case> result;
    QCoro::waitFor([](QCoro::Task<T> t, std::optional<Case>& r) -> QCoro::Task<void> {
        try {
            co_await std::move(t);
        } catch (const VideoRecordingManager::RecordingError& e) {
            r = e.errorCase();
        } catch (...) {
        }
    }(std::move(task), result));
    return result;
}

class VideoRecordingManagerTest : public ::testing::Test {
protected:
    VideoRecordingManagerTest() {
        screens->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11, 2.0),
                              FakeScreenProvider::display("B", QRect(1920, 0, 1280, 1024), 22, 1.0),
                              FakeScreenProvider::display("C", QRect(3200, 0, 800, 600), 0, 1.0)});
        platform::ShareableDisplay a{11, 960, 540, QRect(0, 0, 1920, 1080), 2.0, QRectF(0, 0, 960, 540)};
        platform::ShareableDisplay b{22, 1280, 1024, QRect(1920, 0, 1280, 1024), 1.0, QRectF(960, 0, 1280, 1024)};
        provider->content.displays = {a, b};
        platform::ShareableWindow w;
        w.windowID = 501;
        w.frame = QRectF(10, 10, 700, 500);
        provider->content.windows = {w};
        provider->content.applications = {{"org.other.Editor", "editor", 10},
                                          {platform::RunningApplication::ownBundleIdentifier(), "zentola", 20}};
        platform::ScreenCaptureProvider::install(provider);
        platform::StreamSourceFactory::install(sources);
        platform::AssetWriter::setFactory([this](const std::string& path, platform::AssetWriter::FileType type) {
            auto w = std::make_shared<FakeMovieWriter>(path, type);
            w->refuseVideo = refuseVideo;
            w->refuseAudio = refuseAudio;
            w->refuseMicrophone = refuseMicrophone;
            writers.push_back(w);
            return w;
        });
        QDir().mkpath(folder());
        settings.saveVideoFolderAccess(QUrl::fromLocalFile(folder()));

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

    QString folder() const { return dir.path() + "/Movies"; }
    platform::ScreenRef display(int i) const { return screens->list[std::size_t(i)]; }
    void start(CaptureMode mode, std::optional<SelectionRect> rect = {}, std::optional<WindowInfo> window = {},
               platform::ScreenRef screen = {}) {
        QCoro::waitFor(manager->startRecording(mode, rect, window, screen));
    }
    FakeMovieWriter& writer() { return *writers.back(); }
    // The first frame has gone all the way through the video queue, so its log line is out too.
    bool firstFrameWritten() {
        return eventually([&] {
            if (writer().status() != platform::AssetWriter::Status::writing)
                return false;
            for (const auto& input : writer().added)
                if (input->name == "video" && input->appended >= 1)
                    return true;
            return false;
        });
    }

    FakeScreenProvider::Installation screens = FakeScreenProvider::install();
    std::shared_ptr<FakeCaptureProvider> provider = std::make_shared<FakeCaptureProvider>();
    std::shared_ptr<FakeSourceFactory> sources = std::make_shared<FakeSourceFactory>();
    std::vector<std::shared_ptr<FakeMovieWriter>> writers;
    bool refuseVideo = false, refuseAudio = false, refuseMicrophone = false;
    QTemporaryDir dir;
    platform::DefaultsStore store{dir.path() + "/defaults.json"};
    PM settings{store};
    bool micPermission = true;
    QDateTime clock = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7));
    std::unique_ptr<VideoRecordingManager> manager;
};

}  // namespace

TEST_F(VideoRecordingManagerTest, ScreenRecordingTurnsTheSettingsIntoStreamAndWriterConfiguration) {
    settings.setVideoContainer(PM::VideoContainer::mp4);
    settings.setVideoCodec(PM::VideoCodec::hevc);
    settings.setVideoFrameRate(PM::VideoFrameRate::fps60);
    settings.setAudioOption(PM::AudioOption::both);
    QSignalSpy states(manager.get(), &VideoRecordingManager::stateChanged);

    testing::internal::CaptureStdout();
    start(CaptureMode::screen);
    auto out = lines(testing::internal::GetCapturedStdout());

    const QString path = folder() + "/Screen Recording 2026-03-04 at 05.06.07.mp4";
    EXPECT_EQ(out, (std::vector<std::string>{
                       "[VideoRecording] Starting recording - mode: screen",
                       "[VideoRecording] System audio input added to writer",
                       "[VideoRecording] Microphone input added to writer",
                       "[VideoRecording] System audio stream output added",
                       "[VideoRecording] Microphone stream output added",
                       "[VideoRecording] Recording started - output: " + path.toStdString(),
                   }));
    EXPECT_EQ(manager->state(), RecordingState::recording);
    EXPECT_TRUE(manager->isRecording());
    EXPECT_EQ(states.count(), 1);
    EXPECT_EQ(manager->outputURL(), QUrl::fromLocalFile(path));

    // The main display at its backing scale: frame in points times 2.
    const qint64 w = qint64(display(0)->frame().width() * 2), h = qint64(display(0)->frame().height() * 2);
    ASSERT_EQ(writers.size(), 1u);
    EXPECT_EQ(writer().path(), path.toStdString());
    EXPECT_EQ(writer().fileType(), platform::AssetWriter::FileType::mpeg4);
    ASSERT_TRUE(writer().videoSettings);
    EXPECT_EQ(writer().videoSettings->codec, platform::VideoOutputSettings::Codec::hevc);
    EXPECT_EQ(writer().videoSettings->width, w);
    EXPECT_EQ(writer().videoSettings->height, h);
    EXPECT_EQ(writer().adaptorAttributes->pixelFormat, 0x42475241u);
    EXPECT_EQ(writer().adaptorAttributes->width, w);
    ASSERT_EQ(writer().audioSettings.size(), 2u);
    ASSERT_TRUE(writer().audioSettings[0]);
    EXPECT_EQ(writer().audioSettings[0]->formatID, 0x61616320u);
    EXPECT_EQ(writer().audioSettings[0]->sampleRate, 48000);
    EXPECT_EQ(writer().audioSettings[0]->channelCount, 2);
    EXPECT_EQ(writer().audioSettings[0]->bitRate, 128000);
    EXPECT_FALSE(writer().audioSettings[1]) << "the microphone is stored as delivered";
    for (auto& input : writer().added)
        EXPECT_TRUE(input->realTime);

    ASSERT_EQ(sources->configurations.size(), 3u);
    const auto& c = sources->configurations[0];
    EXPECT_EQ(c.width, w);
    EXPECT_EQ(c.height, h);
    EXPECT_EQ(c.pixelFormat, 0x42475241u);
    EXPECT_TRUE(c.showsCursor);
    EXPECT_EQ(c.minimumFrameInterval, MediaTime::make(1, 60));
    EXPECT_TRUE(c.capturesAudio);
    EXPECT_EQ(c.sampleRate, 48000);
    EXPECT_EQ(c.channelCount, 2);
    EXPECT_TRUE(c.captureMicrophone);
    EXPECT_EQ(c.microphoneCaptureDeviceID, std::optional<QString>("mic-1"));
    EXPECT_TRUE(c.sourceRect.isNull());
    const auto& f = sources->filters[0];
    EXPECT_EQ(f.kind(), platform::ContentFilter::Kind::display);
    EXPECT_EQ(f.display().displayID, 11u);
    ASSERT_EQ(f.excludedApplications().size(), 1u);
    EXPECT_EQ(f.excludedApplications()[0].bundleIdentifier, platform::RunningApplication::ownBundleIdentifier());
    EXPECT_TRUE(f.exceptedWindows().empty());
    for (auto* s : sources->sources)
        EXPECT_TRUE(s->running);
}

TEST_F(VideoRecordingManagerTest, AnyStoredRateButSixtyRecordsAtThirtyAndRetinaOffKeepsPoints) {
    store.setInteger("zentola.videoFrameRate", 45);
    settings.setRecordAtRetina(false);
    testing::internal::CaptureStdout();
    start(CaptureMode::screen, {}, {}, display(1));
    auto out = lines(testing::internal::GetCapturedStdout());
    EXPECT_EQ(out.size(), 2u) << "no audio lines without audio";
    ASSERT_EQ(sources->configurations.size(), 1u);
    EXPECT_EQ(sources->configurations[0].minimumFrameInterval, MediaTime::make(1, 30));
    EXPECT_EQ(sources->configurations[0].width, qint64(display(1)->frame().width()));
    EXPECT_FALSE(sources->configurations[0].capturesAudio);
    EXPECT_EQ(sources->filters[0].display().displayID, 22u);
    EXPECT_EQ(writer().fileType(), platform::AssetWriter::FileType::quickTimeMovie);
    EXPECT_EQ(writer().videoSettings->codec, platform::VideoOutputSettings::Codec::h264);
    EXPECT_TRUE(writer().audioSettings.empty());
    EXPECT_TRUE(QString::fromStdString(writer().path()).endsWith(".mov"));
}

TEST_F(VideoRecordingManagerTest, WindowRecordingUsesScaleTwoAndTheCallersFrameAndRemembersTheWindow) {
    WindowInfo window;
    window.id = 501;
    window.frame = QRectF(100, 100, 800, 600);
    window.ownerName = "Editor";
    window.title = "notes.txt";
    // The target display has scale 1; window mode uses 2 regardless.
    start(CaptureMode::window, {}, window, display(1));
    EXPECT_EQ(sources->filters[0].kind(), platform::ContentFilter::Kind::desktopIndependentWindow);
    EXPECT_EQ(sources->filters[0].window().windowID, 501u);
    EXPECT_EQ(sources->configurations[0].width, 1600);
    EXPECT_EQ(sources->configurations[0].height, 1200);
    EXPECT_TRUE(store.dictionaryRepresentation().values().contains(QVariant(QString("notes.txt"))));
}

TEST_F(VideoRecordingManagerTest, AWindowNoLongerListedFailsAndLeavesTheRememberedWindowAlone) {
    WindowInfo window;
    window.id = 999;
    window.title = "gone";
    window.frame = QRectF(0, 0, 10, 10);
    auto before = store.dictionaryRepresentation();
    EXPECT_EQ(errorOf(manager->startRecording(CaptureMode::window, {}, window, {})), Case::windowNotFound);
    EXPECT_EQ(store.dictionaryRepresentation(), before);
    EXPECT_EQ(manager->state(), RecordingState::idle);
}

TEST_F(VideoRecordingManagerTest, RectangleRecordingUsesTheGivenDisplayAndTheRectangleAsStored) {
    SelectionRect rect{QPointF(40, 30), QSizeF(321.5, 200.25), 22};
    start(CaptureMode::rect, rect, {}, display(0));
    EXPECT_EQ(sources->filters[0].display().displayID, 11u);
    EXPECT_EQ(sources->configurations[0].sourceRect, QRectF(40, 30, 321.5, 200.25));
    EXPECT_EQ(sources->configurations[0].width, 643);
    EXPECT_EQ(sources->configurations[0].height, 400);
}

TEST_F(VideoRecordingManagerTest, MissingChoicesFailBeforeThePlatformIsAsked) {
    EXPECT_EQ(errorOf(manager->startRecording(CaptureMode::window, {}, {}, {})), Case::windowNotFound);
    EXPECT_EQ(errorOf(manager->startRecording(CaptureMode::rect, {}, {}, {})), Case::invalidRect);
    EXPECT_EQ(provider->requests, 0);
    // A display without a number, and a display the content does not list.
    EXPECT_EQ(errorOf(manager->startRecording(CaptureMode::screen, {}, {}, display(2))), Case::displayNotFound);
    provider->content.displays.pop_back();
    EXPECT_EQ(errorOf(manager->startRecording(CaptureMode::screen, {}, {}, display(1))), Case::displayNotFound);
    EXPECT_TRUE(writers.empty());
    EXPECT_EQ(manager->state(), RecordingState::idle);
}

TEST_F(VideoRecordingManagerTest, ARefusedVideoInputFailsAndLeavesNothingArmed) {
    refuseVideo = true;
    EXPECT_EQ(errorOf(manager->startRecording(CaptureMode::screen, {}, {}, {})), Case::cannotAddVideoInput);
    EXPECT_EQ(manager->state(), RecordingState::idle);
    EXPECT_FALSE(manager->outputURL());
    EXPECT_FALSE(manager->writerContext().getWriterAndInputs().writer);
    // A later start works.
    refuseVideo = false;
    start(CaptureMode::screen);
    EXPECT_TRUE(manager->isRecording());
}

TEST_F(VideoRecordingManagerTest, RefusedAudioInputsAreLoggedAndTheirStreamOutputsStillAdded) {
    settings.setAudioOption(PM::AudioOption::both);
    refuseAudio = true;
    refuseMicrophone = true;
    testing::internal::CaptureStdout();
    start(CaptureMode::screen);
    auto out = lines(testing::internal::GetCapturedStdout());
    EXPECT_EQ(out[1], "[VideoRecording] Cannot add system audio input to writer");
    EXPECT_EQ(out[2], "[VideoRecording] Cannot add microphone input to writer");
    EXPECT_EQ(out[3], "[VideoRecording] System audio stream output added");
    EXPECT_EQ(sources->sources.size(), 3u);
    auto snapshot = manager->writerContext().getWriterAndInputs();
    EXPECT_FALSE(snapshot.audioInput);
    EXPECT_FALSE(snapshot.microphoneInput);
}

TEST_F(VideoRecordingManagerTest, TheMicrophoneWithoutPermissionIsLeftOutSilently) {
    settings.setAudioOption(PM::AudioOption::microphone);
    micPermission = false;
    testing::internal::CaptureStdout();
    start(CaptureMode::screen);
    auto out = lines(testing::internal::GetCapturedStdout());
    EXPECT_EQ(out.size(), 2u);
    EXPECT_EQ(sources->sources.size(), 1u);
    EXPECT_FALSE(sources->configurations[0].captureMicrophone);
    EXPECT_TRUE(writer().audioSettings.empty());
}

TEST_F(VideoRecordingManagerTest, ASecondStartWhileTheFirstWaitsIsRefusedAndAStartWhileRecordingDoesNothing) {
    provider->gate = platform::Completion<void>();
    auto first = manager->startRecording(CaptureMode::screen, {}, {}, {});
    EXPECT_EQ(errorOf(manager->startRecording(CaptureMode::screen, {}, {}, {})), Case::recordingInProgress);
    provider->gate->resolve();
    QCoro::waitFor(std::move(first));
    EXPECT_TRUE(manager->isRecording());
    EXPECT_EQ(writers.size(), 1u);

    provider->gate.reset();
    testing::internal::CaptureStdout();
    start(CaptureMode::screen);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[VideoRecording] Already recording or stopping\n");
    EXPECT_EQ(writers.size(), 1u);
}

TEST_F(VideoRecordingManagerTest, AStopBeforeAnyFrameWritesNothingAndReturnsNone) {
    start(CaptureMode::screen);
    const QString path = manager->outputURL()->toLocalFile();
    testing::internal::CaptureStdout();
    auto result = QCoro::waitFor(manager->stopRecording());
    EXPECT_EQ(lines(testing::internal::GetCapturedStdout()),
              (std::vector<std::string>{"[VideoRecording] Stopping recording...",
                                        "[VideoRecording] Writer status before finish: 0",
                                        "[VideoRecording] Writer not in writing state, status: 0"}));
    EXPECT_FALSE(result);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(manager->state(), RecordingState::idle);
    EXPECT_FALSE(manager->outputURL());
    EXPECT_TRUE(writer().events().empty()) << "the writer was neither started nor finished";

    testing::internal::CaptureStdout();
    EXPECT_FALSE(QCoro::waitFor(manager->stopRecording()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[VideoRecording] Not recording\n");
}

TEST_F(VideoRecordingManagerTest, FramesAndSoundReachTheWriterAndTheStopFinishesInputsInOrder) {
    settings.setAudioOption(PM::AudioOption::both);
    start(CaptureMode::screen);
    auto* screen = sources->source(StreamOutputType::screen);
    auto* audio = sources->source(StreamOutputType::audio);
    auto* mic = sources->source(StreamOutputType::microphone);
    screen->onSample(SampleBuffer::video(pixels(), MediaTime::fromSeconds(5.0)));
    ASSERT_TRUE(firstFrameWritten());
    audio->onSample(SampleBuffer::audio(std::vector<std::uint8_t>(64), {}, MediaTime::fromSeconds(5.01)));
    mic->onSample(SampleBuffer::audio(std::vector<std::uint8_t>(64), {}, MediaTime::fromSeconds(5.01)));
    ASSERT_TRUE(eventually([&] { return writer().added[1]->appended == 1 && writer().added[2]->appended == 1; }));

    const QString path = manager->outputURL()->toLocalFile();
    testing::internal::CaptureStdout();
    auto result = QCoro::waitFor(manager->stopRecording());
    EXPECT_EQ(lines(testing::internal::GetCapturedStdout()),
              (std::vector<std::string>{"[VideoRecording] Stopping recording...",
                                        "[VideoRecording] Writer status before finish: 1",
                                        "[VideoRecording] Writer status after finish: 2",
                                        "[VideoRecording] Recording saved: " + path.toStdString()}));
    EXPECT_EQ(result, QUrl::fromLocalFile(path));
    auto events = writer().events();
    EXPECT_EQ(std::vector<std::string>(events.end() - 4, events.end()),
              (std::vector<std::string>{"finish video", "finish systemAudio", "finish microphone", "finishWriting"}));
    EXPECT_EQ(manager->state(), RecordingState::idle);
}

TEST_F(VideoRecordingManagerTest, AFailedWriterOrAFailedFinishReportsTheErrorAndNoLocation) {
    start(CaptureMode::screen);
    sources->source(StreamOutputType::screen)->onSample(SampleBuffer::video(pixels(), MediaTime::fromSeconds(1)));
    ASSERT_TRUE(firstFrameWritten());
    writer().failWith("No space left on device");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(QCoro::waitFor(manager->stopRecording()));
    EXPECT_EQ(lines(testing::internal::GetCapturedStdout()),
              (std::vector<std::string>{"[VideoRecording] Stopping recording...",
                                        "[VideoRecording] Writer status before finish: 3",
                                        "[VideoRecording] Writer not in writing state, status: 3",
                                        "[VideoRecording] Writer error: No space left on device"}));

    start(CaptureMode::screen);
    writer().finishStatus = platform::AssetWriter::Status::failed;
    sources->source(StreamOutputType::screen)->onSample(SampleBuffer::video(pixels(), MediaTime::fromSeconds(1)));
    ASSERT_TRUE(firstFrameWritten());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(QCoro::waitFor(manager->stopRecording()));
    auto out = lines(testing::internal::GetCapturedStdout());
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[2], "[VideoRecording] Writer status after finish: 3");
    EXPECT_EQ(out[3], "[VideoRecording] Error saving recording: disk full");
}

TEST_F(VideoRecordingManagerTest, ASecondStopWhileTheFirstFinishesReturnsNoneAtOnce) {
    start(CaptureMode::screen);
    sources->source(StreamOutputType::screen)->onSample(SampleBuffer::video(pixels(), MediaTime::fromSeconds(1)));
    ASSERT_TRUE(firstFrameWritten());
    auto first = manager->stopRecording();
    EXPECT_EQ(manager->state(), RecordingState::stopping);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(QCoro::waitFor(manager->stopRecording()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[VideoRecording] Not recording\n");
    // A start while stopping is refused the same way as one while recording.
    testing::internal::CaptureStdout();
    start(CaptureMode::screen);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[VideoRecording] Already recording or stopping\n");
    EXPECT_TRUE(QCoro::waitFor(std::move(first)));
    EXPECT_EQ(manager->state(), RecordingState::idle);
}

TEST_F(VideoRecordingManagerTest, ALostStreamFinishesTheMovieAndEndsIdle) {
    start(CaptureMode::screen);
    auto* screen = sources->source(StreamOutputType::screen);
    screen->onSample(SampleBuffer::video(pixels(), MediaTime::fromSeconds(1)));
    ASSERT_TRUE(firstFrameWritten());
    const QString path = manager->outputURL()->toLocalFile();
    testing::internal::CaptureStdout();
    screen->onFailure(platform::PlatformError("X11", 3, "The window was closed"));
    ASSERT_TRUE(eventually([&] { return manager->state() == RecordingState::idle; }));
    auto out = lines(testing::internal::GetCapturedStdout());
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out[0], "[VideoRecording] Stream stopped with error: The window was closed");
    EXPECT_EQ(out[1], "[VideoRecording] Force cleaning up orphaned stream");
    EXPECT_EQ(out[2], "[VideoRecording] Stopping recording...");
    EXPECT_EQ(out.back(), "[VideoRecording] Recording saved: " + path.toStdString());
    EXPECT_TRUE(QFile::exists(path));
}

TEST_F(VideoRecordingManagerTest, DurationFollowsTheClockOnEachTickAndReturnsToZero) {
    QSignalSpy durations(manager.get(), &VideoRecordingManager::recordingDurationChanged);
    start(CaptureMode::screen);
    EXPECT_EQ(manager->recordingDuration(), 0.0);
    clock = clock.addMSecs(1500);
    ASSERT_TRUE(durations.wait(5000));
    ASSERT_TRUE(eventually([&] { return manager->recordingDuration() > 0; }));
    EXPECT_DOUBLE_EQ(manager->recordingDuration(), 1.5);
    QCoro::waitFor(manager->stopRecording());
    EXPECT_EQ(manager->recordingDuration(), 0.0);
}
