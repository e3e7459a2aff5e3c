#pragma once

#include "Models/EnumCaseHash.h"

#include <QString>

#include <array>
#include <optional>

namespace zentola {

// How the capture area is chosen. The case order is the order the overlay lists and cycles them;
// the raw value is the stored form.
class CaptureMode {
public:
    enum Value { screen, window, rect };

    constexpr CaptureMode(Value v = screen) : v_(v) {}
    constexpr operator Value() const { return v_; }

    QString rawValue() const;
    QString displayName() const;
    // Icon name, as the symbol names the interface uses.
    QString iconName() const;
    // Exactly "screen", "window" or "rect"; anything else (including other letter cases) is no value.
    static std::optional<CaptureMode> fromRawValue(const QString& raw);
    static constexpr std::array<CaptureMode, 3> allCases() { return {screen, window, rect}; }

private:
    Value v_;
};

}  // namespace zentola

template <>
struct std::hash<zentola::CaptureMode> : zentola::EnumCaseHash<zentola::CaptureMode> {};
