#pragma once

#include <webp/decode.h>

#include <optional>

namespace webp {

// Raw values are the library's colour-space modes.
enum class ColorspaceMode : int {
    RGB = 0,
    RGBA = 1,
    BGR = 2,
    BGRA = 3,
    ARGB = 4,
    RGBA4444 = 5,
    RGB565 = 6,
    rgbA = 7,
    bgrA = 8,
    Argb = 9,
    rgbA4444 = 10,
    YUV = 11,
    YUVA = 12,
};

constexpr bool isPremultipliedMode(ColorspaceMode m) {
    const int v = static_cast<int>(m);
    return v >= 7 && v <= 10;
}

constexpr bool isAlphaMode(ColorspaceMode m) {
    switch (m) {
    case ColorspaceMode::RGBA:
    case ColorspaceMode::BGRA:
    case ColorspaceMode::ARGB:
    case ColorspaceMode::RGBA4444:
    case ColorspaceMode::rgbA:
    case ColorspaceMode::bgrA:
    case ColorspaceMode::Argb:
    case ColorspaceMode::rgbA4444:
    case ColorspaceMode::YUVA:
        return true;
    default:
        return false;
    }
}

constexpr bool isRGBMode(ColorspaceMode m) { return static_cast<int>(m) < 11; }

inline std::optional<ColorspaceMode> colorspaceModeFromRawValue(int raw) {
    if (raw < 0 || raw > 12)
        return std::nullopt;
    return static_cast<ColorspaceMode>(raw);
}

inline WEBP_CSP_MODE rawValue(ColorspaceMode m) { return static_cast<WEBP_CSP_MODE>(static_cast<int>(m)); }

}  // namespace webp
