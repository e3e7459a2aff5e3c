#include "Features/Capture/VideoWriterContext.h"

#include "platform/core/Log.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace zentola {

using platform::AssetWriter;
using platform::logLine;

namespace {

// Seconds as a decimal number that always shows a fraction ("12.0", "1000.25").
std::string decimal(double seconds) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, seconds);
    std::string s(buf, ec == std::errc() ? end : buf);
    if (s.find_first_of(".eEn") == std::string::npos)
        s += ".0";
    return s;
}

}  // namespace

void VideoWriterContext::setFailureHandler(FailureHandler handler) {
    std::lock_guard guard(lock_);
    failureHandler_ = std::move(handler);
}

void VideoWriterContext::setup(std::shared_ptr<platform::AssetWriter> writer,
                               std::shared_ptr<platform::WriterInput> videoInput,
                               std::shared_ptr<platform::PixelBufferAdaptor> adaptor,
                               std::shared_ptr<platform::WriterInput> audioInput,
                               std::shared_ptr<platform::WriterInput> microphoneInput) {
    std::lock_guard guard(lock_);
    assetWriter_ = std::move(writer);
    videoInput_ = std::move(videoInput);
    pixelBufferAdaptor_ = std::move(adaptor);
    audioInput_ = std::move(audioInput);
    microphoneInput_ = std::move(microphoneInput);
    isFirstVideoSample_ = true;
    isWriting_ = true;
    failureReported_ = false;
    firstFrame_ = lastFrame_ = platform::MediaTime::invalid();
    framesCounted_ = 0;
    longestGap_ = platform::MediaTime::zero();
}

void VideoWriterContext::setFrameInterval(platform::MediaTime interval) {
    std::lock_guard guard(lock_);
    if (interval.isValid() && interval.value > 0)
        frameInterval_ = interval;
}

VideoWriterContext::FrameGaps VideoWriterContext::frameGaps() {
    std::lock_guard guard(lock_);
    if (!firstFrame_.isValid())
        return {};
    const long long span = std::llround((lastFrame_ - firstFrame_).seconds() / frameInterval_.seconds()) + 1;
    // What the writer took but left out (two frames for one slot) is missing from the movie too.
    const long long leftOut = pixelBufferAdaptor_ ? pixelBufferAdaptor_->framesLeftOut() : 0;
    return {std::max(0LL, span - framesCounted_ + leftOut), longestGap_};
}

bool VideoWriterContext::failureReported() {
    std::lock_guard guard(lock_);
    return failureReported_;
}

// Called with the lock held, for each frame that reached the writer and each tick without a picture.
void VideoWriterContext::countFrame(platform::MediaTime pts) {
    if (lastFrame_.isValid() && longestGap_ < pts - lastFrame_)
        longestGap_ = pts - lastFrame_;
    if (!firstFrame_.isValid())
        firstFrame_ = pts;
    lastFrame_ = pts;
    ++framesCounted_;
}

void VideoWriterContext::setIsWriting(bool isWriting) {
    std::lock_guard guard(lock_);
    isWriting_ = isWriting;
}

VideoWriterContext::WriterAndInputs VideoWriterContext::getWriterAndInputs() {
    std::lock_guard guard(lock_);
    return {assetWriter_, videoInput_, audioInput_, microphoneInput_};
}

void VideoWriterContext::reset() {
    std::lock_guard guard(lock_);
    assetWriter_.reset();
    videoInput_.reset();
    pixelBufferAdaptor_.reset();
    audioInput_.reset();
    microphoneInput_.reset();
    isFirstVideoSample_ = true;
}

void VideoWriterContext::processVideoSampleBuffer(const platform::SampleBuffer& sampleBuffer) {
    std::lock_guard guard(lock_);
    if (!isWriting_ || !assetWriter_ || !pixelBufferAdaptor_)
        return;
    const platform::BitmapRef& imageBuffer = sampleBuffer.imageBuffer();
    platform::MediaTime pts = sampleBuffer.presentationTimeStamp();
    if (!imageBuffer) {
        // Nothing to show (a hidden window): the time passes without a frame being lost.
        if (!isFirstVideoSample_ && pts.isValid())
            countFrame(pts);
        return;
    }

    if (isFirstVideoSample_) {
        assetWriter_->startWriting();
        assetWriter_->startSession(pts);
        isFirstVideoSample_ = false;
        logLine("[VideoRecording] Started writing session at " + decimal(pts.seconds()));
    }

    if (!writerIsWriting())
        return;

    auto input = pixelBufferAdaptor_->assetWriterInput();
    if (input && input->isReadyForMoreMediaData()) {
        if (pixelBufferAdaptor_->append(imageBuffer, pts))
            countFrame(pts);
        else
            logLine("[VideoRecording] Failed to append pixel buffer");
    }
}

void VideoWriterContext::processAudioSampleBuffer(const platform::SampleBuffer& sampleBuffer) {
    std::lock_guard guard(lock_);
    appendAudio(sampleBuffer, audioInput_.get(), "system audio");
}

void VideoWriterContext::processMicrophoneSampleBuffer(const platform::SampleBuffer& sampleBuffer) {
    std::lock_guard guard(lock_);
    appendAudio(sampleBuffer, microphoneInput_.get(), "microphone");
}

// Called with the lock held.
void VideoWriterContext::appendAudio(const platform::SampleBuffer& sampleBuffer, platform::WriterInput* input,
                                     const char* what) {
    if (!isWriting_ || !assetWriter_ || !input)
        return;
    if (!writerIsWriting())
        return;
    // No sound before the first frame: the movie begins with a picture.
    if (isFirstVideoSample_)
        return;
    if (!input->isReadyForMoreMediaData())
        return;
    if (!input->append(sampleBuffer)) {
        if (auto error = assetWriter_->error())
            logLine(std::string("[VideoRecording] Failed to append ") + what + " sample: " + error->description());
        else
            logLine(std::string("[VideoRecording] Failed to append ") + what + " sample (no error)");
    }
}

// Called with the lock held.
bool VideoWriterContext::writerIsWriting() {
    const AssetWriter::Status status = assetWriter_->status();
    if (status == AssetWriter::Status::failed && !failureReported_) {
        failureReported_ = true;
        if (auto error = assetWriter_->error())
            logLine("[VideoRecording] Writer failed: " + error->description());
        if (failureHandler_)
            failureHandler_(assetWriter_.get());
    }
    return status == AssetWriter::Status::writing;
}

}  // namespace zentola
