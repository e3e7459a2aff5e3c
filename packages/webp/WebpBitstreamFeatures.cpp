#include "packages/webp/WebpBitstreamFeatures.h"

#include "packages/webp/Narrow.h"

namespace webp {

WebPBitstreamFeatures WebpBitstreamFeatures::rawValue() const {
    WebPBitstreamFeatures r{};
    r.width = narrow(width);
    r.height = narrow(height);
    r.has_alpha = hasAlpha ? 1 : 0;
    r.has_animation = hasAnimation ? 1 : 0;
    r.format = static_cast<int>(format);
    for (std::size_t i = 0; i < pad.size(); ++i)
        r.pad[i] = narrowUnsigned(pad[i]);
    return r;
}

std::optional<WebpBitstreamFeatures> WebpBitstreamFeatures::fromRawValue(const WebPBitstreamFeatures& r) {
    if (r.format < 0 || r.format > 2)
        return std::nullopt;
    WebpBitstreamFeatures f;
    f.width = r.width;
    f.height = r.height;
    f.hasAlpha = r.has_alpha != 0;
    f.hasAnimation = r.has_animation != 0;
    f.format = static_cast<Format>(r.format);
    for (std::size_t i = 0; i < f.pad.size(); ++i)
        f.pad[i] = r.pad[i];
    return f;
}

}  // namespace webp
