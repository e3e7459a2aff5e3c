#include "platform/imageio/PngEncoder.h"

#include "platform/core/Error.h"
#include "platform/imageio/PixelRows.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace platform {

namespace {

constexpr std::size_t window = 32768;
constexpr int minimumStripRows = 64;
constexpr std::size_t idatChunk = 1 << 20;

inline std::uint8_t paethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return std::uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Filters cur (prev is the row above, or zeros) into out, whose first byte is the filter type.
void filterRow(PngEncoder::Filter filter, const std::uint8_t* cur, const std::uint8_t* prev, std::size_t n, int bpp,
               std::uint8_t* out, std::uint8_t* scratch) {
    using F = PngEncoder::Filter;
    auto apply = [&](F f, std::uint8_t* o) {
        switch (f) {
        case F::none:
            o[0] = 0;
            std::memcpy(o + 1, cur, n);
            break;
        case F::sub:
            o[0] = 1;
            for (int i = 0; i < bpp; ++i)
                o[1 + i] = cur[i];
            for (std::size_t i = bpp; i < n; ++i)
                o[1 + i] = std::uint8_t(cur[i] - cur[i - bpp]);
            break;
        case F::up:
            o[0] = 2;
            for (std::size_t i = 0; i < n; ++i)
                o[1 + i] = std::uint8_t(cur[i] - prev[i]);
            break;
        case F::average:
            o[0] = 3;
            for (int i = 0; i < bpp; ++i)
                o[1 + i] = std::uint8_t(cur[i] - (prev[i] >> 1));
            for (std::size_t i = bpp; i < n; ++i)
                o[1 + i] = std::uint8_t(cur[i] - ((unsigned(cur[i - bpp]) + prev[i]) >> 1));
            break;
        case F::paeth:
        case F::adaptive:
            o[0] = 4;
            for (int i = 0; i < bpp; ++i)
                o[1 + i] = std::uint8_t(cur[i] - prev[i]);
            for (std::size_t i = bpp; i < n; ++i)
                o[1 + i] = std::uint8_t(cur[i] - paethPredictor(cur[i - bpp], prev[i], prev[i - bpp]));
            break;
        }
    };
    if (filter != F::adaptive) {
        apply(filter, out);
        return;
    }
    // The usual heuristic: the filter whose output has the smallest sum of signed magnitudes.
    auto cost = [n](const std::uint8_t* o) {
        std::uint64_t s = 0;
        for (std::size_t i = 1; i <= n; ++i)
            s += o[i] < 128 ? o[i] : 256 - o[i];
        return s;
    };
    std::uint64_t best = ~0ull;
    for (F f : {F::none, F::sub, F::up, F::paeth}) {
        apply(f, scratch);
        const std::uint64_t c = cost(scratch);
        if (c < best) {
            best = c;
            std::memcpy(out, scratch, n + 1);
        }
    }
}

struct Strip {
    int first = 0, end = 0;
    std::vector<std::uint8_t> deflated;
    uLong adler = 1;
    bool ok = false;
};

void compressStrip(const PixelRows& rows, const PngEncoder::Settings& s, Strip& strip, bool last) {
    const std::size_t n = rows.rowBytes();
    const std::size_t stride = n + 1;
    const int bpp = rows.channels();
    // Rows before the strip whose filtered bytes prime the dictionary.
    const int primeRows = strip.first == 0 ? 0 : int(std::min<std::size_t>(strip.first, (window + stride - 1) / stride));
    const int from = strip.first - primeRows;

    std::vector<std::uint8_t> filtered(std::size_t(strip.end - from) * stride);
    std::vector<std::uint8_t> prev(n, 0), cur(n), scratch(stride);
    if (from > 0)
        rows.convert(from - 1, prev.data());
    for (int y = from; y < strip.end; ++y) {
        rows.convert(y, cur.data());
        filterRow(s.filter, cur.data(), prev.data(), n, bpp, filtered.data() + std::size_t(y - from) * stride, scratch.data());
        std::swap(prev, cur);
    }

    z_stream z{};
    if (deflateInit2(&z, s.level, Z_DEFLATED, -15, 8, s.strategy) != Z_OK)
        return;
    const std::uint8_t* own = filtered.data() + std::size_t(primeRows) * stride;
    const std::size_t ownBytes = std::size_t(strip.end - strip.first) * stride;
    if (primeRows > 0) {
        const std::size_t primeBytes = std::size_t(primeRows) * stride;
        const std::size_t dict = std::min(window, primeBytes);
        deflateSetDictionary(&z, own - dict, uInt(dict));
    }
    strip.adler = adler32(1, own, uInt(ownBytes));
    strip.deflated.resize(deflateBound(&z, ownBytes) + 64);
    z.next_in = const_cast<Bytef*>(own);
    z.avail_in = uInt(ownBytes);
    z.next_out = strip.deflated.data();
    z.avail_out = uInt(strip.deflated.size());
    // Every strip but the last ends on a byte boundary without closing the stream.
    const int r = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    strip.ok = last ? r == Z_STREAM_END : r == Z_OK;
    strip.deflated.resize(z.total_out);
    deflateEnd(&z);
}

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<QByteArray*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), qsizetype(length));
}
void flushNothing(png_structp) {}
void pngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarning(png_structp, png_const_charp) {}

// The signature, IHDR, sRGB, the IDAT chunks and IEND. No C++ object lives across the jump.
bool writeContainer(png_structp png, png_infop info, QByteArray* out, int width, int height, bool alpha,
                    const char* data, std::size_t size) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    static const png_byte idat[5] = "IDAT";
    static const png_byte iend[5] = "IEND";
    png_set_write_fn(png, out, appendBytes, flushNothing);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    png_write_info(png, info);
    for (std::size_t at = 0; at < size; at += idatChunk)
        png_write_chunk(png, idat, reinterpret_cast<png_const_bytep>(data + at), std::min(idatChunk, size - at));
    png_write_chunk(png, iend, nullptr, 0);
    return true;
}

}  // namespace

PngEncoder::Settings PngEncoder::defaults() { return Settings{}; }

QByteArray PngEncoder::encode(const Bitmap& bitmap, const Settings& settings) {
    const PixelRows rows(bitmap);
    const int h = bitmap.height();
    const std::size_t stride = std::size_t(rows.rowBytes()) + 1;

    int threads = settings.threads > 0 ? settings.threads : int(std::max(1u, std::thread::hardware_concurrency()));
    threads = std::clamp(std::min(threads, h / minimumStripRows), 1, 64);
    std::vector<Strip> strips(threads);
    for (int i = 0; i < threads; ++i) {
        strips[i].first = int(std::int64_t(h) * i / threads);
        strips[i].end = int(std::int64_t(h) * (i + 1) / threads);
    }
    {
        std::vector<std::thread> workers;
        for (int i = 1; i < threads; ++i)
            workers.emplace_back(compressStrip, std::cref(rows), std::cref(settings), std::ref(strips[i]), i == threads - 1);
        compressStrip(rows, settings, strips[0], threads == 1);
        for (auto& t : workers)
            t.join();
    }

    QByteArray zlibStream;
    std::size_t total = 6;
    for (const Strip& s : strips) {
        if (!s.ok)
            throw PlatformError("ImageCodec", 2, "PNG compression failed");
        total += s.deflated.size();
    }
    zlibStream.reserve(qsizetype(total));
    // zlib header: deflate with a 32 KiB window, no preset dictionary, check bits for 0x78.
    const int flevel = settings.level <= 1 ? 0 : settings.level <= 5 ? 1 : settings.level == 6 ? 2 : 3;
    const unsigned cmf = 0x78, flg0 = unsigned(flevel) << 6;
    const unsigned flg = flg0 + (31 - (cmf * 256 + flg0) % 31);
    zlibStream.append(char(cmf)).append(char(flg));
    uLong adler = 1;
    for (const Strip& s : strips) {
        zlibStream.append(reinterpret_cast<const char*>(s.deflated.data()), qsizetype(s.deflated.size()));
        adler = adler32_combine(adler, s.adler, z_off_t(std::size_t(s.end - s.first) * stride));
    }
    for (int shift = 24; shift >= 0; shift -= 8)
        zlibStream.append(char((adler >> shift) & 0xff));

    QByteArray out;
    out.reserve(zlibStream.size() + 1024);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool written = info && writeContainer(png, info, &out, bitmap.width(), h, rows.hasAlpha(),
                                                zlibStream.constData(), std::size_t(zlibStream.size()));
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (!written)
        throw PlatformError("ImageCodec", 3, "PNG encoding failed");
    return out;
}

}  // namespace platform
