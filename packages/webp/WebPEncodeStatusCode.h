#pragma once

#include "platform/core/Error.h"

#include <optional>

namespace webp {

// Raw values are the library's encoding error codes, in their order.
enum class WebPEncodeStatus {
    ok = 0,
    outOfMemory = 1,
    bitstreamOutOfMemory = 2,
    nullParameter = 3,
    invalidConfiguration = 4,
    badDimension = 5,
    partition0Overflow = 6,
    partitionOverflow = 7,
    badWrite = 8,
    fileTooBig = 9,
    userAbort = 10,
    last = 11,
};

// A failed library encode; the error code is the raw value.
class WebPEncodeStatusCode : public platform::EnumError<WebPEncodeStatus> {
public:
    explicit WebPEncodeStatusCode(WebPEncodeStatus status);
    // Nothing outside 0 to 11.
    static std::optional<WebPEncodeStatusCode> fromRawValue(int raw);

    int rawValue() const { return static_cast<int>(errorCase()); }
    int errorCode() const { return rawValue(); }
    bool operator==(const WebPEncodeStatusCode& other) const { return errorCase() == other.errorCase(); }
};

}  // namespace webp
