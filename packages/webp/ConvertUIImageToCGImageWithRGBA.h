#pragma once

#include "platform/core/Bitmap.h"
#include "platform/core/Image.h"

namespace webp {

// The image redrawn as premultiplied RGBA, 8 bits per channel, at its size in points whatever
// its bitmap's pixel size. Throws WebPError.
platform::BitmapRef convertUIImageToCGImageWithRGBA(const platform::Image& image);

}  // namespace webp
