#pragma once

#include "platform/core/Error.h"

#include <cstdint>

namespace webp {

// Raw values are the library's decoding statuses; anything else is unknownError.
enum class WebpDecodingStatus : std::uint32_t {
    ok = 0,
    outOfMemory = 1,
    invalidParam = 2,
    bitstreamError = 3,
    unsupportedFeature = 4,
    suspended = 5,
    userAbort = 6,
    notEnoughData = 7,
    unknownError = 9999,
};

// A failed library decode; the error code is the raw value.
class WebpDecodingError : public platform::EnumError<WebpDecodingStatus> {
public:
    explicit WebpDecodingError(WebpDecodingStatus status);
    // The status's case, or unknownError for a status outside the library's eight.
    static WebpDecodingError fromStatus(std::uint32_t status);

    std::uint32_t rawValue() const { return static_cast<std::uint32_t>(errorCase()); }
    int errorCode() const { return static_cast<int>(rawValue()); }
    bool operator==(const WebpDecodingError& other) const { return errorCase() == other.errorCase(); }
};

}  // namespace webp
