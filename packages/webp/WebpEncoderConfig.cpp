#include "packages/webp/WebpEncoderConfig.h"

#include "packages/webp/InterfaceVersion.h"
#include "packages/webp/Narrow.h"

#include <cstring>

namespace webp {

namespace {

WebPPreset libraryPreset(WebpEncoderConfig::Preset preset) {
    switch (preset) {
    case WebpEncoderConfig::Preset::default_: return WEBP_PRESET_DEFAULT;
    case WebpEncoderConfig::Preset::picture: return WEBP_PRESET_PICTURE;
    case WebpEncoderConfig::Preset::photo: return WEBP_PRESET_PHOTO;
    case WebpEncoderConfig::Preset::drawing: return WEBP_PRESET_DRAWING;
    case WebpEncoderConfig::Preset::icon: return WEBP_PRESET_ICON;
    case WebpEncoderConfig::Preset::text: return WEBP_PRESET_TEXT;
    }
    return WEBP_PRESET_DEFAULT;
}

}  // namespace

std::optional<WebpEncoderConfig::WebpImageHint> webpImageHintFromRawValue(WebPImageHint raw) {
    const int v = static_cast<int>(raw);
    if (v < 0 || v > 3)
        return std::nullopt;
    return static_cast<WebpEncoderConfig::WebpImageHint>(v);
}

WebPImageHint rawValue(WebpEncoderConfig::WebpImageHint hint) {
    return static_cast<WebPImageHint>(static_cast<int>(hint));
}

WebPConfig webPConfig(WebpEncoderConfig::Preset preset, float quality) {
    WebPConfig raw{};
    // A mismatched library leaves the record zeroed; validation refuses it at encode time.
    WebPConfigInitInternal(&raw, libraryPreset(preset), quality, encoderInterfaceVersion);
    return raw;
}

WebpEncoderConfig WebpEncoderConfig::preset(Preset preset, float quality) {
    // The library always writes one of the four hints, so the conversion cannot fail here.
    return *fromRawValue(webPConfig(preset, quality));
}

WebPConfig WebpEncoderConfig::rawValue() const {
    WebPConfig r{};
    r.lossless = narrow(lossless);
    r.quality = quality;
    r.method = narrow(method);
    r.image_hint = webp::rawValue(imageHint);
    r.target_size = narrow(targetSize);
    r.target_PSNR = targetPSNR;
    r.segments = narrow(segments);
    r.sns_strength = narrow(snsStrength);
    r.filter_strength = narrow(filterStrength);
    r.filter_sharpness = narrow(filterSharpness);
    r.filter_type = narrow(filterType);
    r.autofilter = narrow(autofilter);
    r.alpha_compression = narrow(alphaCompression);
    r.alpha_filtering = narrow(alphaFiltering);
    r.alpha_quality = narrow(alphaQuality);
    r.pass = narrow(pass);
    r.show_compressed = showCompressed ? 1 : 0;
    r.preprocessing = narrow(preprocessing);
    r.partitions = narrow(partitions);
    r.partition_limit = narrow(partitionLimit);
    r.emulate_jpeg_size = emulateJpegSize ? 1 : 0;
    r.thread_level = narrow(threadLevel);
    r.low_memory = lowMemory ? 1 : 0;
    r.near_lossless = narrow(nearLossless);
    r.exact = narrow(exact);
    r.use_delta_palette = useDeltaPalette ? 1 : 0;
    r.use_sharp_yuv = useSharpYUV ? 1 : 0;
    r.qmin = narrow(qmin);
    r.qmax = narrow(qmax);
    return r;
}

std::optional<WebpEncoderConfig> WebpEncoderConfig::fromRawValue(const WebPConfig& r) {
    // A record filled elsewhere may hold any 32-bit value here; read it as the integer it is.
    int rawHint = 0;
    std::memcpy(&rawHint, &r.image_hint, sizeof rawHint);
    if (rawHint < 0 || rawHint > 3)
        return std::nullopt;
    const auto hint = webpImageHintFromRawValue(static_cast<WebPImageHint>(rawHint));
    WebpEncoderConfig c;
    c.lossless = r.lossless;
    c.quality = r.quality;
    c.method = r.method;
    c.imageHint = *hint;
    c.targetSize = r.target_size;
    c.targetPSNR = r.target_PSNR;
    c.segments = r.segments;
    c.snsStrength = r.sns_strength;
    c.filterStrength = r.filter_strength;
    c.filterSharpness = r.filter_sharpness;
    c.filterType = r.filter_type;
    c.autofilter = r.autofilter;
    c.alphaCompression = r.alpha_compression;
    c.alphaFiltering = r.alpha_filtering;
    c.alphaQuality = r.alpha_quality;
    c.pass = r.pass;
    c.showCompressed = r.show_compressed != 0;
    c.preprocessing = r.preprocessing;
    c.partitions = r.partitions;
    c.partitionLimit = r.partition_limit;
    c.emulateJpegSize = r.emulate_jpeg_size != 0;
    c.threadLevel = r.thread_level;
    c.lowMemory = r.low_memory != 0;
    c.nearLossless = r.near_lossless;
    c.exact = r.exact;
    c.useDeltaPalette = r.use_delta_palette != 0;
    c.useSharpYUV = r.use_sharp_yuv != 0;
    c.qmin = r.qmin;
    c.qmax = r.qmax;
    return c;
}

bool WebpEncoderConfig::fitsRawValue() const {
    for (std::int64_t v : {lossless, method, targetSize, segments, snsStrength, filterStrength, filterSharpness,
                           filterType, autofilter, alphaCompression, alphaFiltering, alphaQuality, pass,
                           preprocessing, partitions, partitionLimit, threadLevel, nearLossless, exact, qmin, qmax})
        if (!fits32(v))
            return false;
    return true;
}

}  // namespace webp
