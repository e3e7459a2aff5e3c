#pragma once

#include "platform/core/Error.h"

namespace webp {

// The library refused to create the animation encoder.
class WebPAnimatedEncoderError : public platform::Error {
public:
    std::string plainText() const override { return "WebPAnimatedEncoderError()"; }
    std::string description() const override {
        return "The operation couldn\u2019t be completed. (webp.WebPAnimatedEncoderError error 1.)";
    }
};

}  // namespace webp
