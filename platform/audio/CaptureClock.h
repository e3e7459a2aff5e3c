#pragma once

#include "platform/media/MediaTime.h"

#include <cstdint>
#include <ctime>

namespace platform {

// The one clock every captured frame and audio chunk is stamped with (CLOCK_MONOTONIC), so the
// screen, system audio and microphone share a time line whatever thread read them.
class CaptureClock {
public:
    static std::int64_t nowNanoseconds();
    static MediaTime now() { return MediaTime::fromNanoseconds(nowNanoseconds()); }

    static std::int64_t nanoseconds(const timespec& ts);
    static timespec timespecFrom(std::int64_t ns);
    // Duration of a run of audio frames, truncated to whole nanoseconds.
    static std::int64_t framesToNanoseconds(std::int64_t frames, int sampleRate);
};

}  // namespace platform
