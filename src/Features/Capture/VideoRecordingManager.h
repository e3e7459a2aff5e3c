#pragma once

#include "Features/Capture/VideoWriterContext.h"
#include "Models/CaptureMode.h"
#include "Models/RecordingState.h"
#include "Models/SelectionRect.h"
#include "Models/WindowInfo.h"
#include "platform/capture/ShareableContent.h"
#include "platform/core/Error.h"
#include "platform/display/Screen.h"
#include "platform/stream/Stream.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>

namespace zentola {

class PersistenceManager;

// Records one display, one window or one rectangle of a display into a movie file: frames and sound
// from a platform::Stream, written by a platform::AssetWriter through the writer context. All state
// lives on the main thread except the writer context, which the three sample queues share.
class VideoRecordingManager : public QObject, public platform::StreamDelegate, public platform::StreamOutput {
    Q_OBJECT

public:
    enum class RecordingErrorCase {
        displayNotFound,
        windowNotFound,
        invalidRect,
        noFolderAccess,
        cannotAddVideoInput,
        recordingInProgress,
        microphoneNotAvailable,
    };
    class RecordingError : public platform::EnumError<RecordingErrorCase> {
    public:
        explicit RecordingError(RecordingErrorCase c);
    };

    // What the recorder reads from the rest of the application; shared() uses the real ones.
    struct Environment {
        std::function<PersistenceManager&()> persistence;
        std::function<bool()> hasMicrophonePermission;
        // The default sound input's identifier, if there is one.
        std::function<std::optional<QString>()> defaultAudioCaptureDeviceID;
        std::function<QString()> bundleIdentifier;
        std::function<QDateTime()> now;

        static Environment system();
    };

    static VideoRecordingManager& shared();
    explicit VideoRecordingManager(Environment environment, QObject* parent = nullptr);
    ~VideoRecordingManager() override;

    RecordingState state() const { return state_; }
    double recordingDuration() const { return recordingDuration_; }
    bool isRecording() const { return state_ == RecordingState::recording; }
    std::optional<QUrl> outputURL() const { return outputURL_; }

    QCoro::Task<void> startRecording(CaptureMode mode, std::optional<SelectionRect> rect,
                                     std::optional<WindowInfo> window, platform::ScreenRef screen);
    // The movie's location when its movie was finished; none otherwise (no recording, nothing
    // written, or a writer that failed, whose partial movie stays and is logged).
    QCoro::Task<std::optional<QUrl>> stopRecording();

    // Stream callbacks.
    void didStopWithError(platform::Stream& stream, const platform::PlatformError& error) override;
    void outputWasInterrupted(platform::Stream& stream, platform::StreamOutputType type,
                              const platform::PlatformError& reason) override;
    void outputResumed(platform::Stream& stream, platform::StreamOutputType type) override;
    void didOutputSampleBuffer(platform::Stream& stream, const platform::SampleBuffer& sampleBuffer,
                               platform::StreamOutputType type) override;

    VideoWriterContext& writerContext() { return writerContext_; }

signals:
    void stateChanged(zentola::RecordingState state);
    void recordingDurationChanged(double seconds);

private:
    QCoro::Task<void> start(CaptureMode mode, std::optional<SelectionRect> rect, std::optional<WindowInfo> window,
                            platform::ScreenRef screen);
    // Opens a sound source for the stream off the main thread and waits for it.
    QCoro::Task<void> addSoundOutput(platform::Stream& stream, platform::StreamOutputType type, const char* queueLabel);
    std::unique_ptr<platform::Stream> prepare(CaptureMode mode, const std::optional<SelectionRect>& rect,
                                              const std::optional<WindowInfo>& window,
                                              const platform::ScreenRef& target,
                                              const platform::ShareableContent& content);
    // Runs stopRecording() for a recording that ended by itself.
    static void stopInBackground(QPointer<VideoRecordingManager> manager);
    void setState(RecordingState state);
    void setRecordingDuration(double seconds);
    void startDurationTimer();
    void stopDurationTimer();
    void logDroppedFrames();
    // writerFailed: the writer had failed before the stop.
    void tellEnd(const platform::AssetWriter* writer, bool writerFailed, bool saved, bool partial,
                 const std::optional<platform::PlatformError>& kept,
                 const std::optional<QUrl>& url, const std::optional<std::string>& streamLoss);

    Environment env_;
    RecordingState state_ = RecordingState::idle;
    double recordingDuration_ = 0;
    std::unique_ptr<platform::Stream> stream_;
    VideoWriterContext writerContext_;
    std::optional<QUrl> outputURL_;
    std::optional<QDateTime> recordingStartTime_;
    QTimer* durationTimer_ = nullptr;
    bool starting_ = false;
    std::set<platform::StreamOutputType> interruptedOutputs_;
    // Why the stream of the running recording ended by itself, until its stop has told the user.
    std::optional<std::string> streamLoss_;
};

}  // namespace zentola
