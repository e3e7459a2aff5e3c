#pragma once

#include <cstdint>

namespace platform {

// Stamps each chunk read from a sound source with the capture time of its first frame.
//
// The capture time of a chunk is measured ("now minus what was still buffered before it", or what
// the server's timing report says), not its arrival time. Measurements jitter and step a little
// from chunk to chunk, so chunks are laid end to end by their frame count, and the time line is
// pulled towards the measurements through a slow average of how far they lie from it. A sound card's clock never runs
// exactly at its nominal rate (100 ppm is 0.36 s an hour); the average follows that drift, so the
// stamps stay on the capture clock however long the recording. When a measurement runs ahead of
// the time line by more than the tolerance (audio was lost in an overrun, the source stalled or
// changed) the time line jumps forward to it; it never jumps back.
class AudioTimeline {
public:
    static constexpr std::int64_t defaultTolerance = 40'000'000;  // ns
    // The time the offset to the measurements is averaged over: a twentieth of a second at first,
    // growing to five seconds, long enough to smooth the jitter and short enough to follow any real
    // clock's drift to well under a millisecond.
    static constexpr std::int64_t settlingSpan = 50'000'000;  // ns
    static constexpr std::int64_t averagingSpan = 5'000'000'000;

    explicit AudioTimeline(int sampleRate, std::int64_t toleranceNs = defaultTolerance);

    // A chunk of `frames` frames read at `nowNs`, with `latencyNs` of audio captured before its
    // first frame still waiting (or in flight) at that moment. Returns the first frame's time.
    std::int64_t stamp(std::int64_t nowNs, std::int64_t latencyNs, std::int64_t frames);
    // A hole of `frames` frames (data the server dropped): the next chunk starts that much later.
    void skip(std::int64_t frames);
    // The source starts afresh (another device, a new connection): the next chunk is placed where
    // it was captured, but never before the end of the last one.
    void resync();

    bool isAnchored() const { return anchored_; }
    // Where the next chunk would start if it follows on without a gap.
    std::int64_t nextExpected() const;

private:
    void anchor(std::int64_t at);
    std::int64_t timeAt(std::int64_t position) const;

    int sampleRate_;
    std::int64_t tolerance_;
    bool anchored_ = false;
    bool resync_ = false;
    std::int64_t anchor_ = 0;
    std::int64_t framesSinceAnchor_ = 0;
    double offset_ = 0;  // ns: measurements minus the laid-out time, averaged
};

}  // namespace platform
