#pragma once

#include "platform/core/Image.h"

#include <optional>

namespace webp {

// What an incremental decode has shown so far; no image until some rows are decoded.
struct WebpIncrementalDecoderResult {
    std::optional<platform::Image> image;
};

}  // namespace webp
