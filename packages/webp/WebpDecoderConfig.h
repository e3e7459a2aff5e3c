#pragma once

#include "packages/webp/InternalRawRepresentable.h"
#include "packages/webp/WebpBitstreamFeatures.h"
#include "packages/webp/WebpDecBuffer.h"
#include "packages/webp/WebpDecoderOptions.h"

#include <webp/decode.h>

#include <optional>

namespace webp {

// Typed mirror of the library's decoder configuration.
struct WebpDecoderConfig {
    using RawValue = WebPDecoderConfig;

    // The library's initial configuration; `input` is present afterwards. A library that refuses
    // the initialisation does not match the one built against, and the program stops.
    WebpDecoderConfig();

    std::optional<WebpBitstreamFeatures> input;
    WebpDecBuffer output;
    WebpDecoderOptions options;

    WebPDecoderConfig rawValue() const;
    // No value when the output buffer does not convert; features that do not convert leave
    // `input` absent.
    static std::optional<WebpDecoderConfig> fromRawValue(const WebPDecoderConfig& raw);

private:
    WebpDecoderConfig(WebpDecBuffer output, WebpDecoderOptions options)
        : output(std::move(output)), options(std::move(options)) {}
};

static_assert(InternalRawRepresentable<WebpDecoderConfig>);

}  // namespace webp
