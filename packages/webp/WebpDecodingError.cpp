#include "packages/webp/WebpDecodingError.h"

namespace webp {

namespace {
struct Text {
    const char* name;
    const char* message;
};
#define WEBP_DECODING_TEXT(name, n) {name, "The operation couldn\u2019t be completed. (webp.WebpDecodingError error " #n ".)"}
constexpr Text texts[] = {
    WEBP_DECODING_TEXT("ok", 0),
    WEBP_DECODING_TEXT("outOfMemory", 1),
    WEBP_DECODING_TEXT("invalidParam", 2),
    WEBP_DECODING_TEXT("bitstreamError", 3),
    WEBP_DECODING_TEXT("unsupportedFeature", 4),
    WEBP_DECODING_TEXT("suspended", 5),
    WEBP_DECODING_TEXT("userAbort", 6),
    WEBP_DECODING_TEXT("notEnoughData", 7),
};
constexpr Text unknown = WEBP_DECODING_TEXT("unknownError", 9999);
#undef WEBP_DECODING_TEXT

const Text& textOf(WebpDecodingStatus s) {
    const auto v = static_cast<std::uint32_t>(s);
    return v <= 7 ? texts[v] : unknown;
}
}  // namespace

WebpDecodingError::WebpDecodingError(WebpDecodingStatus status)
    : EnumError(status, textOf(status).name, textOf(status).message) {}

WebpDecodingError WebpDecodingError::fromStatus(std::uint32_t status) {
    return WebpDecodingError(status <= 7 ? static_cast<WebpDecodingStatus>(status) : WebpDecodingStatus::unknownError);
}

}  // namespace webp
