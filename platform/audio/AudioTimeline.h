#pragma once

#include <cstdint>

namespace platform {

// Stamps each chunk read from a sound source with the capture time of its first frame.
//
// The capture time of a chunk is "now minus what was still buffered before it" (the source's
// latency), not its arrival time. That measurement jitters by a fragment or so from chunk to chunk,
// so consecutive chunks are laid end to end from the first measurement instead; only when the
// measurement runs ahead of the laid-out time by more than the tolerance (audio was lost in an
// overrun or the source stalled) does the time line jump forward to it. It never steps back, so
// stamps never overlap.
class AudioTimeline {
public:
    static constexpr std::int64_t defaultTolerance = 40'000'000;  // ns

    explicit AudioTimeline(int sampleRate, std::int64_t toleranceNs = defaultTolerance);

    // A chunk of `frames` frames read at `nowNs`, with `latencyNs` of audio captured before its
    // first frame still waiting (or in flight) at that moment. Returns the first frame's time.
    std::int64_t stamp(std::int64_t nowNs, std::int64_t latencyNs, std::int64_t frames);
    // A hole of `frames` frames (data the server dropped): the next chunk starts that much later.
    void skip(std::int64_t frames);

    bool isAnchored() const { return anchored_; }
    // Where the next chunk would start if it follows on without a gap.
    std::int64_t nextExpected() const;

private:
    int sampleRate_;
    std::int64_t tolerance_;
    bool anchored_ = false;
    std::int64_t anchor_ = 0;
    std::int64_t framesSinceAnchor_ = 0;
};

}  // namespace platform
