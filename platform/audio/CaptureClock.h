#pragma once

#include "platform/media/MediaTime.h"

#include <cstdint>

namespace platform {

// The one clock every captured frame and audio chunk is stamped with (CLOCK_MONOTONIC), so the
// screen, system audio and microphone share a time line whatever thread read them.
class CaptureClock {
public:
    static std::int64_t nowNanoseconds();
    static MediaTime now() { return MediaTime::fromNanoseconds(nowNanoseconds()); }

    // Duration of a run of audio frames, truncated to whole nanoseconds.
    static std::int64_t framesToNanoseconds(std::int64_t frames, int sampleRate);
};

}  // namespace platform
