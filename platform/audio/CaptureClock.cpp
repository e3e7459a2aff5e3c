#include "platform/audio/CaptureClock.h"

namespace platform {

std::int64_t CaptureClock::nowNanoseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return nanoseconds(ts);
}

std::int64_t CaptureClock::nanoseconds(const timespec& ts) {
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

timespec CaptureClock::timespecFrom(std::int64_t ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    if (ts.tv_nsec < 0) {
        ts.tv_nsec += 1'000'000'000;
        ts.tv_sec -= 1;
    }
    return ts;
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
