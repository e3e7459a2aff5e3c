#pragma once

#include "platform/core/Bitmap.h"

#include <QSize>

#include <memory>

struct SwsContext;

namespace platform {

// Resamples BGRA frames to the stream's output size (bilinear), straight into a reused buffer, so
// a scaled frame costs one pass over the pixels and no allocation once the stream runs.
// One thread at a time; the bitmaps it returns may outlive it.
class FrameScaler {
public:
    FrameScaler();
    ~FrameScaler();
    FrameScaler(const FrameScaler&) = delete;
    FrameScaler& operator=(const FrameScaler&) = delete;

    // The same bitmap when it already has the size. Throws PlatformError for an empty size.
    BitmapRef scale(const BitmapRef& source, QSize size);

    // Buffers made so far (they are reused once the frames that held them are gone).
    int buffersMade() const;

private:
    class BufferPool;

    SwsContext* context_ = nullptr;
    QSize from_;
    QSize to_;
    std::shared_ptr<BufferPool> pool_;
};

}  // namespace platform
