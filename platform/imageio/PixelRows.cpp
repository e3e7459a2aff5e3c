#include "platform/imageio/PixelRows.h"

namespace platform {

void PixelRows::convert(int y, std::uint8_t* out) const {
    const std::uint8_t* in = bitmap_.row(y);
    const int w = bitmap_.width();
    const bool bgra = bitmap_.format() == PixelFormat::BGRA;
    const int r = bgra ? 2 : 0, b = bgra ? 0 : 2;
    if (!hasAlpha()) {
        for (int x = 0; x < w; ++x, in += 4, out += 3) {
            out[0] = in[r];
            out[1] = in[1];
            out[2] = in[b];
        }
        return;
    }
    const bool premultiplied = bitmap_.alpha() == AlphaMode::premultiplied;
    for (int x = 0; x < w; ++x, in += 4, out += 4) {
        const unsigned a = in[3];
        if (!premultiplied || a == 255) {
            out[0] = in[r];
            out[1] = in[1];
            out[2] = in[b];
        } else if (a == 0) {
            out[0] = out[1] = out[2] = 0;
        } else {
            auto un = [a](unsigned v) { return std::uint8_t(v >= a ? 255 : (v * 255 + a / 2) / a); };
            out[0] = un(in[r]);
            out[1] = un(in[1]);
            out[2] = un(in[b]);
        }
        out[3] = std::uint8_t(a);
    }
}

}  // namespace platform
