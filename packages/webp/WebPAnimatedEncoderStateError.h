#pragma once

#include "platform/core/Error.h"

namespace webp {

// An animation operation ran before create() or after encode().
class WebPAnimatedEncoderStateError : public platform::Error {
public:
    std::string plainText() const override { return "WebPAnimatedEncoderStateError()"; }
    std::string description() const override {
        return "The operation couldn\u2019t be completed. (webp.WebPAnimatedEncoderStateError error 1.)";
    }
};

}  // namespace webp
