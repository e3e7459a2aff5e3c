#pragma once

#include "packages/webp/InternalRawRepresentable.h"

#include <webp/encode.h>

#include <cstdint>
#include <optional>
#include <stdexcept>

namespace webp {

// Typed mirror of the library's encoder configuration. Obtain one from preset(), adjust fields,
// hand it to an encoder; it becomes the library record again just before encoding.
struct WebpEncoderConfig {
    using RawValue = WebPConfig;

    // Raw values are the library's WebPImageHint.
    enum class WebpImageHint : int { default_ = 0, picture = 1, photo = 2, graph = 3 };

    // The library's presets 0 to 5, in this order.
    enum class Preset { default_, picture, photo, drawing, icon, text };

    std::int64_t lossless = 0;
    float quality = 0;
    std::int64_t method = 0;
    WebpImageHint imageHint = WebpImageHint::default_;
    std::int64_t targetSize = 0;
    float targetPSNR = 0.0f;
    std::int64_t segments = 0;
    std::int64_t snsStrength = 0;
    std::int64_t filterStrength = 0;
    std::int64_t filterSharpness = 0;
    std::int64_t filterType = 0;
    std::int64_t autofilter = 0;
    std::int64_t alphaCompression = 1;
    std::int64_t alphaFiltering = 0;
    std::int64_t alphaQuality = 100;
    std::int64_t pass = 0;
    bool showCompressed = false;
    std::int64_t preprocessing = 0;
    std::int64_t partitions = 0;
    std::int64_t partitionLimit = 0;
    bool emulateJpegSize = false;
    std::int64_t threadLevel = 0;
    bool lowMemory = false;
    std::int64_t nearLossless = 100;
    std::int64_t exact = 0;
    std::int64_t qmin = 0;
    std::int64_t qmax = 100;
    bool useDeltaPalette = false;
    bool useSharpYUV = false;

    // Every field as the library's preset sets it for this quality (0 to 100; out-of-range values
    // pass through and fail validation at encode time).
    static WebpEncoderConfig preset(Preset preset, float quality);

    // The library record, field by field by name. An integer beyond 32 bits saturates rather than
    // wrapping, so it can never turn into a small value the library would accept.
    WebPConfig rawValue() const;
    // No config when the record's image hint is not one of the four.
    static std::optional<WebpEncoderConfig> fromRawValue(const WebPConfig& raw);
    // True when every integer field fits the library's 32-bit record unchanged.
    bool fitsRawValue() const;
};

static_assert(InternalRawRepresentable<WebpEncoderConfig>);

// The library record of `preset` at `quality`.
WebPConfig webPConfig(WebpEncoderConfig::Preset preset, float quality);

std::optional<WebpEncoderConfig::WebpImageHint> webpImageHintFromRawValue(WebPImageHint raw);
WebPImageHint rawValue(WebpEncoderConfig::WebpImageHint hint);

// Lets a hint be written as an integer literal; only the four hints compile.
consteval WebPImageHint webpImageHintLiteral(int value) {
    if (value < 0 || value > 3)
        throw std::out_of_range("image hint literal outside 0 to 3");
    return static_cast<WebPImageHint>(value);
}

}  // namespace webp
