#pragma once

#include "packages/webp/InternalRawRepresentable.h"

#include <webp/decode.h>

#include <array>
#include <cstdint>
#include <optional>

namespace webp {

// Typed mirror of the library's decoding options.
struct WebpDecoderOptions {
    using RawValue = WebPDecoderOptions;

    // The library's defaults, as a freshly initialised decoder configuration holds them.
    WebpDecoderOptions();

    std::int64_t bypassFiltering = 0;
    std::int64_t noFancyUpsampling = 0;
    bool useCropping = false;
    std::int64_t cropLeft = 0;
    std::int64_t cropTop = 0;
    std::int64_t cropWidth = 0;
    std::int64_t cropHeight = 0;
    bool useScaling = false;
    std::int64_t scaledWidth = 0;
    std::int64_t scaledHeight = 0;
    bool useThreads = false;
    std::int64_t ditheringStrength = 0;
    std::int64_t flip = 0;
    std::int64_t alphaDitheringStrength = 0;
    std::array<std::int64_t, 5> pad{};

    WebPDecoderOptions rawValue() const;
    static std::optional<WebpDecoderOptions> fromRawValue(const WebPDecoderOptions& raw);

private:
    struct NoInit {};
    explicit WebpDecoderOptions(NoInit) {}
};

static_assert(InternalRawRepresentable<WebpDecoderOptions>);

}  // namespace webp
