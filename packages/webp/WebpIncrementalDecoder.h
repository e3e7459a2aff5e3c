#pragma once

#include "packages/webp/WebpIncrementalDecoderResult.h"

#include <webp/decode.h>

#include <cstdint>
#include <span>

namespace webp {

// Decodes a WebP file while it is still arriving. Failures throw platform::PlatformError with the
// domain "WebpSpecialDecoder" and the code 500.
class WebpIncrementalDecoder {
public:
    WebpIncrementalDecoder();
    ~WebpIncrementalDecoder();
    WebpIncrementalDecoder(const WebpIncrementalDecoder&) = delete;
    WebpIncrementalDecoder& operator=(const WebpIncrementalDecoder&) = delete;

    // `data` is the whole file received so far, not only the new part. The image covers the
    // full canvas in straight RGBA; rows not decoded yet hold whatever the buffer holds.
    WebpIncrementalDecoderResult incremetallyDecodeData(std::span<const std::uint8_t> data);

private:
    WebPDecoderConfig config_{};
    WebPDecBuffer* outputBuffer_ = nullptr;
    WebPBitstreamFeatures* bitstream_ = nullptr;
    WebPIDecoder* iDecoder_ = nullptr;
};

}  // namespace webp
