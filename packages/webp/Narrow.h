#pragma once

#include <cstdint>
#include <limits>

namespace webp {

// Integers of the mirrors are 64-bit; the library's are 32-bit. Out-of-range values saturate so
// they can never wrap into a small value the library would accept.
inline int narrow(std::int64_t v) {
    constexpr std::int64_t lo = std::numeric_limits<int>::min();
    constexpr std::int64_t hi = std::numeric_limits<int>::max();
    return static_cast<int>(v < lo ? lo : v > hi ? hi : v);
}

inline std::uint32_t narrowUnsigned(std::int64_t v) {
    constexpr std::int64_t hi = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(v < 0 ? 0 : v > hi ? hi : v);
}

inline bool fits32(std::int64_t v) {
    return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
}

}  // namespace webp
