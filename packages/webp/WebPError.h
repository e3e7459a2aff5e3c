#pragma once

#include "platform/core/Error.h"

#include <string>

namespace webp {

enum class WebPErrorCase { unexpectedError, unexpectedPointerError };

// The package's general failure, with the message of unexpectedError(withMessage:).
class WebPError : public platform::Error {
public:
    static WebPError unexpectedError(std::string withMessage);
    static WebPError unexpectedPointerError();

    WebPErrorCase errorCase() const { return case_; }
    const std::string& message() const { return message_; }
    int errorCode() const { return static_cast<int>(case_); }
    std::string plainText() const override;
    std::string description() const override;
    bool operator==(const WebPError& other) const { return case_ == other.case_ && message_ == other.message_; }

private:
    WebPError(WebPErrorCase c, std::string message) : case_(c), message_(std::move(message)) {}

    WebPErrorCase case_;
    std::string message_;
};

}  // namespace webp
