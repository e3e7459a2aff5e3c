#pragma once

#include "packages/webp/Data.h"

#include <cstddef>
#include <cstdint>

namespace webp {

// Decoded 4:2:0 planes. The chroma planes are (width + 1) / 2 by (height + 1) / 2; the alpha
// plane is empty unless alpha was asked for. All four live in `memory`.
struct WebpYUVAPlanes {
    struct Plane {
        const std::uint8_t* bytes = nullptr;
        int stride = 0;
        std::size_t size = 0;
    };

    int width = 0;
    int height = 0;
    Plane y, u, v, a;
    Data memory;
};

}  // namespace webp
