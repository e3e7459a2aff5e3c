#include "platform/core/Bitmap.h"

#include "platform/core/Error.h"

#include <limits>

namespace platform {

void Bitmap::validate(int width, int height, int bytesPerRow, std::size_t available) {
    if (width <= 0 || height <= 0)
        throw PlatformError("Bitmap", 1, "Bitmap size must be positive");
    if (width > std::numeric_limits<int>::max() / 4 || bytesPerRow < width * 4)
        throw PlatformError("Bitmap", 2, "Bitmap row is shorter than its width");
    if (static_cast<std::size_t>(height) * static_cast<std::size_t>(bytesPerRow) > available)
        throw PlatformError("Bitmap", 3, "Bitmap buffer is shorter than its rows");
}

BitmapRef Bitmap::create(int width, int height, int bytesPerRow, PixelFormat format, AlphaMode alpha,
                         std::vector<std::uint8_t> pixels) {
    validate(width, height, bytesPerRow, pixels.size());
    std::shared_ptr<Bitmap> b(new Bitmap);
    b->width_ = width;
    b->height_ = height;
    b->bytesPerRow_ = bytesPerRow;
    b->format_ = format;
    b->alpha_ = alpha;
    b->owned_ = std::move(pixels);
    b->data_ = b->owned_.data();
    return b;
}

BitmapRef Bitmap::wrap(int width, int height, int bytesPerRow, PixelFormat format, AlphaMode alpha,
                       const std::uint8_t* data, std::function<void()> release) {
    if (!data)
        throw PlatformError("Bitmap", 4, "Bitmap has no pixels");
    validate(width, height, bytesPerRow, std::numeric_limits<std::size_t>::max());
    std::shared_ptr<Bitmap> b(new Bitmap);
    b->width_ = width;
    b->height_ = height;
    b->bytesPerRow_ = bytesPerRow;
    b->format_ = format;
    b->alpha_ = alpha;
    b->data_ = data;
    b->release_ = std::move(release);
    return b;
}

BitmapRef Bitmap::fromQImage(const QImage& image) {
    // On little-endian machines Qt's ARGB32 formats are B, G, R, A in memory.
    const bool premultiplied = image.format() == QImage::Format_ARGB32_Premultiplied ||
                               image.format() == QImage::Format_RGBA8888_Premultiplied;
    const bool hasAlpha = image.hasAlphaChannel();
    QImage converted = image.convertToFormat(premultiplied ? QImage::Format_ARGB32_Premultiplied
                                                           : (hasAlpha ? QImage::Format_ARGB32
                                                                       : QImage::Format_RGB32));
    const int bpr = static_cast<int>(converted.bytesPerLine());
    std::vector<std::uint8_t> pixels(converted.constBits(),
                                     converted.constBits() + static_cast<std::size_t>(bpr) * converted.height());
    AlphaMode mode = premultiplied ? AlphaMode::premultiplied : (hasAlpha ? AlphaMode::straight : AlphaMode::opaque);
    if (mode == AlphaMode::opaque) {
        // RGB32 leaves the fourth byte at 0xff already; keep it that way for every consumer.
        for (int y = 0; y < converted.height(); ++y)
            for (int x = 0; x < converted.width(); ++x)
                pixels[static_cast<std::size_t>(y) * bpr + x * 4 + 3] = 0xff;
    }
    return create(converted.width(), converted.height(), bpr, PixelFormat::BGRA, mode, std::move(pixels));
}

QImage Bitmap::asQImage() const {
    QImage::Format f;
    if (format_ == PixelFormat::BGRA)
        f = alpha_ == AlphaMode::premultiplied ? QImage::Format_ARGB32_Premultiplied
            : alpha_ == AlphaMode::straight    ? QImage::Format_ARGB32
                                               : QImage::Format_RGB32;
    else
        f = alpha_ == AlphaMode::premultiplied ? QImage::Format_RGBA8888_Premultiplied
            : alpha_ == AlphaMode::straight    ? QImage::Format_RGBA8888
                                               : QImage::Format_RGBX8888;
    return QImage(data_, width_, height_, bytesPerRow_, f);
}

Bitmap::~Bitmap() {
    if (release_)
        release_();
}

}  // namespace platform
