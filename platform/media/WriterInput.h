#pragma once

#include "platform/media/SampleBuffer.h"

#include <optional>

namespace platform {

// How an input encodes what it is given. Video: codec and pixel size (the encoder scales nothing:
// frames of another size are scaled to this one). Audio: AAC at a rate, channel count and bit rate.
struct VideoOutputSettings {
    enum class Codec { h264, hevc };
    Codec codec = Codec::h264;
    long long width = 0;
    long long height = 0;
    // The rate frames are expected at; sizes the encoder's look-ahead and key-frame spacing.
    int expectedFrameRate = 30;
};

struct AudioOutputSettings {
    static constexpr unsigned aacFormatID = 0x61616320;  // 'aac '
    unsigned formatID = aacFormatID;
    int sampleRate = 48000;
    int channelCount = 2;
    int bitRate = 128000;
};

// One track of a movie being written. Each input encodes on its own thread behind a small bounded
// queue: append() only queues, and "ready for more media data" means the queue has room, so the
// thread delivering samples never waits for an encoder.
class WriterInput {
public:
    enum class MediaType { video, audio };

    virtual ~WriterInput() = default;

    virtual MediaType mediaType() const = 0;
    virtual bool expectsMediaDataInRealTime() const = 0;
    virtual void setExpectsMediaDataInRealTime(bool realTime) = 0;

    virtual bool isReadyForMoreMediaData() const = 0;
    // Queues an audio sample buffer for encoding. False when the input is not accepting (full,
    // finished, the writer not writing, or the buffer is not audio of a usable format).
    virtual bool append(const SampleBuffer& buffer) = 0;
    // No more samples will come; the encoder drains its queue and flushes.
    virtual void markAsFinished() = 0;
};

}  // namespace platform
