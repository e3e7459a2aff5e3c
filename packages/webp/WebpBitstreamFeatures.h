#pragma once

#include "packages/webp/InternalRawRepresentable.h"

#include <webp/decode.h>

#include <array>
#include <cstdint>
#include <optional>

namespace webp {

// Typed mirror of the library's bitstream features.
struct WebpBitstreamFeatures {
    using RawValue = WebPBitstreamFeatures;

    enum class Format : int { undefined = 0, lossy = 1, lossless = 2 };

    std::int64_t width = 0;
    std::int64_t height = 0;
    bool hasAlpha = false;
    bool hasAnimation = false;
    Format format = Format::undefined;
    std::array<std::int64_t, 5> pad{};

    WebPBitstreamFeatures rawValue() const;
    // No value when the format is outside 0 to 2.
    static std::optional<WebpBitstreamFeatures> fromRawValue(const WebPBitstreamFeatures& raw);
};

static_assert(InternalRawRepresentable<WebpBitstreamFeatures>);

}  // namespace webp
