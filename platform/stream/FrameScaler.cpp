#include "platform/stream/FrameScaler.h"

#include "platform/capture/X11Grabber.h"
#include "platform/core/Error.h"

namespace platform {

BitmapRef FrameScaler::scale(const BitmapRef& source, QSize size) {
    if (!source)
        return source;
    // The encoder's size is fixed: an empty one would silently hand it frames of another size.
    if (size.isEmpty())
        throw PlatformError("FrameScaler", 1, "Cannot scale a frame to an empty size");
    return X11Grabber::scaled(source, size);
}

}  // namespace platform
