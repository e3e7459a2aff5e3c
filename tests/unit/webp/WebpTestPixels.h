#pragma once

#include "packages/webp/Data.h"
#include "packages/webp/WebPEncoder.h"

#include "platform/core/Bitmap.h"

#include <webp/decode.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace webptest {

// Deterministic, busy RGBA pixels (no two neighbours alike) with alpha 255 unless asked.
inline std::vector<std::uint8_t> rgbaPattern(int w, int h, bool varyAlpha = false) {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* q = &p[(static_cast<std::size_t>(y) * w + x) * 4];
            q[0] = static_cast<std::uint8_t>(x * 37 + y * 11);
            q[1] = static_cast<std::uint8_t>(x * 5 + y * 53 + 7);
            q[2] = static_cast<std::uint8_t>((x ^ y) * 29 + 100);
            q[3] = varyAlpha ? static_cast<std::uint8_t>(x * 17 + y * 3 + 1) : 255;
        }
    return p;
}

// A smooth image for lossy round trips.
inline std::vector<std::uint8_t> rgbaGradient(int w, int h) {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* q = &p[(static_cast<std::size_t>(y) * w + x) * 4];
            q[0] = static_cast<std::uint8_t>(x * 255 / (w - 1));
            q[1] = static_cast<std::uint8_t>(y * 255 / (h - 1));
            q[2] = 128;
            q[3] = 255;
        }
    return p;
}

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
};

// The library's own straight-RGBA decode, as an oracle independent of the package's decoder.
inline Decoded libraryDecode(const webp::Data& file) {
    Decoded d;
    std::uint8_t* px = WebPDecodeRGBA(file.data(), file.size(), &d.width, &d.height);
    if (px) {
        d.rgba.assign(px, px + static_cast<std::size_t>(d.width) * d.height * 4);
        WebPFree(px);
    }
    return d;
}

inline platform::BitmapRef rgbaBitmap(int w, int h, std::vector<std::uint8_t> pixels,
                                      platform::AlphaMode alpha = platform::AlphaMode::straight) {
    return platform::Bitmap::create(w, h, w * 4, platform::PixelFormat::RGBA, alpha, std::move(pixels));
}

inline platform::BitmapRef flatBitmap(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a,
                                      platform::AlphaMode alpha = platform::AlphaMode::straight) {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(w) * h * 4);
    for (std::size_t i = 0; i < p.size(); i += 4) {
        p[i] = r;
        p[i + 1] = g;
        p[i + 2] = b;
        p[i + 3] = a;
    }
    return rgbaBitmap(w, h, std::move(p), alpha);
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
