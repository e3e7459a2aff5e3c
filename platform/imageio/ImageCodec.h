#pragma once

#include "platform/core/Bitmap.h"

#include <QByteArray>
#include <QString>

namespace platform {

// Encoders for the still-image files and for the pasteboard's image representations. Opaque bitmaps
// are written without an alpha channel; premultiplied ones are un-premultiplied first; JPEG, which
// has no alpha, gets see-through bitmaps flattened over white. Every
// function throws PlatformError("ImageCodec", ...) when the encoder fails.
class ImageCodec {
public:
    enum class Format { png, jpeg, heic, tiff };

    static QByteArray pngData(const Bitmap& bitmap);
    static QByteArray tiffData(const Bitmap& bitmap);
    // quality 0...1 (values outside are clamped).
    static QByteArray jpegData(const Bitmap& bitmap, double quality);
    static QByteArray heicData(const Bitmap& bitmap, double quality);
    // The format's encoder; quality is used by JPEG and HEIC only.
    static QByteArray encode(const Bitmap& bitmap, Format format, double quality);

};

}  // namespace platform
