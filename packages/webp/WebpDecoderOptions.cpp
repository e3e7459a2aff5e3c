#include "packages/webp/WebpDecoderOptions.h"

#include "packages/webp/Narrow.h"
#include "packages/webp/WebpDecoderConfig.h"

namespace webp {

WebpDecoderOptions::WebpDecoderOptions() : WebpDecoderOptions(WebpDecoderConfig().options) {}

WebPDecoderOptions WebpDecoderOptions::rawValue() const {
    WebPDecoderOptions r{};
    r.bypass_filtering = narrow(bypassFiltering);
    r.no_fancy_upsampling = narrow(noFancyUpsampling);
    r.use_cropping = useCropping ? 1 : 0;
    r.crop_left = narrow(cropLeft);
    r.crop_top = narrow(cropTop);
    r.crop_width = narrow(cropWidth);
    r.crop_height = narrow(cropHeight);
    r.use_scaling = useScaling ? 1 : 0;
    r.scaled_width = narrow(scaledWidth);
    r.scaled_height = narrow(scaledHeight);
    r.use_threads = useThreads ? 1 : 0;
    r.dithering_strength = narrow(ditheringStrength);
    r.flip = narrow(flip);
    r.alpha_dithering_strength = narrow(alphaDitheringStrength);
    for (std::size_t i = 0; i < pad.size(); ++i)
        r.pad[i] = narrowUnsigned(pad[i]);
    return r;
}

std::optional<WebpDecoderOptions> WebpDecoderOptions::fromRawValue(const WebPDecoderOptions& r) {
    WebpDecoderOptions o{NoInit{}};
    o.bypassFiltering = r.bypass_filtering;
    o.noFancyUpsampling = r.no_fancy_upsampling;
    o.useCropping = r.use_cropping != 0;
    o.cropLeft = r.crop_left;
    o.cropTop = r.crop_top;
    o.cropWidth = r.crop_width;
    o.cropHeight = r.crop_height;
    o.useScaling = r.use_scaling != 0;
    o.scaledWidth = r.scaled_width;
    o.scaledHeight = r.scaled_height;
    o.useThreads = r.use_threads != 0;
    o.ditheringStrength = r.dithering_strength;
    o.flip = r.flip;
    o.alphaDitheringStrength = r.alpha_dithering_strength;
    for (std::size_t i = 0; i < o.pad.size(); ++i)
        o.pad[i] = r.pad[i];
    return o;
}

}  // namespace webp
