#include "packages/webp/WebPEncodeStatusCode.h"

namespace webp {

namespace {
struct Text {
    const char* name;
    const char* message;
};
#define WEBP_STATUS_TEXT(name, n) {name, "The operation couldn\u2019t be completed. (webp.WebPEncodeStatusCode error " #n ".)"}
constexpr Text texts[] = {
    WEBP_STATUS_TEXT("ok", 0),
    WEBP_STATUS_TEXT("outOfMemory", 1),
    WEBP_STATUS_TEXT("bitstreamOutOfMemory", 2),
    WEBP_STATUS_TEXT("nullParameter", 3),
    WEBP_STATUS_TEXT("invalidConfiguration", 4),
    WEBP_STATUS_TEXT("badDimension", 5),
    WEBP_STATUS_TEXT("partition0Overflow", 6),
    WEBP_STATUS_TEXT("partitionOverflow", 7),
    WEBP_STATUS_TEXT("badWrite", 8),
    WEBP_STATUS_TEXT("fileTooBig", 9),
    WEBP_STATUS_TEXT("userAbort", 10),
    WEBP_STATUS_TEXT("last", 11),
};
#undef WEBP_STATUS_TEXT
}  // namespace

WebPEncodeStatusCode::WebPEncodeStatusCode(WebPEncodeStatus status)
    : EnumError(status, texts[static_cast<int>(status)].name, texts[static_cast<int>(status)].message) {}

std::optional<WebPEncodeStatusCode> WebPEncodeStatusCode::fromRawValue(int raw) {
    if (raw < 0 || raw > 11)
        return std::nullopt;
    return WebPEncodeStatusCode(static_cast<WebPEncodeStatus>(raw));
}

}  // namespace webp
