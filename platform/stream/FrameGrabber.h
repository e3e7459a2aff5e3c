#pragma once

#include "platform/core/Bitmap.h"

namespace platform {

// Makes one video frame at a time for the capture thread; used from that thread only.
class FrameGrabber {
public:
    virtual ~FrameGrabber() = default;
    // A frame of the stream's output size, or null when there is nothing to show this time (a
    // hidden window); the tick is still delivered, without an image. Throws PlatformError when
    // the source is gone.
    virtual BitmapRef grab() = 0;
};

}  // namespace platform
