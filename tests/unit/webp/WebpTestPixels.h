#pragma once

#include "packages/webp/Data.h"
#include "packages/webp/WebPEncoder.h"

#include "platform/core/Bitmap.h"

#include <webp/decode.h>

#include <cstdint>
#include <vector>

namespace webptest {

// Busy RGBA pixels (no two neighbours alike), opaque unless asked; or a smooth gradient for lossy
// round trips.
inline std::vector<std::uint8_t> rgbaPattern(int w, int h, bool varyAlpha = false, bool smooth = false) {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* q = &p[(static_cast<std::size_t>(y) * w + x) * 4];
            q[0] = std::uint8_t(smooth ? x * 255 / (w - 1) : x * 37 + y * 11);
            q[1] = std::uint8_t(smooth ? y * 255 / (h - 1) : x * 5 + y * 53 + 7);
            q[2] = std::uint8_t(smooth ? 128 : (x ^ y) * 29 + 100);
            q[3] = varyAlpha ? std::uint8_t(x * 17 + y * 3 + 1) : 255;
        }
    return p;
}

// The library's own straight-RGBA decode, as an oracle independent of the package's decoder.
struct Decoded {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
};
inline Decoded libraryDecode(const webp::Data& file) {
    Decoded d;
    if (std::uint8_t* px = WebPDecodeRGBA(file.data(), file.size(), &d.width, &d.height)) {
        d.rgba.assign(px, px + static_cast<std::size_t>(d.width) * d.height * 4);
        WebPFree(px);
    }
    return d;
}

inline platform::BitmapRef flatBitmap(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a,
                                      platform::AlphaMode alpha = platform::AlphaMode::straight) {
    std::vector<std::uint8_t> p;
    for (int i = 0; i < w * h; ++i)
        p.insert(p.end(), {r, g, b, a});
    return platform::Bitmap::create(w, h, w * 4, platform::PixelFormat::RGBA, alpha, std::move(p));
}

// Lossless and exact (colours under transparent pixels kept), for exact comparisons.
inline webp::WebpEncoderConfig losslessConfig() {
    auto c = webp::WebpEncoderConfig::preset(webp::WebpEncoderConfig::Preset::default_, 75);
    c.lossless = 1;
    c.exact = 1;
    return c;
}

inline webp::Data encodeRGBA(const std::vector<std::uint8_t>& pixels, int w, int h, bool lossless) {
    auto config = lossless ? losslessConfig() : webp::WebpEncoderConfig::preset(webp::WebpEncoderConfig::Preset::photo, 80);
    return webp::WebPEncoder().encode(webp::RGBA, pixels.data(), config, w, h, w * 4, 0, 0);
}

}  // namespace webptest
