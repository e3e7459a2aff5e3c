#pragma once

#include "platform/media/SampleBuffer.h"
#include "platform/stream/StreamOutputType.h"

namespace platform {

class Stream;

// Receives a stream's sample buffers, on the serial queue the output was added with.
class StreamOutput {
public:
    virtual ~StreamOutput() = default;
    virtual void didOutputSampleBuffer(Stream& stream, const SampleBuffer& sampleBuffer, StreamOutputType type) = 0;
};

}  // namespace platform
