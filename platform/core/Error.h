#pragma once

#include <exception>
#include <string>

namespace platform {

// Base of every error the system throws. plainText() is what callers log on the capture paths
// (an enumeration's case name, a platform error's description); description() is the English message.
class Error : public std::exception {
public:
    virtual std::string plainText() const = 0;
    virtual std::string description() const = 0;
    const char* what() const noexcept override;

private:
    mutable std::string what_;
};

// A failure reported by a desktop service (X server, encoder, sound server, file system).
class PlatformError : public Error {
public:
    PlatformError(std::string domain, int code, std::string description);

    const std::string& domain() const { return domain_; }
    int code() const { return code_; }
    std::string plainText() const override { return description_; }
    std::string description() const override { return description_; }

private:
    std::string domain_;
    int code_;
    std::string description_;
};

// One error enumeration: a case name and its fixed English message. Each engine derives its own
// type so callers can catch it by type and compare cases.
template <typename Case>
class EnumError : public Error {
public:
    EnumError(Case c, const char* caseName, const char* message)
        : case_(c), caseName_(caseName), message_(message) {}

    Case errorCase() const { return case_; }
    std::string plainText() const override { return caseName_; }
    std::string description() const override { return message_; }

private:
    Case case_;
    const char* caseName_;
    const char* message_;
};

// The plain textual form of any exception, as the capture paths log it.
std::string plainText(const std::exception& e);

}  // namespace platform
