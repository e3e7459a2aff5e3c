#include "Features/Capture/VideoRecordingManager.h"

#include "Extensions/ScreenExt.h"
#include "Services/PermissionManager.h"
#include "Services/PersistenceManager.h"
#include "platform/capture/ContentFilter.h"
#include "platform/capture/RunningApplication.h"
#include "platform/capture/ShareableContent.h"
#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/core/SerialQueue.h"
#include "platform/desktop/UserNotice.h"
#include "platform/media/AssetWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <cmath>
#include <limits>

namespace zentola {

using platform::logLine;

namespace {

// The first name of the form "Screen Recording <when>[ (n)].<ext>" that nothing in the folder has.
QString freeFileName(const QDir& folder, const QDateTime& when, const QString& extension) {
    const QString stem = "Screen Recording " + when.toString("yyyy-MM-dd 'at' HH.mm.ss");
    QString name = stem + "." + extension;
    for (int copy = 2; QFileInfo(folder.filePath(name)).exists() || QFileInfo(folder.filePath(name)).isSymLink();
         ++copy)
        name = stem + QStringLiteral(" (%1).").arg(copy) + extension;
    return name;
}

const char* caseName(VideoRecordingManager::RecordingErrorCase c) {
    using C = VideoRecordingManager::RecordingErrorCase;
    switch (c) {
    case C::displayNotFound: return "displayNotFound";
    case C::windowNotFound: return "windowNotFound";
    case C::invalidRect: return "invalidRect";
    case C::noFolderAccess: return "noFolderAccess";
    case C::cannotAddVideoInput: return "cannotAddVideoInput";
    case C::recordingInProgress: return "recordingInProgress";
    case C::microphoneNotAvailable: return "microphoneNotAvailable";
    }
    return "";
}

const char* message(VideoRecordingManager::RecordingErrorCase c) {
    using C = VideoRecordingManager::RecordingErrorCase;
    switch (c) {
    case C::displayNotFound: return "Display not found";
    case C::windowNotFound: return "Window not found";
    case C::invalidRect: return "Invalid selection rectangle";
    case C::noFolderAccess: return "Cannot access video folder";
    case C::cannotAddVideoInput: return "Cannot configure video encoding";
    case C::recordingInProgress: return "Recording already in progress";
    case C::microphoneNotAvailable: return "Microphone not available";
    }
    return "";
}

// Points times scale, truncated toward zero; sizes that are not finite or do not fit come out 0,
// which the writer refuses.
qint64 pixels(double points, double scale) {
    double v = std::trunc(points * scale);
    if (!std::isfinite(v) || v >= 9.2e18 || v <= -9.2e18)
        return 0;
    return static_cast<qint64>(v);
}

// The English message the user is told.
QString userReason(const std::exception& e) {
    if (const auto* error = dynamic_cast<const platform::Error*>(&e))
        return QString::fromStdString(error->description());
    return QString::fromUtf8(e.what());
}

}  // namespace

VideoRecordingManager::RecordingError::RecordingError(RecordingErrorCase c)
    : platform::EnumError<RecordingErrorCase>(c, caseName(c), message(c)) {}

VideoRecordingManager::Environment VideoRecordingManager::Environment::system() {
    Environment e;
    e.persistence = [] () -> PersistenceManager& { return PersistenceManager::shared(); };
    e.hasMicrophonePermission = [] { return PermissionManager::shared().hasMicrophonePermission(); };
    // The stream takes no identifier as the default source, which is what the recorder wants.
    e.defaultAudioCaptureDeviceID = [] { return std::optional<QString>(); };
    e.bundleIdentifier = [] { return platform::RunningApplication::ownBundleIdentifier(); };
    e.now = [] { return QDateTime::currentDateTime(); };
    return e;
}

VideoRecordingManager& VideoRecordingManager::shared() {
    // Kept for the life of the process.
    static auto* instance = new VideoRecordingManager(Environment::system());
    return *instance;
}

VideoRecordingManager::VideoRecordingManager(Environment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)) {
    // A writer that fails (a full disk) ends its recording at once, as a lost stream does.
    QPointer<VideoRecordingManager> weak(this);
    writerContext_.setFailureHandler([weak](const platform::AssetWriter* failed) {
        platform::postToMain([weak, failed] {
            if (!weak || weak->state_ != RecordingState::recording ||
                weak->writerContext_.getWriterAndInputs().writer.get() != failed)
                return;
            stopInBackground(weak);
        });
    });
}

VideoRecordingManager::~VideoRecordingManager() {
    stopDurationTimer();
    // The stream's queues call into the writer context: they must be gone first.
    stream_.reset();
    writerContext_.setIsWriting(false);
}

void VideoRecordingManager::setState(RecordingState state) {
    state_ = state;
    emit stateChanged(state);
}

void VideoRecordingManager::setRecordingDuration(double seconds) {
    recordingDuration_ = seconds;
    emit recordingDurationChanged(seconds);
}

QCoro::Task<void> VideoRecordingManager::startRecording(CaptureMode mode, std::optional<SelectionRect> rect,
                                                        std::optional<WindowInfo> window, platform::ScreenRef screen) {
    if (state_ != RecordingState::idle) {
        logLine("[VideoRecording] Already recording or stopping");
        co_return;
    }
    // A start still waiting for the platform: a second one would arm the same writer context.
    if (starting_)
        throw RecordingError(RecordingErrorCase::recordingInProgress);
    starting_ = true;
    // Nothing of a failed start stays behind: no file name, no armed writer.
    auto abandon = [this] {
        starting_ = false;
        outputURL_.reset();
        writerContext_.setIsWriting(false);
        writerContext_.reset();
    };
    try {
        co_await start(mode, std::move(rect), std::move(window), std::move(screen));
    } catch (const std::exception& e) {
        abandon();
        platform::UserNotice::show(QStringLiteral("Recording not started"), userReason(e));
        throw;
    } catch (...) {
        abandon();
        throw;
    }
    starting_ = false;
}

QCoro::Task<void> VideoRecordingManager::start(CaptureMode mode, std::optional<SelectionRect> rect,
                                               std::optional<WindowInfo> window, platform::ScreenRef screen) {
    logLine("[VideoRecording] Starting recording - mode: " + mode.rawValue().toStdString());

    platform::ScreenRef target = screen ? screen : platform::Screen::main();
    if (!target) {
        auto all = platform::Screen::screens();
        if (all.empty())
            throw RecordingError(RecordingErrorCase::displayNotFound);
        target = all.front();
    }
    if (mode == CaptureMode::window && !window)
        throw RecordingError(RecordingErrorCase::windowNotFound);
    if (mode == CaptureMode::rect && !rect)
        throw RecordingError(RecordingErrorCase::invalidRect);

    platform::ShareableContent content;
    content = co_await platform::ShareableContent::get(false, true);
    std::unique_ptr<platform::Stream> stream = prepare(mode, rect, window, target, content);
    if (stream->configuration().capturesAudio) {
        co_await addSoundOutput(*stream, platform::StreamOutputType::audio, "com.zentola.audioCapture");
        logLine("[VideoRecording] System audio stream output added");
    }
    if (stream->configuration().captureMicrophone) {
        co_await addSoundOutput(*stream, platform::StreamOutputType::microphone, "com.zentola.microphoneCapture");
        logLine("[VideoRecording] Microphone stream output added");
    }

    co_await stream->startCapture();

    stream_ = std::move(stream);
    setState(RecordingState::recording);
    recordingStartTime_ = env_.now();
    setRecordingDuration(0);
    startDurationTimer();
    logLine("[VideoRecording] Recording started - output: " + outputURL_->toLocalFile().toStdString());
}

// Everything between the content and the capture's start: no waiting, so no coroutine.
std::unique_ptr<platform::Stream> VideoRecordingManager::prepare(CaptureMode mode, const std::optional<SelectionRect>& rect,
                                                                const std::optional<WindowInfo>& window,
                                                                const platform::ScreenRef& target,
                                                                const platform::ShareableContent& content) {
    PersistenceManager& settings = env_.persistence();
    const bool retina = settings.recordAtRetina();
    const double scale = retina ? target->backingScaleFactor() : 1.0;


    std::optional<platform::ContentFilter> filter;
    qint64 width = 0;
    qint64 height = 0;
    if (mode == CaptureMode::window) {
        const platform::ShareableWindow* found = nullptr;
        for (const auto& w : content.windows)
            if (w.windowID == window->id) {
                found = &w;
                break;
            }
        if (!found)
            throw RecordingError(RecordingErrorCase::windowNotFound);
        settings.saveLastWindow(*window);
        filter = platform::ContentFilter::forWindow(*found);
        const double windowScale = retina ? 2.0 : 1.0;
        width = pixels(window->frame.width(), windowScale);
        height = pixels(window->frame.height(), windowScale);
    } else {
        auto displayID = ScreenExt::displayID(target);
        const platform::ShareableDisplay* found = nullptr;
        if (displayID)
            for (const auto& d : content.displays)
                if (d.displayID == *displayID) {
                    found = &d;
                    break;
                }
        if (!found)
            throw RecordingError(RecordingErrorCase::displayNotFound);
        std::vector<platform::RunningApplication> excluded;
        const QString own = env_.bundleIdentifier();
        if (!own.isEmpty())
            for (const auto& app : content.applications)
                if (app.bundleIdentifier == own)
                    excluded.push_back(app);
        filter = platform::ContentFilter::forDisplay(*found, std::move(excluded), {});
        if (mode == CaptureMode::screen) {
            width = pixels(target->frame().width(), scale);
            height = pixels(target->frame().height(), scale);
        } else {
            width = pixels(rect->size.width(), scale);
            height = pixels(rect->size.height(), scale);
        }
    }

    platform::StreamConfiguration config;
    config.width = width;
    config.height = height;
    config.pixelFormat = platform::StreamConfiguration::pixelFormatBGRA;
    config.showsCursor = true;
    const int fps = settings.videoFrameRate() == PersistenceManager::VideoFrameRate::fps60 ? 60 : 30;
    config.minimumFrameInterval = platform::MediaTime::make(1, fps);

    const auto option = settings.audioOption();
    const bool systemAudio =
        option == PersistenceManager::AudioOption::systemAudio || option == PersistenceManager::AudioOption::both;
    const bool microphone =
        (option == PersistenceManager::AudioOption::microphone || option == PersistenceManager::AudioOption::both) &&
        env_.hasMicrophonePermission();
    if (systemAudio) {
        config.capturesAudio = true;
        config.sampleRate = 48000;
        config.channelCount = 2;
    }
    if (microphone) {
        config.captureMicrophone = true;
        config.microphoneCaptureDeviceID = env_.defaultAudioCaptureDeviceID();
    }
    if (mode == CaptureMode::rect)
        config.sourceRect = QRectF(rect->origin, rect->size);

    const QUrl folder = settings.videoFolderURL();
    if (folder.isEmpty() || !folder.isLocalFile())
        throw RecordingError(RecordingErrorCase::noFolderAccess);
    const QString folderPath = folder.toLocalFile();
    if (!QDir().mkpath(folderPath))
        throw platform::PlatformError("FileSystem", 1, "Cannot create the folder " + folderPath.toStdString());

    const auto container = settings.videoContainer();
    // Never over a movie already there: a second recording in the same second gets " (2)".
    const QString fileName = freeFileName(QDir(folderPath), env_.now(),
                                          container == PersistenceManager::VideoContainer::mov ? "mov" : "mp4");
    outputURL_ = QUrl::fromLocalFile(QDir(folderPath).filePath(fileName));

    auto writer = platform::AssetWriter::create(outputURL_->toLocalFile().toStdString(),
                                                container == PersistenceManager::VideoContainer::mov
                                                    ? platform::AssetWriter::FileType::quickTimeMovie
                                                    : platform::AssetWriter::FileType::mpeg4);

    platform::VideoOutputSettings videoSettings;
    videoSettings.codec = settings.videoCodec() == PersistenceManager::VideoCodec::hevc
                              ? platform::VideoOutputSettings::Codec::hevc
                              : platform::VideoOutputSettings::Codec::h264;
    videoSettings.width = width;
    videoSettings.height = height;
    videoSettings.expectedFrameRate = fps;
    auto videoInput = writer->makeVideoInput(videoSettings);
    videoInput->setExpectsMediaDataInRealTime(true);
    if (!writer->canAdd(videoInput))
        throw RecordingError(RecordingErrorCase::cannotAddVideoInput);
    writer->add(videoInput);

    auto adaptor = writer->makePixelBufferAdaptor(
        videoInput, {platform::PixelBufferAdaptor::SourceAttributes::pixelFormatBGRA, width, height});

    std::shared_ptr<platform::WriterInput> audioInput;
    if (systemAudio) {
        platform::AudioOutputSettings aac;
        aac.formatID = platform::AudioOutputSettings::aacFormatID;
        aac.sampleRate = 48000;
        aac.channelCount = 2;
        aac.bitRate = 128000;
        auto input = writer->makeAudioInput(aac);
        input->setExpectsMediaDataInRealTime(true);
        if (writer->canAdd(input)) {
            writer->add(input);
            audioInput = input;
            logLine("[VideoRecording] System audio input added to writer");
        } else {
            logLine("[VideoRecording] Cannot add system audio input to writer");
        }
    }
    std::shared_ptr<platform::WriterInput> microphoneInput;
    if (microphone) {
        auto input = writer->makeAudioInput(std::nullopt);
        input->setExpectsMediaDataInRealTime(true);
        if (writer->canAdd(input)) {
            writer->add(input);
            microphoneInput = input;
            logLine("[VideoRecording] Microphone input added to writer");
        } else {
            logLine("[VideoRecording] Cannot add microphone input to writer");
        }
    }

    writerContext_.setFrameInterval(config.minimumFrameInterval);
    writerContext_.setup(writer, videoInput, adaptor, audioInput, microphoneInput);

    auto stream = std::make_unique<platform::Stream>(*filter, config, this);
    stream->addStreamOutput(this, platform::StreamOutputType::screen,
                            std::make_shared<platform::SerialQueue>("com.zentola.videoCapture"));
    // The sound outputs follow in start(): opening them waits on the sound server.
    return stream;
}

// A sound server that accepts the connection but never answers holds the opening up to its
// timeout: it runs on the output's own queue, and the main thread (tray, overlay) goes on.
QCoro::Task<void> VideoRecordingManager::addSoundOutput(platform::Stream& stream, platform::StreamOutputType type,
                                                        const char* queueLabel) {
    auto queue = std::make_shared<platform::SerialQueue>(queueLabel);
    platform::Completion<void> added;
    // The queue is held here until the opening is over: its last holder must never be its own job.
    queue->async([this, &stream, type, weakQueue = std::weak_ptr<platform::SerialQueue>(queue), added] {
        try {
            if (auto q = weakQueue.lock())
                stream.addStreamOutput(this, type, q);
            added.resolve();
        } catch (...) {
            added.reject(std::current_exception());
        }
    });
    co_await added;
}

QCoro::Task<std::optional<QUrl>> VideoRecordingManager::stopRecording() {
    if (state_ != RecordingState::recording) {
        logLine("[VideoRecording] Not recording");
        co_return std::nullopt;
    }
    logLine("[VideoRecording] Stopping recording...");
    setState(RecordingState::stopping);
    stopDurationTimer();
    writerContext_.setIsWriting(false);

    if (stream_) {
        try {
            co_await stream_->stopCapture();
        } catch (const platform::Error& e) {
            logLine("[VideoRecording] Error stopping stream: " + e.description());
        } catch (const std::exception& e) {
            logLine(std::string("[VideoRecording] Error stopping stream: ") + e.what());
        }
    }
    stream_.reset();
    const std::optional<QUrl> url = outputURL_;

    auto [writer, videoInput, audioInput, microphoneInput] = writerContext_.getWriterAndInputs();
    logLine("[VideoRecording] Writer status before finish: " +
            std::to_string(writer ? static_cast<int>(writer->status()) : -1));
    bool saved = false;
    std::optional<platform::PlatformError> kept;
    const bool writerFailed = writer && writer->status() == platform::AssetWriter::Status::failed;
    if (!writer) {
        logLine("[VideoRecording] No writer found");
    } else if (writer->status() != platform::AssetWriter::Status::writing) {
        logLine("[VideoRecording] Writer not in writing state, status: " +
                std::to_string(static_cast<int>(writer->status())));
        // A failure the sink has already told with its reason is not told twice.
        if (auto error = writer->error(); error && !writerContext_.failureReported())
            logLine("[VideoRecording] Writer error: " + error->description());
    } else {
        if (videoInput)
            videoInput->markAsFinished();
        if (audioInput)
            audioInput->markAsFinished();
        if (microphoneInput)
            microphoneInput->markAsFinished();
        platform::Completion<void> finished;
        writer->finishWriting([finished] { finished.resolve(); });
        co_await finished;
        const auto status = writer->status();
        logLine("[VideoRecording] Writer status after finish: " + std::to_string(static_cast<int>(status)));
        saved = status == platform::AssetWriter::Status::completed;
        if (saved) {
            logLine("[VideoRecording] Recording saved: " + (url ? url->toLocalFile().toStdString() : "unknown"));
            kept = writer->keptAsWritten();
            if (kept)
                logLine("[VideoRecording] Recording kept as written while recording, not finished as a regular movie: " +
                        kept->description());
        } else if (auto error = writer->error()) {
            logLine("[VideoRecording] Error saving recording: " + error->description());
        }
    }
    // What a failed writer wrote plays up to its last fragment; the user is told where it is.
    const bool partial = writer && !saved && url && QFileInfo(url->toLocalFile()).isFile();
    if (partial)
        logLine("[VideoRecording] Partial recording kept: " + url->toLocalFile().toStdString());
    tellEnd(writer.get(), writerFailed, saved, partial, kept, url, std::exchange(streamLoss_, std::nullopt));

    logDroppedFrames();

    // The writer and its encoders go now, not when this task ends, and what they held goes back.
    writer.reset(), videoInput.reset(), audioInput.reset(), microphoneInput.reset();
    writerContext_.reset();
    platform::AssetWriter::releaseFreedMemory();
    outputURL_.reset();
    recordingStartTime_.reset();
    interruptedOutputs_.clear();
    setState(RecordingState::idle);
    setRecordingDuration(0);
    // Only a finished movie is handed back: callers report it as saved.
    co_return saved ? url : std::nullopt;
}

// Frames lost on a busy machine are told, as the movie would otherwise only show them as jerks.
void VideoRecordingManager::logDroppedFrames() {
    const auto gaps = writerContext_.frameGaps();
    if (gaps.dropped <= 0)
        return;
    logLine("[VideoRecording] Dropped " + std::to_string(gaps.dropped) + (gaps.dropped == 1 ? " frame" : " frames") +
            ", longest gap " + std::to_string(std::llround(gaps.longest.seconds() * 1000)) + " ms");
}

void VideoRecordingManager::startDurationTimer() {
    stopDurationTimer();
    durationTimer_ = new QTimer(this);
    durationTimer_->setInterval(1000);
    QPointer<VideoRecordingManager> weak(this);
    connect(durationTimer_, &QTimer::timeout, this, [weak] {
        if (!weak)
            return;
        platform::postToMain([weak] {
            if (weak && weak->recordingStartTime_)
                weak->setRecordingDuration(double(weak->recordingStartTime_->msecsTo(weak->env_.now())) / 1000.0);
        });
    });
    durationTimer_->start();
}

void VideoRecordingManager::stopDurationTimer() {
    if (durationTimer_) {
        durationTimer_->stop();
        durationTimer_->deleteLater();
        durationTimer_ = nullptr;
    }
}

void VideoRecordingManager::stopInBackground(QPointer<VideoRecordingManager> manager) {
    [](QPointer<VideoRecordingManager> manager) -> QCoro::Task<void> {
        try {
            if (manager)
                co_await manager->stopRecording();
        } catch (const std::exception& e) {
            logLine("[VideoRecording] Stop failed: " + platform::plainText(e));
        }
    }(std::move(manager));
}

void VideoRecordingManager::didStopWithError(platform::Stream& stream, const platform::PlatformError& error) {
    logLine("[VideoRecording] Stream stopped with error: " + error.description());
    QPointer<VideoRecordingManager> weak(this);
    platform::Stream* lost = &stream;
    platform::postToMain([weak, lost, reason = error.description()] {
        // Only the stream of the running recording is cleaned up, never a later one.
        if (!weak || !weak->stream_ || weak->stream_.get() != lost)
            return;
        logLine("[VideoRecording] Force cleaning up orphaned stream");
        // A stop already under way tells nothing more.
        if (weak->state_ == RecordingState::recording)
            weak->streamLoss_ = reason;
        stopInBackground(weak);
    });
}

// Once per recording, as its stop ends: a recording that ended by itself or lost its movie is told,
// with the reason and what became of the file. A stop the user asked for that saved the movie is not.
void VideoRecordingManager::tellEnd(const platform::AssetWriter* writer, bool writerFailed, bool saved, bool partial,
                                    const std::optional<platform::PlatformError>& kept, const std::optional<QUrl>& url,
                                    const std::optional<std::string>& streamLoss) {
    std::optional<std::string> reason;
    if (writer && writer->status() != platform::AssetWriter::Status::completed)
        if (auto error = writer->error())
            reason = error->description();
    if (!reason)
        reason = streamLoss;
    if (!reason && writer && !saved && writer->status() != platform::AssetWriter::Status::unknown)
        reason = "The movie could not be finished";
    const QString name = url ? QFileInfo(url->toLocalFile()).fileName() : QString();
    // A movie left as it was written while recording plays, but it is not the regular movie the
    // user expects (some programs show no length or cannot seek in it): told with the rest, once.
    const QString keptText = kept ? QStringLiteral("\u201c%1\u201d could not be finished: %2. It is saved as it was written "
                                                   "while recording and plays, though some programs may not show its length.")
                                        .arg(name, QString::fromStdString(kept->description()))
                                  : QString();
    if (!reason) {
        if (kept)
            platform::UserNotice::show(QStringLiteral("Recording kept as recorded"), keptText);
        return;
    }
    QString body = QString::fromStdString(*reason) + '\n';
    if (kept)
        body += keptText;
    else if (saved)
        body += QStringLiteral("The recording is saved as %1.").arg(name);
    else if (partial)
        body += QStringLiteral("What was recorded until then is kept in %1.").arg(name);
    else
        body += QStringLiteral("Nothing was saved.");
    platform::UserNotice::show(writerFailed || streamLoss ? QStringLiteral("Recording stopped") : QStringLiteral("Recording not saved"),
                               body);
}

// The picture goes on while the sound server is away, with silence for the sound; one line when
// it goes and one when it is back, however many audio outputs it served.
void VideoRecordingManager::outputWasInterrupted(platform::Stream& stream, platform::StreamOutputType type,
                                                 const platform::PlatformError& reason) {
    if (stream_.get() != &stream || !interruptedOutputs_.insert(type).second || interruptedOutputs_.size() > 1)
        return;
    logLine("[VideoRecording] Sound server lost, recording silence until it is back: " + reason.description());
}

void VideoRecordingManager::outputResumed(platform::Stream& stream, platform::StreamOutputType type) {
    if (stream_.get() != &stream || interruptedOutputs_.erase(type) == 0 || !interruptedOutputs_.empty())
        return;
    logLine("[VideoRecording] Sound server is back, recording sound again");
}

void VideoRecordingManager::didOutputSampleBuffer(platform::Stream&, const platform::SampleBuffer& sampleBuffer,
                                                  platform::StreamOutputType type) {
    if (!sampleBuffer.dataIsReady())
        return;
    switch (type) {
    case platform::StreamOutputType::screen: writerContext_.processVideoSampleBuffer(sampleBuffer); break;
    case platform::StreamOutputType::audio: writerContext_.processAudioSampleBuffer(sampleBuffer); break;
    case platform::StreamOutputType::microphone: writerContext_.processMicrophoneSampleBuffer(sampleBuffer); break;
    }
}

}  // namespace zentola
