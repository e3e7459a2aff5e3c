#pragma once

#include <cstdint>

namespace webp {

// One colour channel against its alpha, rounded to nearest.
inline std::uint8_t premultipliedChannel(unsigned c, unsigned a) {
    return static_cast<std::uint8_t>((c * a + 127) / 255);
}

// Capped at 255 for colours above their alpha; a transparent pixel has no colour to recover.
inline std::uint8_t unpremultipliedChannel(unsigned c, unsigned a) {
    if (a == 0)
        return 0;
    const unsigned v = (c * 255 + a / 2) / a;
    return static_cast<std::uint8_t>(v > 255 ? 255 : v);
}

}  // namespace webp
