#pragma once

#include <cstdint>

namespace platform {

// The capture thread's schedule: frame n is due at start + n * interval, computed from the start
// each time so rounding never accumulates and a slow frame never shifts the later ones.
//
// After a late frame the pacer goes to the last deadline already passed (grabbed at once, late)
// and counts the ones in between as dropped; it never grabs several frames back to back to make
// up for lost time.
class FramePacer {
public:
    // The interval is intervalValue / intervalTimescale seconds (1/60 for 60 fps).
    FramePacer(std::int64_t startNs, std::int64_t intervalValue, std::int32_t intervalTimescale);

    std::uint64_t tick() const { return tick_; }
    std::int64_t deadline() const { return deadlineOf(tick_); }
    std::int64_t deadlineOf(std::uint64_t tick) const;
    // Ticks skipped so far because their time passed while an earlier frame was being made.
    std::uint64_t droppedTicks() const { return dropped_; }

    // The frame of the current tick is done and it is now `nowNs`: moves to the next tick to grab
    // and returns its deadline (at or before now means grab without waiting).
    std::int64_t advance(std::int64_t nowNs);

private:
    std::int64_t start_;
    std::int64_t value_;
    std::int32_t timescale_;
    std::uint64_t tick_ = 0;
    std::uint64_t dropped_ = 0;
};

}  // namespace platform
