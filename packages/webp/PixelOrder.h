#pragma once

namespace webp {

// Channel order of the pixels handed to an encoder, written as the first argument so a call reads
// encode(RGBA, pixels, ...).
enum class PixelOrder { RGB, RGBA, RGBX, BGR, BGRA, BGRX };

template <PixelOrder Order>
struct PixelOrderTag {
    static constexpr PixelOrder order = Order;
};

inline constexpr PixelOrderTag<PixelOrder::RGB> RGB{};
inline constexpr PixelOrderTag<PixelOrder::RGBA> RGBA{};
inline constexpr PixelOrderTag<PixelOrder::RGBX> RGBX{};
inline constexpr PixelOrderTag<PixelOrder::BGR> BGR{};
inline constexpr PixelOrderTag<PixelOrder::BGRA> BGRA{};
inline constexpr PixelOrderTag<PixelOrder::BGRX> BGRX{};

}  // namespace webp
