#include "packages/webp/WebpDecoderConfig.h"

#include "packages/webp/InterfaceVersion.h"

#include <cstdio>
#include <cstdlib>

namespace webp {

namespace {

WebPDecoderConfig initialRecord() {
    WebPDecoderConfig raw{};
    if (!WebPInitDecoderConfigInternal(&raw, decoderInterfaceVersion)) {
        std::fputs("can't init decoder config\n", stderr);
        std::abort();
    }
    return raw;
}

}  // namespace

WebpDecoderConfig::WebpDecoderConfig() : WebpDecoderConfig(*fromRawValue(initialRecord())) {}

WebPDecoderConfig WebpDecoderConfig::rawValue() const {
    WebPDecoderConfig r{};
    if (input)
        r.input = input->rawValue();
    r.output = output.rawValue();
    r.options = options.rawValue();
    return r;
}

std::optional<WebpDecoderConfig> WebpDecoderConfig::fromRawValue(const WebPDecoderConfig& r) {
    auto output = WebpDecBuffer::fromRawValue(r.output);
    auto options = WebpDecoderOptions::fromRawValue(r.options);
    if (!output || !options)
        return std::nullopt;
    WebpDecoderConfig c(std::move(*output), std::move(*options));
    c.input = WebpBitstreamFeatures::fromRawValue(r.input);
    return c;
}

}  // namespace webp
