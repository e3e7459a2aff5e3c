#include "Models/CapturedImage.h"

#include <QImage>

#include <algorithm>
#include <cmath>

namespace zentola {

namespace {
constexpr double kThumbnailSide = 300.0;
}

QSizeF CapturedImage::thumbnailSize(double pixelWidth, double pixelHeight) {
    const double aspect = pixelWidth / pixelHeight;
    if (aspect > 1)
        return QSizeF(kThumbnailSide, kThumbnailSide / aspect);
    return QSizeF(kThumbnailSide * aspect, kThumbnailSide);
}

platform::Image CapturedImage::thumbnailImage(double pixelsPerPoint) const {
    const platform::BitmapRef& bitmap = image.bitmap();
    if (!bitmap)
        return {};
    if (!(pixelsPerPoint > 0) || !std::isfinite(pixelsPerPoint))
        pixelsPerPoint = 1.0;
    const QSizeF points = thumbnailSize(bitmap->width(), bitmap->height());
    // A very thin bitmap still gets at least one pixel on its short side.
    const QSize pixels(std::max(1, int(std::lround(points.width() * pixelsPerPoint))),
                       std::max(1, int(std::lround(points.height() * pixelsPerPoint))));
    // The whole bitmap, resampled (never cropped) to the target size.
    const QImage scaled = bitmap->asQImage().scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return platform::Image(platform::Bitmap::fromQImage(scaled), points);
}

}  // namespace zentola
