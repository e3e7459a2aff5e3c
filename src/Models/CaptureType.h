#pragma once

#include "Models/EnumCaseHash.h"

#include <QString>

#include <array>
#include <optional>

namespace zentola {

// Photo or video. Behaves like an enumeration (switch, ==) and carries its raw text.
class CaptureType {
public:
    enum Value { photo, video };

    constexpr CaptureType(Value v = photo) : v_(v) {}
    constexpr operator Value() const { return v_; }

    QString rawValue() const;
    static std::optional<CaptureType> fromRawValue(const QString& raw);
    static constexpr std::array<CaptureType, 2> allCases() { return {photo, video}; }

private:
    Value v_;
};

}  // namespace zentola

template <>
struct std::hash<zentola::CaptureType> : zentola::EnumCaseHash<zentola::CaptureType> {};
