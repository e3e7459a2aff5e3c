#pragma once

#include "platform/core/Bitmap.h"

#include <cstdint>

namespace platform {

// 32-bit RGB to 8-bit 4:2:0 planar YUV, BT.709 limited range: the encoders' input format. Several
// times faster than the general scaler for the one case a recording needs (same size, no scaling).
struct PixelConversion {
    struct Planes {
        std::uint8_t* y;
        std::uint8_t* u;
        std::uint8_t* v;
        int yStride;
        int uStride;
        int vStride;
    };
    // The vector instructions the conversion may use; the best the processor has, unless limited.
    enum class Instructions { plain, avx2, avx512 };
    static bool supports(Instructions instructions);

    // Converts the top-left width x height pixels of the bitmap (both even, within the bitmap).
    // Chroma is the average of each 2x2 block. Every choice of instructions gives the same bytes.
    static void toI420(const Bitmap& source, int width, int height, const Planes& out,
                       Instructions limit = Instructions::avx512);
};

}  // namespace platform
