#include "packages/webp/WebpRGBAMultiplier.h"

#include "packages/webp/AlphaMath.h"

#include <cstdlib>
#include <limits>

namespace webp {

namespace {

std::optional<std::size_t> byteCount(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0)
        return std::nullopt;
    const auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    const auto w = static_cast<std::uint64_t>(width);
    const auto h = static_cast<std::uint64_t>(height);
    if (w > limit / 4 / h)
        return std::nullopt;
    return static_cast<std::size_t>(w * 4 * h);
}

template <typename Convert>
std::uint8_t* convert(const std::uint8_t* in, std::int64_t width, std::int64_t height, Convert colour) {
    const auto n = byteCount(width, height);
    if (!in || !n)
        return nullptr;
    auto* out = static_cast<std::uint8_t*>(std::malloc(*n));
    if (!out)
        return nullptr;
    for (std::size_t i = 0; i < *n; i += 4) {
        const unsigned a = in[i + 3];
        out[i] = colour(in[i], a);
        out[i + 1] = colour(in[i + 1], a);
        out[i + 2] = colour(in[i + 2], a);
        out[i + 3] = static_cast<std::uint8_t>(a);
    }
    return out;
}

std::optional<Data> wrapped(std::uint8_t* bytes, std::int64_t width, std::int64_t height) {
    if (!bytes)
        return std::nullopt;
    return Data::adopt(bytes, *byteCount(width, height));
}

bool holds(const Data& data, std::int64_t width, std::int64_t height) {
    const auto n = byteCount(width, height);
    return n && data.size() >= *n;
}

}  // namespace

std::uint8_t* WebpRGBAMultiplier::premultiplyBytes(const std::uint8_t* bytes, std::int64_t width, std::int64_t height) {
    return convert(bytes, width, height, premultipliedChannel);
}

std::uint8_t* WebpRGBAMultiplier::unpremultiplyBytes(const std::uint8_t* bytes, std::int64_t width,
                                                     std::int64_t height) {
    return convert(bytes, width, height, unpremultipliedChannel);
}

std::optional<Data> WebpRGBAMultiplier::premultiply(const Data& data, std::int64_t width, std::int64_t height) {
    if (!holds(data, width, height))
        return std::nullopt;
    return wrapped(premultiplyBytes(data.data(), width, height), width, height);
}

std::optional<Data> WebpRGBAMultiplier::unpremultiply(const Data& data, std::int64_t width, std::int64_t height) {
    if (!holds(data, width, height))
        return std::nullopt;
    return wrapped(unpremultiplyBytes(data.data(), width, height), width, height);
}

}  // namespace webp
