#pragma once

#include "packages/webp/Data.h"
#include "packages/webp/PixelOrder.h"
#include "packages/webp/WebpEncoderConfig.h"

#include "platform/core/Bitmap.h"
#include "platform/core/Image.h"

#include <cstdint>
#include <optional>

namespace webp {

// Encodes pixels in memory to a complete WebP file, synchronously on the caller's thread.
// Failures throw WebPEncoderError (config refused before any pixel is read, pixels refused at
// import) or WebPEncodeStatusCode (the library's encode failed); no partial file is returned.
class WebPEncoder {
public:
    WebPEncoder() = default;

    // `originHeight` rows of `originWidth` pixels, each row `stride` bytes after the previous.
    // The alpha channel is encoded as given (not unpremultiplied). The resize sizes are accepted
    // and not used: the file is always originWidth x originHeight.
    Data encode(PixelOrderTag<PixelOrder::RGB>, const std::uint8_t* pixels, const WebpEncoderConfig& config,
                std::int64_t originWidth, std::int64_t originHeight, std::int64_t stride,
                std::int64_t resizeWidth, std::int64_t resizeHeight) const;
    Data encode(PixelOrderTag<PixelOrder::RGBA>, const std::uint8_t* pixels, const WebpEncoderConfig& config,
                std::int64_t originWidth, std::int64_t originHeight, std::int64_t stride,
                std::int64_t resizeWidth, std::int64_t resizeHeight) const;
    Data encode(PixelOrderTag<PixelOrder::RGBX>, const std::uint8_t* pixels, const WebpEncoderConfig& config,
                std::int64_t originWidth, std::int64_t originHeight, std::int64_t stride,
                std::int64_t resizeWidth, std::int64_t resizeHeight) const;
    Data encode(PixelOrderTag<PixelOrder::BGR>, const std::uint8_t* pixels, const WebpEncoderConfig& config,
                std::int64_t originWidth, std::int64_t originHeight, std::int64_t stride,
                std::int64_t resizeWidth, std::int64_t resizeHeight) const;
    Data encode(PixelOrderTag<PixelOrder::BGRA>, const std::uint8_t* pixels, const WebpEncoderConfig& config,
                std::int64_t originWidth, std::int64_t originHeight, std::int64_t stride,
                std::int64_t resizeWidth, std::int64_t resizeHeight) const;
    Data encode(PixelOrderTag<PixelOrder::BGRX>, const std::uint8_t* pixels, const WebpEncoderConfig& config,
                std::int64_t originWidth, std::int64_t originHeight, std::int64_t stride,
                std::int64_t resizeWidth, std::int64_t resizeHeight) const;

    // A bitmap's stored bytes read in the named channel order, with its width, height and row
    // length; the caller picks the member matching the bitmap. The three-channel orders read the
    // first three bytes of each four-byte pixel. Resize sizes are not used.
    Data encode(PixelOrderTag<PixelOrder::RGB>, const platform::Bitmap& image, const WebpEncoderConfig& config,
                std::int64_t resizeWidth, std::int64_t resizeHeight) const;
    Data encode(PixelOrderTag<PixelOrder::RGBA>, const platform::Bitmap& image, const WebpEncoderConfig& config,
                std::int64_t resizeWidth, std::int64_t resizeHeight) const;
    Data encode(PixelOrderTag<PixelOrder::RGBX>, const platform::Bitmap& image, const WebpEncoderConfig& config,
                std::int64_t resizeWidth, std::int64_t resizeHeight) const;
    Data encode(PixelOrderTag<PixelOrder::BGR>, const platform::Bitmap& image, const WebpEncoderConfig& config,
                std::int64_t resizeWidth, std::int64_t resizeHeight) const;
    Data encode(PixelOrderTag<PixelOrder::BGRA>, const platform::Bitmap& image, const WebpEncoderConfig& config,
                std::int64_t resizeWidth, std::int64_t resizeHeight) const;
    Data encode(PixelOrderTag<PixelOrder::BGRX>, const platform::Bitmap& image, const WebpEncoderConfig& config,
                std::int64_t resizeWidth, std::int64_t resizeHeight) const;

    // An image's colours without alpha, at its size in points (rescaled when its bitmap has
    // another pixel size). `width` and `height` are not used.
    Data encode(const platform::Image& image, const WebpEncoderConfig& config, std::int64_t width,
                std::int64_t height) const;

private:
    using Importer = int (*)(WebPPicture*, const std::uint8_t*, int);
    struct Size {
        int width;
        int height;
    };

    static Data encode(const std::uint8_t* pixels, Importer importer, const WebpEncoderConfig& config,
                       std::int64_t originWidth, std::int64_t originHeight, std::int64_t stride,
                       std::optional<Size> rescaleTo = std::nullopt);
};

}  // namespace webp
