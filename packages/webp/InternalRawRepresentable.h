#pragma once

#include <concepts>
#include <optional>

namespace webp {

// A mirror of a library record: converts to the record and back, the way back failing on values
// the mirror cannot represent.
template <typename T>
concept InternalRawRepresentable = requires(const T& mirror, const typename T::RawValue& raw) {
    { mirror.rawValue() } -> std::same_as<typename T::RawValue>;
    { T::fromRawValue(raw) } -> std::same_as<std::optional<T>>;
};

}  // namespace webp
