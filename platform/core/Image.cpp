#include "platform/core/Image.h"

namespace platform {

Image::Image(BitmapRef bitmap) : bitmap_(std::move(bitmap)) {
    if (bitmap_)
        size_ = QSizeF(bitmap_->width(), bitmap_->height());
}

Image::Image(BitmapRef bitmap, QSizeF sizeInPoints) : bitmap_(std::move(bitmap)), size_(sizeInPoints) {}

}  // namespace platform
