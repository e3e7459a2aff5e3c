#include "platform/audio/AudioTimeline.h"

#include "platform/audio/CaptureClock.h"

namespace platform {

AudioTimeline::AudioTimeline(int sampleRate, std::int64_t toleranceNs)
    : sampleRate_(sampleRate), tolerance_(toleranceNs) {}

std::int64_t AudioTimeline::nextExpected() const {
    return anchor_ + CaptureClock::framesToNanoseconds(framesSinceAnchor_, sampleRate_);
}

std::int64_t AudioTimeline::stamp(std::int64_t nowNs, std::int64_t latencyNs, std::int64_t frames) {
    const std::int64_t measured = nowNs - (latencyNs > 0 ? latencyNs : 0);
    if (!anchored_ || measured > nextExpected() + tolerance_) {
        anchored_ = true;
        anchor_ = measured;
        framesSinceAnchor_ = 0;
    }
    const std::int64_t start = nextExpected();
    if (frames > 0)
        framesSinceAnchor_ += frames;
    return start;
}

void AudioTimeline::skip(std::int64_t frames) {
    if (anchored_ && frames > 0)
        framesSinceAnchor_ += frames;
}

}  // namespace platform
