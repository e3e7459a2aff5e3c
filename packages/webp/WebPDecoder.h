#pragma once

#include "packages/webp/ColorspaceMode.h"
#include "packages/webp/Data.h"
#include "packages/webp/WebpDecoderOptions.h"
#include "packages/webp/WebpYUVAPlanes.h"

#include "platform/core/Bitmap.h"
#include "platform/core/Image.h"

#include <cstdint>
#include <span>

namespace webp {

template <ColorspaceMode Mode>
struct DecodeByTag {
    static constexpr ColorspaceMode mode = Mode;
};

// The output layout, written as the first argument so a call reads decode(byRGBA, data, options).
inline constexpr DecodeByTag<ColorspaceMode::RGB> byRGB{};
inline constexpr DecodeByTag<ColorspaceMode::RGBA> byRGBA{};
inline constexpr DecodeByTag<ColorspaceMode::BGR> byBGR{};
inline constexpr DecodeByTag<ColorspaceMode::BGRA> byBGRA{};
inline constexpr DecodeByTag<ColorspaceMode::ARGB> byARGB{};
inline constexpr DecodeByTag<ColorspaceMode::RGBA4444> byRGBA4444{};
inline constexpr DecodeByTag<ColorspaceMode::RGB565> byRGB565{};
inline constexpr DecodeByTag<ColorspaceMode::rgbA> byrgbA{};
inline constexpr DecodeByTag<ColorspaceMode::bgrA> bybgrA{};
inline constexpr DecodeByTag<ColorspaceMode::Argb> byArgb{};
inline constexpr DecodeByTag<ColorspaceMode::rgbA4444> byrgbA4444{};
inline constexpr DecodeByTag<ColorspaceMode::YUV> byYUV{};
inline constexpr DecodeByTag<ColorspaceMode::YUVA> byYUVA{};

struct ToImageTag {};
inline constexpr ToImageTag toImage{};

// Decodes a WebP file. Raw decodes throw WebpDecodingError; the image decodes throw WebPError
// for inspection and conversion failures.
class WebPDecoder {
public:
    WebPDecoder() = default;

    // Pixels in the named layout, rows of width x bytes per pixel, top row first.
    template <ColorspaceMode Mode>
        requires(isRGBMode(Mode) && Mode != ColorspaceMode::BGR)
    Data decode(DecodeByTag<Mode>, std::span<const std::uint8_t> data, const WebpDecoderOptions& options) const {
        return decodeRGB(Mode, data, options);
    }
    // The two sizes are accepted and not used.
    Data decode(DecodeByTag<ColorspaceMode::BGR>, std::span<const std::uint8_t> data,
                const WebpDecoderOptions& options, std::int64_t width, std::int64_t height) const;

    // The decoded luma and chroma planes (and alpha for byYUVA).
    WebpYUVAPlanes decode(DecodeByTag<ColorspaceMode::YUV>, std::span<const std::uint8_t> data,
                          const WebpDecoderOptions& options) const;
    WebpYUVAPlanes decode(DecodeByTag<ColorspaceMode::YUVA>, std::span<const std::uint8_t> data,
                          const WebpDecoderOptions& options) const;

    // Premultiplied RGBA at the decoded size (the scaled or cropped size when asked for).
    platform::BitmapRef decode(std::span<const std::uint8_t> data, const WebpDecoderOptions& options) const;
    // The same as an image whose size in points is its pixel size.
    platform::Image decode(ToImageTag, std::span<const std::uint8_t> data, const WebpDecoderOptions& options) const;

private:
    static Data decodeRGB(ColorspaceMode mode, std::span<const std::uint8_t> data, const WebpDecoderOptions& options,
                          int* width = nullptr, int* height = nullptr);
    static WebpYUVAPlanes decodeYUV(ColorspaceMode mode, std::span<const std::uint8_t> data,
                                    const WebpDecoderOptions& options);
};

}  // namespace webp
