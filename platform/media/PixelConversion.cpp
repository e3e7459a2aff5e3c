#include "platform/media/PixelConversion.h"

#include <cstddef>

#ifdef __SANITIZE_ADDRESS__
// The sanitizer's own range checks, as the compiler calls them for accesses of unknown size.
extern "C" void __asan_loadN(const void* address, std::size_t size);
extern "C" void __asan_storeN(void* address, std::size_t size);
#endif

namespace platform {

namespace {

using u8 = std::uint8_t;

// Under the sanitizers the row loops are left uninstrumented, so they still vectorise (checked
// byte by byte, a 1080p frame takes longer than a 60 fps frame interval); each row's ranges are
// checked whole before it is converted instead.
#ifdef __SANITIZE_ADDRESS__
#define ZENTOLA_UNCHECKED_ROWS __attribute__((no_sanitize("address", "undefined")))
void checkRows(const u8* r0, const u8* r1, u8* y0, u8* y1, u8* u, u8* v, int w) {
    const auto n = std::size_t(w);
    __asan_loadN(r0, 4 * n);
    __asan_loadN(r1, 4 * n);
    __asan_storeN(y0, n);
    __asan_storeN(y1, n);
    __asan_storeN(u, n / 2);
    __asan_storeN(v, n / 2);
}
#else
#define ZENTOLA_UNCHECKED_ROWS
void checkRows(const u8*, const u8*, u8*, u8*, u8*, u8*, int) {}
#endif

// One pair of rows. Fixed-point BT.709 limited-range coefficients: luma scaled by 256, chroma (of a
// 2x2 sum, so four times the value) by 1024. Written so the compiler vectorises both loops.
template <int R, int G, int B>
ZENTOLA_UNCHECKED_ROWS __attribute__((target_clones("avx2", "default"))) void rowPair(
    const u8* __restrict r0, const u8* __restrict r1, u8* __restrict y0, u8* __restrict y1, u8* __restrict u,
    u8* __restrict v, int w) {
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
    for (int y = 0; y + 1 < height; y += 2) {
        u8* const rows[] = {o.y + y * o.yStride, o.y + (y + 1) * o.yStride, o.u + (y / 2) * o.uStride,
                            o.v + (y / 2) * o.vStride};
        checkRows(s.row(y), s.row(y + 1), rows[0], rows[1], rows[2], rows[3], width);
        rowPair<R, G, B>(s.row(y), s.row(y + 1), rows[0], rows[1], rows[2], rows[3], width);
    }
}

}  // namespace

void PixelConversion::toI420(const Bitmap& source, int width, int height, const Planes& out) {
    if (source.format() == PixelFormat::BGRA)
        convert<2, 1, 0>(source, width, height, out);
    else
        convert<0, 1, 2>(source, width, height, out);
}

}  // namespace platform
