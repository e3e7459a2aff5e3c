#include "platform/audio/AudioStamper.h"

#include "platform/audio/CaptureClock.h"

#include <cstdlib>
#include <utility>

namespace platform {

AudioStamper::AudioStamper(int sampleRate, int bytesPerFrame, std::int64_t holdLimitFrames, Deliver deliver)
    : sampleRate_(sampleRate),
      bytesPerFrame_(bytesPerFrame),
      holdLimit_(holdLimitFrames),
      deliver_(std::move(deliver)),
      timeline_(sampleRate) {}

void AudioStamper::restart() {
    newStream();
    timeline_ = AudioTimeline(sampleRate_);
    resync_ = false;
}

void AudioStamper::newStream() {
    held_.clear();
    heldFrames_ = 0;
    resync_ = timeline_.isAnchored();
    position_ = 0;
    firstSoundAt_.reset();
    zero_.reset();
    freshZero_.reset();
    trusted_ = false;
    holdOver_ = false;
}

void AudioStamper::report(std::int64_t zeroNs, std::int64_t takenNs) {
    zero_ = zeroNs;
    if (trusted_ || !firstSoundAt_ || takenNs < *firstSoundAt_)
        return;
    trusted_ = freshZero_ && std::llabs(*freshZero_ - zeroNs) <= agreement;
    freshZero_ = zeroNs;
}

std::int64_t AudioStamper::heardAt(std::int64_t position, std::int64_t frames, std::int64_t nowNs) const {
    if (trusted_ && freshZero_ && zero_)
        return *zero_ + CaptureClock::framesToNanoseconds(position, sampleRate_);
    if (freshZero_)
        return *freshZero_ + CaptureClock::framesToNanoseconds(position, sampleRate_);
    // Nothing to go by but the read: its last frame was heard about now.
    return nowNs - CaptureClock::framesToNanoseconds(position_ - position + frames, sampleRate_);
}

void AudioStamper::release(std::int64_t nowNs) {
    if (heldFrames_ == 0)
        return;
    holdOver_ = true;  // once let go, the stream's sound is not held again
    const std::int64_t frames = std::exchange(heldFrames_, 0);
    const std::int64_t measured = heardAt(heldStart_, 0, nowNs);
    if (resync_)
        timeline_.resync();
    resync_ = false;
    const std::int64_t at = timeline_.stamp(measured, 0, frames);
    if (deliver_)
        deliver_(std::exchange(held_, {}), at);
    held_.clear();
}

void AudioStamper::push(const std::uint8_t* data, std::int64_t frames, std::int64_t nowNs) {
    if (frames <= 0)
        return;
    if (!firstSoundAt_)
        firstSoundAt_ = nowNs;
    if (!trusted_ && !holdOver_ && heldFrames_ + frames <= holdLimit_) {
        if (heldFrames_ == 0)
            heldStart_ = position_;
        const std::size_t size = std::size_t(frames) * std::size_t(bytesPerFrame_);
        if (data)
            held_.insert(held_.end(), data, data + size);
        else
            held_.resize(held_.size() + size, 0);  // a hole inside the held sound stays silence
        heldFrames_ += frames;
        position_ += frames;
        return;
    }
    // The held sound goes first, placed where the reports say it was heard; what follows joins it.
    // Its last frame was read just before this chunk's.
    release(nowNs - CaptureClock::framesToNanoseconds(frames, sampleRate_));
    if (!data) {
        if (!timeline_.isAnchored() || resync_) {
            position_ += frames;
            return;
        }
        timeline_.skip(frames);
        position_ += frames;
        return;
    }
    const std::int64_t measured = heardAt(position_, frames, nowNs);
    if (resync_)
        timeline_.resync();
    resync_ = false;
    const std::int64_t at = timeline_.stamp(measured, 0, frames);
    position_ += frames;
    if (deliver_)
        deliver_(std::vector<std::uint8_t>(data, data + std::size_t(frames) * std::size_t(bytesPerFrame_)), at);
}

void AudioStamper::flush(std::int64_t nowNs) { release(nowNs); }

}  // namespace platform
