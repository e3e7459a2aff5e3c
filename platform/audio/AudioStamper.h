#pragma once

#include "platform/audio/AudioTimeline.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace platform {

// Places the chunks read from one sound source on the capture clock, stamped with the time their
// first frame was heard, laid end to end: no hole and no overlap unless sound was really lost.
//
// The sound server's timing report says when a position of the stream was heard. A new stream's
// first report is often stale (taken before any sound flowed, when an idle output still counted a
// long latency), so until two reports taken since the sound began agree, what is read is held back;
// it is then handed on in one piece, stamped with what those reports say. That takes a few tens of
// milliseconds. After that every chunk is stamped from the latest report through the time line's
// slow average, which smooths the reports' small steps and follows a sound card's drift.
//
// Not thread-safe: the caller serialises every call.
class AudioStamper {
public:
    using Deliver = std::function<void(std::vector<std::uint8_t> bytes, std::int64_t firstFrameNs)>;
    // Reports taken since the sound began that lie this close together are trusted.
    static constexpr std::int64_t agreement = 5'000'000;  // ns

    AudioStamper(int sampleRate, int bytesPerFrame, std::int64_t holdLimitFrames, Deliver deliver);

    // The recording starts afresh: a new time line and a new stream.
    void restart();
    // Another stream of the same recording (a new device, the server back): it starts at position
    // 0 and is placed where it was heard, never over what was already handed on.
    void newStream();

    // A timing report: position 0 of the stream was heard at `zeroNs` as of `takenNs`.
    void report(std::int64_t zeroNs, std::int64_t takenNs);
    // `frames` frames read at the stream's current position at `nowNs`; null data is a hole the
    // server reports (sound it dropped).
    void push(const std::uint8_t* data, std::int64_t frames, std::int64_t nowNs);
    // Hands on whatever is held, with the best time known: the stream ends or the recording stops.
    void flush(std::int64_t nowNs);

    // Whether the reports are trusted yet; until then the caller should ask for fresh ones.
    bool trusted() const { return trusted_; }
    bool holding() const { return heldFrames_ > 0; }
    std::int64_t position() const { return position_; }

private:
    std::int64_t heardAt(std::int64_t position, std::int64_t frames, std::int64_t nowNs) const;
    void release(std::int64_t nowNs);

    int sampleRate_;
    int bytesPerFrame_;
    std::int64_t holdLimit_;
    Deliver deliver_;
    AudioTimeline timeline_;
    bool resync_ = false;

    std::int64_t position_ = 0;
    std::optional<std::int64_t> firstSoundAt_;
    std::optional<std::int64_t> zero_;          // the latest report
    std::optional<std::int64_t> freshZero_;     // the latest report taken since the sound began
    bool trusted_ = false;
    bool holdOver_ = false;

    std::vector<std::uint8_t> held_;
    std::int64_t heldFrames_ = 0;
    std::int64_t heldStart_ = 0;
};

}  // namespace platform
