#include "packages/webp/WebpDecBuffer.h"

#include "packages/webp/Narrow.h"

#include <cstring>

namespace webp {

WebPDecBuffer WebpDecBuffer::rawValue() const {
    WebPDecBuffer r{};
    r.colorspace = webp::rawValue(colorspace);
    r.width = narrow(width);
    r.height = narrow(height);
    r.is_external_memory = isExternalMemory ? 1 : 0;
    if (const auto* rgba = std::get_if<WebPRGBABuffer>(&u))
        r.u.RGBA = *rgba;
    else
        r.u.YUVA = std::get<WebPYUVABuffer>(u);
    for (std::size_t i = 0; i < pad.size(); ++i)
        r.pad[i] = narrowUnsigned(pad[i]);
    r.private_memory = privateMemory;
    return r;
}

std::optional<WebpDecBuffer> WebpDecBuffer::fromRawValue(const WebPDecBuffer& r) {
    // A record filled elsewhere may hold any 32-bit value here; read it as the integer it is, since
    // loading it as the enumeration would already be undefined for values past its range.
    int rawMode = 0;
    static_assert(sizeof rawMode == sizeof r.colorspace);
    std::memcpy(&rawMode, &r.colorspace, sizeof rawMode);
    const auto mode = colorspaceModeFromRawValue(rawMode);
    if (!mode)
        return std::nullopt;
    WebpDecBuffer b;
    b.colorspace = *mode;
    b.width = r.width;
    b.height = r.height;
    b.isExternalMemory = r.is_external_memory != 0;
    if (isRGBMode(*mode))
        b.u = r.u.RGBA;
    else
        b.u = r.u.YUVA;
    for (std::size_t i = 0; i < b.pad.size(); ++i)
        b.pad[i] = r.pad[i];
    b.privateMemory = r.private_memory;
    return b;
}

}  // namespace webp
