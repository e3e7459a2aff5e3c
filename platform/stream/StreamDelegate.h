#pragma once

#include "platform/core/Error.h"
#include "platform/stream/StreamOutputType.h"

namespace platform {

class Stream;

// Told on the main thread what happens to a running stream's sources.
class StreamDelegate {
public:
    virtual ~StreamDelegate() = default;
    // A source died for good (X connection lost, window closed), so the stream has stopped. Told
    // once, also when the source died while a stop was already under way.
    virtual void didStopWithError(Stream& stream, const PlatformError& error) = 0;
    // An output's source delivers nothing for a while (the sound server went away) and the stream
    // goes on without it; then that it delivers again.
    virtual void outputWasInterrupted(Stream&, StreamOutputType, const PlatformError&) {}
    virtual void outputResumed(Stream&, StreamOutputType) {}
};

}  // namespace platform
