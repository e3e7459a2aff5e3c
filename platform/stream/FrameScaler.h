#pragma once

#include "platform/core/Bitmap.h"

#include <QSize>

namespace platform {

// Resamples frames to the stream's output size with the grabber's resampler, which wraps its
// result instead of copying it. Opaque frames are read as colour only: their fourth byte may be
// left undefined by the grab and never reaches the result.
class FrameScaler {
public:
    // The same bitmap when it already has the size. Throws PlatformError for an empty size.
    static BitmapRef scale(const BitmapRef& source, QSize size);
};

}  // namespace platform
