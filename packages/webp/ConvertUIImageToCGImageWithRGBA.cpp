#include "packages/webp/ConvertUIImageToCGImageWithRGBA.h"

#include "packages/webp/WebPError.h"

#include <cmath>
#include <limits>
#include <memory>

namespace webp {

platform::BitmapRef convertUIImageToCGImageWithRGBA(const platform::Image& image) {
    if (image.isNull())
        throw WebPError::unexpectedError("");
    const double w = image.size().width();
    const double h = image.size().height();
    // Rows of width x 4 bytes must fit an int as well.
    constexpr double limit = std::numeric_limits<int>::max() / 4;
    if (!std::isfinite(w) || !std::isfinite(h) || w < 1 || h < 1 || w > limit || h > limit)
        throw WebPError::unexpectedError("Couldn't initialize CGContext");
    const int width = static_cast<int>(w);
    const int height = static_cast<int>(h);

    QImage drawn = image.bitmap()->asQImage().convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (drawn.width() != width || drawn.height() != height)
        drawn = drawn.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (drawn.isNull() || drawn.format() != QImage::Format_RGBA8888_Premultiplied)
        throw WebPError::unexpectedError("Couldn't ");
    // The bitmap shares the QImage's pixels instead of copying them; those may still be the
    // source bitmap's own when no conversion was needed, so that one is kept too.
    auto holder = std::make_shared<QImage>(std::move(drawn));
    return platform::Bitmap::wrap(width, height, static_cast<int>(holder->bytesPerLine()), platform::PixelFormat::RGBA,
                                  platform::AlphaMode::premultiplied, holder->constBits(),
                                  [holder, source = image.bitmap()] {});
}

}  // namespace webp
