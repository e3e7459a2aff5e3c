#pragma once

#include "platform/core/Error.h"

namespace platform {

class Stream;

// Told when a running stream ends by itself because a source died (X connection lost, window
// closed, sound server gone). Called once, on the main thread; the stream has already stopped.
class StreamDelegate {
public:
    virtual ~StreamDelegate() = default;
    virtual void didStopWithError(Stream& stream, const PlatformError& error) = 0;
};

}  // namespace platform
