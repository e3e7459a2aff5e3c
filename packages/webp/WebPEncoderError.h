#pragma once

#include "platform/core/Error.h"

namespace webp {

enum class WebPEncoderErrorCase { invalidParameter, versionMismatched, encodingImageError };

// The encoder's own failures; the error code is the case's place from 0.
class WebPEncoderError : public platform::EnumError<WebPEncoderErrorCase> {
public:
    explicit WebPEncoderError(WebPEncoderErrorCase c);
    int errorCode() const { return static_cast<int>(errorCase()); }
    bool operator==(const WebPEncoderError& other) const { return errorCase() == other.errorCase(); }
};

}  // namespace webp
