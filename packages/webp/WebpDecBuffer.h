#pragma once

#include "packages/webp/ColorspaceMode.h"
#include "packages/webp/InternalRawRepresentable.h"

#include <webp/decode.h>

#include <array>
#include <cstdint>
#include <optional>
#include <variant>

namespace webp {

// Typed mirror of the library's decoding output buffer. The pointers are the library's.
struct WebpDecBuffer {
    using RawValue = WebPDecBuffer;
    // RGBA for the RGB modes, YUVA for the two YUV modes.
    using Colorspace = std::variant<WebPRGBABuffer, WebPYUVABuffer>;

    ColorspaceMode colorspace = ColorspaceMode::RGB;
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool isExternalMemory = false;
    Colorspace u = WebPRGBABuffer{};
    std::array<std::int64_t, 4> pad{};
    std::uint8_t* privateMemory = nullptr;

    WebPDecBuffer rawValue() const;
    // No value for a colour space outside 0 to 12.
    static std::optional<WebpDecBuffer> fromRawValue(const WebPDecBuffer& raw);
};

static_assert(InternalRawRepresentable<WebpDecBuffer>);

}  // namespace webp
