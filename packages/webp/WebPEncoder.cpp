#include "packages/webp/WebPEncoder.h"

#include "packages/webp/AlphaMath.h"
#include "packages/webp/Narrow.h"
#include "packages/webp/ScopedPicture.h"
#include "packages/webp/WebPEncodeStatusCode.h"
#include "packages/webp/WebPEncoderError.h"
#include "packages/webp/WebPError.h"

#include <cmath>
#include <limits>
#include <vector>

namespace webp {

namespace {

// Refused before any pixel is touched.
WebPConfig validated(const WebpEncoderConfig& config) {
    const WebPConfig raw = config.rawValue();
    if (!config.fitsRawValue() || !WebPValidateConfig(&raw))
        throw WebPEncoderError(WebPEncoderErrorCase::invalidParameter);
    return raw;
}

// Straight colours, no alpha, three bytes per pixel, rows packed.
std::vector<std::uint8_t> packedRGB(const platform::Bitmap& bitmap) {
    const int w = bitmap.width();
    const int h = bitmap.height();
    const bool bgra = bitmap.format() == platform::PixelFormat::BGRA;
    const bool premultiplied = bitmap.alpha() == platform::AlphaMode::premultiplied;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * 3);
    std::uint8_t* o = out.data();
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* p = bitmap.row(y);
        for (int x = 0; x < w; ++x, p += 4, o += 3) {
            unsigned r = bgra ? p[2] : p[0];
            unsigned g = p[1];
            unsigned b = bgra ? p[0] : p[2];
            const unsigned a = p[3];
            if (premultiplied && a < 255) {
                r = unpremultipliedChannel(r, a);
                g = unpremultipliedChannel(g, a);
                b = unpremultipliedChannel(b, a);
            }
            o[0] = static_cast<std::uint8_t>(r);
            o[1] = static_cast<std::uint8_t>(g);
            o[2] = static_cast<std::uint8_t>(b);
        }
    }
    return out;
}

// A point length as a picture side, or nothing when it is not a usable 32-bit size.
std::optional<int> pointLength(double points) {
    if (!std::isfinite(points) || points < 1 || points > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(points);
}

}  // namespace

Data WebPEncoder::encode(const std::uint8_t* pixels, Importer import, const WebpEncoderConfig& config,
                         std::int64_t originWidth, std::int64_t originHeight, std::int64_t stride,
                         std::optional<Size> rescaleTo) {
    const WebPConfig raw = validated(config);

    ScopedPicture picture;
    if (!picture.init())
        throw WebPEncoderError(WebPEncoderErrorCase::invalidParameter);
    // Sizes that do not survive narrowing are refused like any size the library cannot import,
    // rather than wrapping into some other picture.
    if (!pixels || !fits32(originWidth) || !fits32(originHeight) || !fits32(stride))
        throw WebPEncoderError(WebPEncoderErrorCase::versionMismatched);
    picture->use_argb = raw.lossless != 0 ? 1 : 0;
    picture->width = static_cast<int>(originWidth);
    picture->height = static_cast<int>(originHeight);
    if (!import(picture.get(), pixels, static_cast<int>(stride)))
        throw WebPEncoderError(WebPEncoderErrorCase::versionMismatched);
    if (rescaleTo && (rescaleTo->width != picture->width || rescaleTo->height != picture->height) &&
        !WebPPictureRescale(picture.get(), rescaleTo->width, rescaleTo->height))
        throw WebPEncodeStatusCode(WebPEncodeStatus::outOfMemory);

    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture->writer = WebPMemoryWrite;
    picture->custom_ptr = &writer;
    if (!WebPEncode(&raw, picture.get())) {
        WebPMemoryWriterClear(&writer);
        const int code = picture->error_code;
        throw WebPEncodeStatusCode::fromRawValue(code).value_or(WebPEncodeStatusCode(WebPEncodeStatus::last));
    }
    return Data::adopt(writer.mem, writer.size);
}

// The six channel orders differ only in the library's import function. A bitmap always has four
// bytes per pixel, so the three-channel orders read it with the importer that skips the fourth.
#define WEBP_RAW_MEMBER(ORDER, IMPORT, BITMAP_IMPORT)                                                     \
    Data WebPEncoder::encode(PixelOrderTag<PixelOrder::ORDER>, const std::uint8_t* pixels,                 \
                             const WebpEncoderConfig& config, std::int64_t originWidth,                    \
                             std::int64_t originHeight, std::int64_t stride, std::int64_t,                 \
                             std::int64_t) const {                                                         \
        return encode(pixels, IMPORT, config, originWidth, originHeight, stride);                          \
    }                                                                                                      \
    Data WebPEncoder::encode(PixelOrderTag<PixelOrder::ORDER>, const platform::Bitmap& image,              \
                             const WebpEncoderConfig& config, std::int64_t, std::int64_t) const {          \
        return encode(image.data(), BITMAP_IMPORT, config, image.width(), image.height(),                  \
                      image.bytesPerRow());                                                                \
    }

WEBP_RAW_MEMBER(RGB, WebPPictureImportRGB, WebPPictureImportRGBX)
WEBP_RAW_MEMBER(RGBA, WebPPictureImportRGBA, WebPPictureImportRGBA)
WEBP_RAW_MEMBER(RGBX, WebPPictureImportRGBX, WebPPictureImportRGBX)
WEBP_RAW_MEMBER(BGR, WebPPictureImportBGR, WebPPictureImportBGRX)
WEBP_RAW_MEMBER(BGRA, WebPPictureImportBGRA, WebPPictureImportBGRA)
WEBP_RAW_MEMBER(BGRX, WebPPictureImportBGRX, WebPPictureImportBGRX)

#undef WEBP_RAW_MEMBER

Data WebPEncoder::encode(const platform::Image& image, const WebpEncoderConfig& config, std::int64_t,
                         std::int64_t) const {
    if (image.isNull())
        throw WebPError::unexpectedError("Given image doesn't support TIFF representation.");
    validated(config);
    const auto width = pointLength(image.size().width());
    const auto height = pointLength(image.size().height());
    if (!width || !height)
        throw WebPError::unexpectedError("NSBitmapImageRep couldn't interpret given image.");
    const platform::Bitmap& bitmap = *image.bitmap();
    const std::vector<std::uint8_t> rgb = packedRGB(bitmap);
    return encode(rgb.data(), WebPPictureImportRGB, config, bitmap.width(), bitmap.height(),
                  static_cast<std::int64_t>(bitmap.width()) * 3, Size{*width, *height});
}

}  // namespace webp
