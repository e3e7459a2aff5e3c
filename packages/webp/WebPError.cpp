#include "packages/webp/WebPError.h"

namespace webp {

WebPError WebPError::unexpectedError(std::string withMessage) {
    return WebPError(WebPErrorCase::unexpectedError, std::move(withMessage));
}

WebPError WebPError::unexpectedPointerError() {
    return WebPError(WebPErrorCase::unexpectedPointerError, {});
}

std::string WebPError::plainText() const {
    if (case_ == WebPErrorCase::unexpectedPointerError)
        return "unexpectedPointerError";
    return "unexpectedError(withMessage: \"" + message_ + "\")";
}

std::string WebPError::description() const {
    return "The operation couldn\u2019t be completed. (webp.WebPError error " + std::to_string(errorCode()) + ".)";
}

}  // namespace webp
