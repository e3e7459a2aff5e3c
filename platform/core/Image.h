#pragma once

#include "platform/core/Bitmap.h"

#include <QSizeF>

namespace platform {

// A picture as the interface shows it: a size in points over a bitmap in pixels. Copies share the bitmap.
class Image {
public:
    Image() = default;
    explicit Image(BitmapRef bitmap);  // size in points = pixel size
    Image(BitmapRef bitmap, QSizeF sizeInPoints);

    bool isNull() const { return !bitmap_; }
    const BitmapRef& bitmap() const { return bitmap_; }
    QSizeF size() const { return size_; }

private:
    BitmapRef bitmap_;
    QSizeF size_;
};

}  // namespace platform
