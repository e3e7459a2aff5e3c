#include "platform/audio/CaptureClock.h"

#include <ctime>

namespace platform {

std::int64_t CaptureClock::nowNanoseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::int64_t CaptureClock::framesToNanoseconds(std::int64_t frames, int sampleRate) {
    if (sampleRate <= 0)
        return 0;
    // Split to keep frames * 1e9 from overflowing on long recordings.
    const std::int64_t whole = frames / sampleRate;
    const std::int64_t rest = frames % sampleRate;
    return whole * 1'000'000'000 + rest * 1'000'000'000 / sampleRate;
}

}  // namespace platform
