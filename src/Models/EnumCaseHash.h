#pragma once

#include <cstddef>
#include <functional>

namespace zentola {

// std::hash for the enumeration-like value classes (those that convert to their Value case).
template <typename T>
struct EnumCaseHash {
    std::size_t operator()(T v) const noexcept { return std::hash<int>()(static_cast<int>(typename T::Value(v))); }
};

}  // namespace zentola
