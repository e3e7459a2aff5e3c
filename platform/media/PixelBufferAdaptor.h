#pragma once

#include "platform/core/Bitmap.h"
#include "platform/media/MediaTime.h"
#include "platform/media/WriterInput.h"

#include <memory>

namespace platform {

// Appends whole frames (BGRA bitmaps) to a video input; the input converts them to the encoder's
// pixel format on its own thread.
class PixelBufferAdaptor {
public:
    struct SourceAttributes {
        static constexpr unsigned pixelFormatBGRA = 0x42475241;  // 'BGRA'
        unsigned pixelFormat = pixelFormatBGRA;
        long long width = 0;
        long long height = 0;
    };

    virtual ~PixelBufferAdaptor() = default;

    virtual std::shared_ptr<WriterInput> assetWriterInput() const = 0;
    // Queues the frame at the given presentation time. False when the input cannot take it.
    virtual bool append(const BitmapRef& pixelBuffer, MediaTime presentationTime) = 0;
    // Frames that were taken but left out of the movie (another frame already filled their frame
    // slot); the whole count once the writer has finished.
    virtual long long framesLeftOut() const { return 0; }
};

}  // namespace platform
