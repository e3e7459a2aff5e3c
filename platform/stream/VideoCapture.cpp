#include "platform/stream/VideoCapture.h"

#include "platform/audio/CaptureClock.h"
#include "platform/stream/FramePacer.h"

#include <chrono>
#include <pthread.h>

namespace platform {

VideoCapture::VideoCapture(std::unique_ptr<FrameGrabber> grabber, MediaTime minimumFrameInterval,
                           SampleHandler onSample, FailureHandler onFailure)
    : grabber_(std::move(grabber)),
      interval_(minimumFrameInterval.isValid() && minimumFrameInterval.value > 0 ? minimumFrameInterval
                                                                                : MediaTime::make(1, 60)),
      onSample_(std::move(onSample)),
      onFailure_(std::move(onFailure)) {}

VideoCapture::~VideoCapture() { stop(); }

void VideoCapture::start() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable() || stopRequested_)
        return;
    thread_ = std::thread([this] { run(); });
    pthread_setname_np(thread_.native_handle(), "zentola-video");
}

void VideoCapture::stop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void VideoCapture::run() {
    using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, the capture clock
    FramePacer pacer(CaptureClock::nowNanoseconds(), interval_.value, interval_.timescale);
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            const Clock::time_point due{std::chrono::nanoseconds(pacer.deadline())};
            wake_.wait_until(lock, due, [this] { return stopRequested_; });
            if (stopRequested_)
                return;
        }
        const std::int64_t grabbedAt = CaptureClock::nowNanoseconds();
        BitmapRef frame;
        try {
            frame = grabber_->grab();
        } catch (const PlatformError& e) {
            if (onFailure_)
                onFailure_(e);
            return;
        } catch (const std::exception& e) {
            if (onFailure_)
                onFailure_(PlatformError("VideoCapture", 1, e.what()));
            return;
        }
        // A tick without a picture (a hidden window) is still told, as a buffer without an image.
        if (onSample_)
            onSample_(SampleBuffer::video(std::move(frame), MediaTime::fromNanoseconds(grabbedAt)));
        pacer.advance(CaptureClock::nowNanoseconds());
    }
}

}  // namespace platform
