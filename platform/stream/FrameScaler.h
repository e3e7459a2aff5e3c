#pragma once

#include "platform/core/Bitmap.h"

#include <QSize>

namespace platform {

// Resamples frames to the stream's output size. The toolkit's smooth scaler averages the pixels
// each output pixel covers and spreads large frames over several threads; its result is wrapped,
// not copied, so a scaled frame costs one pass over the pixels.
class FrameScaler {
public:
    // The same bitmap when it already has the size. Throws PlatformError for an empty size.
    static BitmapRef scale(const BitmapRef& source, QSize size);
};

}  // namespace platform
