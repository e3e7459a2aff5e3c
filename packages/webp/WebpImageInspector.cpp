#include "packages/webp/WebpImageInspector.h"

#include "packages/webp/InterfaceVersion.h"
#include "packages/webp/WebPError.h"

#include <string>

namespace webp {

WebpBitstreamFeatures WebpImageInspector::inspect(std::span<const std::uint8_t> data) {
    WebPBitstreamFeatures raw{};
    const VP8StatusCode status = WebPGetFeaturesInternal(data.data(), data.size(), &raw, decoderInterfaceVersion);
    if (status != VP8_STATUS_OK)
        throw WebPError::unexpectedError("Error VP8StatusCode=" + std::to_string(static_cast<int>(status)));
    auto features = WebpBitstreamFeatures::fromRawValue(raw);
    if (!features)
        throw WebPError::unexpectedPointerError();
    return *features;
}

}  // namespace webp
