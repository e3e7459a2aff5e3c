#include "platform/media/PixelConversion.h"

namespace platform {

namespace {

using u8 = std::uint8_t;

// One pair of rows. Fixed-point BT.709 limited-range coefficients: luma scaled by 256, chroma (of a
// 2x2 sum, so four times the value) by 1024. Written so the compiler vectorises both loops.
template <int R, int G, int B>
__attribute__((target_clones("avx2", "default"))) void rowPair(const u8* __restrict r0, const u8* __restrict r1,
                                                                u8* __restrict y0, u8* __restrict y1,
                                                                u8* __restrict u, u8* __restrict v, int w) {
    for (int x = 0; x < w; ++x) {
        y0[x] = u8((47 * r0[4 * x + R] + 157 * r0[4 * x + G] + 16 * r0[4 * x + B] + 128 + (16 << 8)) >> 8);
        y1[x] = u8((47 * r1[4 * x + R] + 157 * r1[4 * x + G] + 16 * r1[4 * x + B] + 128 + (16 << 8)) >> 8);
    }
    for (int x = 0; x < w / 2; ++x) {
        int b = r0[8 * x + B] + r0[8 * x + 4 + B] + r1[8 * x + B] + r1[8 * x + 4 + B];
        int g = r0[8 * x + G] + r0[8 * x + 4 + G] + r1[8 * x + G] + r1[8 * x + 4 + G];
        int r = r0[8 * x + R] + r0[8 * x + 4 + R] + r1[8 * x + R] + r1[8 * x + 4 + R];
        u[x] = u8((-26 * r - 87 * g + 112 * b + 512 + (128 << 10)) >> 10);
        v[x] = u8((112 * r - 102 * g - 10 * b + 512 + (128 << 10)) >> 10);
    }
}

template <int R, int G, int B>
void convert(const Bitmap& s, int width, int height, const PixelConversion::Planes& o) {
    for (int y = 0; y + 1 < height; y += 2)
        rowPair<R, G, B>(s.row(y), s.row(y + 1), o.y + y * o.yStride, o.y + (y + 1) * o.yStride,
                         o.u + (y / 2) * o.uStride, o.v + (y / 2) * o.vStride, width);
}

}  // namespace

void PixelConversion::toI420(const Bitmap& source, int width, int height, const Planes& out) {
    if (source.format() == PixelFormat::BGRA)
        convert<2, 1, 0>(source, width, height, out);
    else
        convert<0, 1, 2>(source, width, height, out);
}

}  // namespace platform
