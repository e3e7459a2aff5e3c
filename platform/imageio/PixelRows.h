#pragma once

#include "platform/core/Bitmap.h"

#include <cstdint>

namespace platform {

// Rows of a bitmap as the encoders want them: R, G, B (opaque bitmaps) or straight R, G, B, A.
class PixelRows {
public:
    explicit PixelRows(const Bitmap& bitmap) : bitmap_(bitmap) {}

    // Opaque bitmaps are written without alpha.
    bool hasAlpha() const { return bitmap_.alpha() != AlphaMode::opaque; }
    int channels() const { return hasAlpha() ? 4 : 3; }
    int rowBytes() const { return bitmap_.width() * channels(); }
    // Converts row y into out (rowBytes() bytes).
    void convert(int y, std::uint8_t* out) const;

private:
    const Bitmap& bitmap_;
};

}  // namespace platform
