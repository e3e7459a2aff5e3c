#pragma once

#include "platform/capture/ContentFilter.h"
#include "platform/capture/StreamConfiguration.h"
#include "platform/core/Bitmap.h"

#include <qcoro/qcorotask.h>

namespace platform {

// One frame, now.
class ScreenshotService {
public:
    // A BGRA bitmap of exactly configuration.width x height pixels (the source's own size when
    // they are 0). Display filters take configuration.sourceRect; the cursor is drawn only when
    // showsCursor is set. Throws PlatformError. Resumes on the main thread.
    static QCoro::Task<BitmapRef> captureImage(ContentFilter filter, StreamConfiguration configuration);
};

}  // namespace platform
