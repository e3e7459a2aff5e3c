#include "platform/audio/AudioTimeline.h"

#include "platform/audio/CaptureClock.h"

#include <algorithm>
#include <cmath>

namespace platform {

AudioTimeline::AudioTimeline(int sampleRate, std::int64_t toleranceNs)
    : sampleRate_(sampleRate), tolerance_(toleranceNs) {}

std::int64_t AudioTimeline::nextExpected() const { return timeAt(framesSinceAnchor_); }

std::int64_t AudioTimeline::timeAt(std::int64_t position) const {
    return anchor_ + CaptureClock::framesToNanoseconds(position, sampleRate_) + std::llround(offset_);
}

void AudioTimeline::anchor(std::int64_t at) {
    anchored_ = true;
    anchor_ = at;
    framesSinceAnchor_ = 0;
    offset_ = 0;
}

std::int64_t AudioTimeline::stamp(std::int64_t nowNs, std::int64_t latencyNs, std::int64_t frames) {
    const std::int64_t measured = nowNs - std::max<std::int64_t>(latencyNs, 0);
    if (!anchored_) {
        anchor(measured);
    } else if (resync_) {
        anchor(std::max(measured, nextExpected()));
    } else {
        const double error = double(measured - nextExpected());
        if (error > double(tolerance_)) {
            anchor(measured);
        } else {
            // An average over a time that starts short and grows: a source's first latencies are
            // often off by tens of milliseconds (its buffers still settling), which the first
            // stamps must shed quickly; later the long average smooths the jitter and follows the
            // clock's drift.
            const double age = double(CaptureClock::framesToNanoseconds(framesSinceAnchor_, sampleRate_));
            const double span = std::min(double(averagingSpan), double(settlingSpan) + age / 4);
            const double weight = std::min(1.0, double(CaptureClock::framesToNanoseconds(frames, sampleRate_)) / span);
            offset_ += std::max(error, -double(tolerance_)) * weight;
        }
    }
    resync_ = false;
    const std::int64_t start = nextExpected();
    if (frames > 0)
        framesSinceAnchor_ += frames;
    return start;
}

void AudioTimeline::skip(std::int64_t frames) {
    if (anchored_ && frames > 0)
        framesSinceAnchor_ += frames;
}

void AudioTimeline::resync() { resync_ = anchored_; }

}  // namespace platform
