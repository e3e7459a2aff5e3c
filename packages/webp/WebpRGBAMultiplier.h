#pragma once

#include "packages/webp/Data.h"

#include <cstdint>
#include <optional>

namespace webp {

// (Un)premultiplies RGBA8888 pixels: rows of width x 4 bytes, no padding. Each colour becomes
// round(colour x alpha / 255), or back round(colour x 255 / alpha) capped at 255; a pixel with
// alpha 0 unpremultiplies to 0.
class WebpRGBAMultiplier {
public:
    // A new buffer from the C allocator (free it with free()), or nullptr for sizes that are not
    // positive or do not fit memory.
    static std::uint8_t* premultiplyBytes(const std::uint8_t* bytes, std::int64_t width, std::int64_t height);
    static std::uint8_t* unpremultiplyBytes(const std::uint8_t* bytes, std::int64_t width, std::int64_t height);

    // Nothing as well when `data` is shorter than width x height x 4 bytes.
    static std::optional<Data> premultiply(const Data& data, std::int64_t width, std::int64_t height);
    static std::optional<Data> unpremultiply(const Data& data, std::int64_t width, std::int64_t height);
};

}  // namespace webp
