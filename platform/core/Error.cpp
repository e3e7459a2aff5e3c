#include "platform/core/Error.h"

namespace platform {

const char* Error::what() const noexcept {
    try {
        what_ = description();
    } catch (...) {
        return "error";
    }
    return what_.c_str();
}

PlatformError::PlatformError(std::string domain, int code, std::string description)
    : domain_(std::move(domain)), code_(code), description_(std::move(description)) {}

std::string plainText(const std::exception& e) {
    if (auto* err = dynamic_cast<const Error*>(&e))
        return err->plainText();
    return e.what();
}

}  // namespace platform
