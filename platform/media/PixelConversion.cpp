#include "platform/media/PixelConversion.h"

#include <cstddef>

// GCC 12's AVX-512 intrinsics start their results from a deliberately undefined register, which its
// own -Wmaybe-uninitialized then reports wherever one is inlined (fixed in GCC 13's header). Only the
// header is exempt: this file's code is still checked.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

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

// One pair of rows from column `from` on. Fixed-point BT.709 limited-range coefficients: luma
// scaled by 256, chroma (of a 2x2 sum, so four times the value) by 1024. Written so the compiler
// vectorises both loops; the AVX2 rows below give the same bytes.
template <int R, int G, int B>
ZENTOLA_UNCHECKED_ROWS __attribute__((target_clones("avx2", "default"))) void rowPair(
    const u8* __restrict r0, const u8* __restrict r1, u8* __restrict y0, u8* __restrict y1, u8* __restrict u,
    u8* __restrict v, int w, int from = 0) {
    for (int x = from; x < w; ++x) {
        y0[x] = u8((47 * r0[4 * x + R] + 157 * r0[4 * x + G] + 16 * r0[4 * x + B] + 128 + (16 << 8)) >> 8);
        y1[x] = u8((47 * r1[4 * x + R] + 157 * r1[4 * x + G] + 16 * r1[4 * x + B] + 128 + (16 << 8)) >> 8);
    }
    for (int x = from / 2; x < w / 2; ++x) {
        int b = r0[8 * x + B] + r0[8 * x + 4 + B] + r1[8 * x + B] + r1[8 * x + 4 + B];
        int g = r0[8 * x + G] + r0[8 * x + 4 + G] + r1[8 * x + G] + r1[8 * x + 4 + G];
        int r = r0[8 * x + R] + r0[8 * x + 4 + R] + r1[8 * x + R] + r1[8 * x + 4 + R];
        u[x] = u8((-26 * r - 86 * g + 112 * b + 512 + (128 << 10)) >> 10);
        v[x] = u8((112 * r - 102 * g - 10 * b + 512 + (128 << 10)) >> 10);
    }
}

// The same by hand for AVX2, 32 pixels of each row at a time: the compiler's version of the loops
// above gathers the interleaved channels byte by byte and takes some three times as long, which at
// 1080p60 is a tenth of a core. Channels are widened to 16 bits and weighted in pairs (pmaddwd), so
// every sum is the exact integer the plain loops compute. AVX-512 (below) is faster again.
template <int R, int G, int B>
__attribute__((target("avx2"))) __m256i weights(int r, int g, int b) {
    alignas(32) std::int16_t w[16] = {};
    for (int i = 0; i < 16; i += 4) {
        w[i + R] = std::int16_t(r);
        w[i + G] = std::int16_t(g);
        w[i + B] = std::int16_t(b);
    }
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(w));
}

// Per-pixel sums of one vector's eight pixels, widened to 16-bit channels in `lo` (pixels 0, 1,
// 4, 5) and `hi` (2, 3, 6, 7): in order, one 32-bit sum each.
__attribute__((target("avx2"))) inline __m256i weighted(__m256i lo, __m256i hi, __m256i w) {
    return _mm256_hadd_epi32(_mm256_madd_epi16(lo, w), _mm256_madd_epi16(hi, w));
}

// The 2x2 sums of 32 pixels from the columns' sums of four vectors, as 16-bit values: each lane
// holds the pairs 0, 1, 4, 5 | 2, 3, 6, 7 of each 16 pixels.
__attribute__((target("avx2"))) inline __m256i chroma(const __m256i* s) {
    const __m256i roundC = _mm256_set1_epi32(512 + (128 << 10));
    const __m256i first = _mm256_hadd_epi32(s[0], s[1]), second = _mm256_hadd_epi32(s[2], s[3]);
    return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(first, roundC), 10),
                              _mm256_srai_epi32(_mm256_add_epi32(second, roundC), 10));
}

template <int R, int G, int B>
ZENTOLA_UNCHECKED_ROWS __attribute__((target("avx2"))) void rowPairAvx2(const u8* r0, const u8* r1, u8* y0, u8* y1,
                                                                       u8* u, u8* v, int w) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i wy = weights<R, G, B>(47, 157, 16), wu = weights<R, G, B>(-26, -86, 112),
                  wv = weights<R, G, B>(112, -102, -10);
    const __m256i roundY = _mm256_set1_epi32(128 + (16 << 8));
    // Undoes the lane interleaving of the packs: 32-bit groups of four pixels back in order.
    const __m256i inOrder = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i pairsInOrder = _mm256_setr_epi8(0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15,  //
                                                  0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15);
    const int whole = w & ~31;
    for (int x = 0; x < whole; x += 32) {
        __m256i lum[2][4], uSum[4], vSum[4];
        for (int k = 0; k < 4; ++k) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r0 + 4 * (x + 8 * k)));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r1 + 4 * (x + 8 * k)));
            const __m256i aLo = _mm256_unpacklo_epi8(a, zero), aHi = _mm256_unpackhi_epi8(a, zero);
            const __m256i bLo = _mm256_unpacklo_epi8(b, zero), bHi = _mm256_unpackhi_epi8(b, zero);
            lum[0][k] = _mm256_srai_epi32(_mm256_add_epi32(weighted(aLo, aHi, wy), roundY), 8);
            lum[1][k] = _mm256_srai_epi32(_mm256_add_epi32(weighted(bLo, bHi, wy), roundY), 8);
            const __m256i lo = _mm256_add_epi16(aLo, bLo), hi = _mm256_add_epi16(aHi, bHi);
            uSum[k] = weighted(lo, hi, wu);
            vSum[k] = weighted(lo, hi, wv);
        }
        u8* const rows[2] = {y0, y1};
        for (int r = 0; r < 2; ++r) {
            const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(lum[r][0], lum[r][1]),
                                                      _mm256_packs_epi32(lum[r][2], lum[r][3]));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(rows[r] + x), _mm256_permutevar8x32_epi32(bytes, inOrder));
        }
        const __m256i uv = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(chroma(uSum), chroma(vSum)), inOrder);
        const __m256i ordered = _mm256_shuffle_epi8(uv, pairsInOrder);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + x / 2), _mm256_castsi256_si128(ordered));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x / 2), _mm256_extracti128_si256(ordered, 1));
    }
    rowPair<R, G, B>(r0, r1, y0, y1, u, v, w, whole);
}

// With AVX-512, 16 pixels a vector and no horizontal adds: each pixel's bytes are taken as two
// words (bytes 0-1 and 2-3), the first words of 16 pixels gathered in one half and the second in the
// other, each half widened to 16-bit channels; then two pmaddwd give every pixel's sum in order.
template <int R, int G, int B>
__attribute__((target("avx512f,avx512bw"))) __m512i pairWeights(int first, int second, int r, int g, int b) {
    auto at = [&](int i) { return i == R ? r : i == G ? g : i == B ? b : 0; };
    return _mm512_set1_epi32(int(std::uint32_t(std::uint16_t(at(second))) << 16 | std::uint16_t(at(first))));
}

struct Words {
    __m512i first, second;  // bytes 0-1 and 2-3 of 16 pixels, as 16-bit channels
};

__attribute__((target("avx512f,avx512bw"))) inline Words words(const u8* pixels) {
    const __m512i byLane = _mm512_set4_epi32(0x0f0e0b0a, 0x07060302, 0x0d0c0908, 0x05040100);
    const __m512i halves = _mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0);
    const __m512i t = _mm512_permutexvar_epi64(halves, _mm512_shuffle_epi8(_mm512_loadu_si512(pixels), byLane));
    return {_mm512_cvtepu8_epi16(_mm512_castsi512_si256(t)), _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(t, 1))};
}

// Sixteen pixels' luma bytes.
__attribute__((target("avx512f,avx512bw"))) inline __m128i luma(const Words& p, __m512i first, __m512i second) {
    const __m512i sum = _mm512_add_epi32(_mm512_madd_epi16(p.first, first), _mm512_madd_epi16(p.second, second));
    return _mm512_cvtepi32_epi8(_mm512_srai_epi32(_mm512_add_epi32(sum, _mm512_set1_epi32(128 + (16 << 8))), 8));
}

// Sixteen chroma bytes from the 2x2 sums of two halves of 32 pixels.
__attribute__((target("avx512f,avx512bw"))) inline __m128i chromaBytes(const __m256i* halves) {
    const __m512i all = _mm512_inserti64x4(_mm512_castsi256_si512(halves[0]), halves[1], 1);
    return _mm512_cvtepi32_epi8(_mm512_srai_epi32(_mm512_add_epi32(all, _mm512_set1_epi32(512 + (128 << 10))), 10));
}

template <int R, int G, int B>
ZENTOLA_UNCHECKED_ROWS __attribute__((target("avx512f,avx512bw"))) void rowPairAvx512(const u8* r0, const u8* r1, u8* y0,
                                                                                     u8* y1, u8* u, u8* v, int w) {
    const __m512i y01 = pairWeights<R, G, B>(0, 1, 47, 157, 16), y23 = pairWeights<R, G, B>(2, 3, 47, 157, 16);
    const __m512i u01 = pairWeights<R, G, B>(0, 1, -26, -86, 112), u23 = pairWeights<R, G, B>(2, 3, -26, -86, 112);
    const __m512i v01 = pairWeights<R, G, B>(0, 1, 112, -102, -10), v23 = pairWeights<R, G, B>(2, 3, 112, -102, -10);
    const int whole = w & ~31;
    for (int x = 0; x < whole; x += 32) {
        __m256i uHalf[2], vHalf[2];
        for (int k = 0; k < 2; ++k) {
            const Words a = words(r0 + 4 * (x + 16 * k)), b = words(r1 + 4 * (x + 16 * k));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(y0 + x + 16 * k), luma(a, y01, y23));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(y1 + x + 16 * k), luma(b, y01, y23));
            // Both rows, then each pixel with its right-hand neighbour: the 2x2 sums in the low
            // half of every 64 bits.
            __m512i first = _mm512_add_epi16(a.first, b.first), second = _mm512_add_epi16(a.second, b.second);
            first = _mm512_add_epi16(first, _mm512_srli_epi64(first, 32));
            second = _mm512_add_epi16(second, _mm512_srli_epi64(second, 32));
            uHalf[k] = _mm512_cvtepi64_epi32(_mm512_add_epi32(_mm512_madd_epi16(first, u01), _mm512_madd_epi16(second, u23)));
            vHalf[k] = _mm512_cvtepi64_epi32(_mm512_add_epi32(_mm512_madd_epi16(first, v01), _mm512_madd_epi16(second, v23)));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + x / 2), chromaBytes(uHalf));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x / 2), chromaBytes(vHalf));
    }
    rowPair<R, G, B>(r0, r1, y0, y1, u, v, w, whole);
}

template <int R, int G, int B>
void convert(const Bitmap& s, int width, int height, const PixelConversion::Planes& o,
             PixelConversion::Instructions limit) {
    using I = PixelConversion::Instructions;
    const bool avx512 = limit >= I::avx512 && PixelConversion::supports(I::avx512);
    const bool avx2 = limit >= I::avx2 && PixelConversion::supports(I::avx2);
    for (int y = 0; y + 1 < height; y += 2) {
        u8* const rows[] = {o.y + y * o.yStride, o.y + (y + 1) * o.yStride, o.u + (y / 2) * o.uStride,
                            o.v + (y / 2) * o.vStride};
        checkRows(s.row(y), s.row(y + 1), rows[0], rows[1], rows[2], rows[3], width);
        if (avx512)
            rowPairAvx512<R, G, B>(s.row(y), s.row(y + 1), rows[0], rows[1], rows[2], rows[3], width);
        else if (avx2)
            rowPairAvx2<R, G, B>(s.row(y), s.row(y + 1), rows[0], rows[1], rows[2], rows[3], width);
        else
            rowPair<R, G, B>(s.row(y), s.row(y + 1), rows[0], rows[1], rows[2], rows[3], width);
    }
}

}  // namespace

bool PixelConversion::supports(Instructions instructions) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    static const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return instructions == Instructions::plain || (instructions == Instructions::avx2 ? avx2 : avx512);
}

void PixelConversion::toI420(const Bitmap& source, int width, int height, const Planes& out, Instructions limit) {
    if (source.format() == PixelFormat::BGRA)
        convert<2, 1, 0>(source, width, height, out, limit);
    else
        convert<0, 1, 2>(source, width, height, out, limit);
}

}  // namespace platform
