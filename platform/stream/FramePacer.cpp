#include "platform/stream/FramePacer.h"

#include <algorithm>

namespace platform {

FramePacer::FramePacer(std::int64_t startNs, std::int64_t intervalValue, std::int32_t intervalTimescale)
    : start_(startNs),
      value_(intervalValue > 0 ? intervalValue : 1),
      timescale_(intervalTimescale > 0 ? intervalTimescale : 30) {}

std::int64_t FramePacer::deadlineOf(std::uint64_t tick) const {
    // 128-bit product: tick * value * 1e9 outgrows 64 bits after a few days at fine time scales.
    const __int128 offset = static_cast<__int128>(tick) * value_ * 1'000'000'000 / timescale_;
    return start_ + static_cast<std::int64_t>(offset);
}

std::int64_t FramePacer::advance(std::int64_t nowNs) {
    std::uint64_t next = tick_ + 1;
    if (nowNs > start_) {
        // The last tick whose deadline is not after now.
        const __int128 elapsed = static_cast<__int128>(nowNs - start_) * timescale_;
        const __int128 per = static_cast<__int128>(value_) * 1'000'000'000;
        auto passed = static_cast<std::uint64_t>(elapsed / per);
        while (passed > next && deadlineOf(passed) > nowNs)  // integer division rounding guard
            --passed;
        if (passed > next) {
            dropped_ += passed - next;
            next = passed;
        }
    }
    tick_ = next;
    return deadline();
}

}  // namespace platform
