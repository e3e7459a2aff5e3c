#pragma once

#include "packages/webp/WebpBitstreamFeatures.h"

#include <cstdint>
#include <span>

namespace webp {

class WebpImageInspector {
public:
    // The bitstream's features; throws WebPError ("Error VP8StatusCode=<n>" when the library
    // cannot read them, unexpectedPointerError for an unknown format).
    static WebpBitstreamFeatures inspect(std::span<const std::uint8_t> data);
};

}  // namespace webp
