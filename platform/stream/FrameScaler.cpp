#include "platform/stream/FrameScaler.h"

#include "platform/core/Error.h"

#include <QImage>

#include <memory>

namespace platform {

BitmapRef FrameScaler::scale(const BitmapRef& source, QSize size) {
    if (!source)
        return source;
    if (size.isEmpty())
        throw PlatformError("FrameScaler", 1, "Cannot scale a frame to an empty size");
    if (source->width() == size.width() && source->height() == size.height())
        return source;
    const QImage view = source->asQImage();
    auto scaled =
        std::make_shared<QImage>(view.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    if (scaled->isNull())
        throw PlatformError("FrameScaler", 2, "Out of memory while scaling a frame");
    if (scaled->format() != view.format())
        scaled->convertTo(view.format());
    const std::uint8_t* bits = scaled->constBits();
    return Bitmap::wrap(scaled->width(), scaled->height(), int(scaled->bytesPerLine()), source->format(),
                        source->alpha(), bits, [scaled] {});
}

}  // namespace platform
