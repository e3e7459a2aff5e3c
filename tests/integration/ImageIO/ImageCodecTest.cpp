#include "Features/Capture/ScreenshotWriter.h"
#include "platform/imageio/ImageCodec.h"
#include "platform/imageio/PngEncoder.h"

#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <libheif/heif.h>
#include <tiffio.h>
#include <webp/decode.h>

#include <fstream>

using platform::AlphaMode;
using platform::Bitmap;
using platform::BitmapRef;
using platform::ImageCodec;
using platform::PixelFormat;

namespace {

// Straight RGBA as a decoder gives it.
struct Decoded {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
    int at(int x, int y, int c) const { return rgba[(std::size_t(y) * width + x) * 4 + c]; }
};

// Screen-like content with padded rows: flat areas, sharp edges and noise, so every filter and
// strip path is used; alpha grows across the picture unless opaque.
BitmapRef picture(int w, int h, PixelFormat format, AlphaMode alpha, quint32 seed = 1) {
    QRandomGenerator random(seed);
    const int stride = w * 4 + 12;
    std::vector<std::uint8_t> px(std::size_t(stride) * h, 0xee);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = px.data() + std::size_t(y) * stride + std::size_t(x) * 4;
            p[3] = alpha == AlphaMode::opaque ? 0 : std::uint8_t((x * 255) / std::max(1, w - 1));
            for (int c = 0; c < 3; ++c) {
                p[c] = (x / 37 + y / 23) % 3 == 0 ? std::uint8_t(random.bounded(256)) : std::uint8_t((x * (c + 1) + y * 3) / 5);
                if (alpha == AlphaMode::premultiplied)
                    p[c] = std::uint8_t(p[c] * p[3] / 255);
            }
        }
    return Bitmap::create(w, h, stride, format, alpha, std::move(px));
}

// The straight RGBA an encoder should write for a pixel.
std::array<int, 4> expected(const Bitmap& b, int x, int y) {
    const std::uint8_t* p = b.row(y) + std::size_t(x) * 4;
    const bool bgra = b.format() == PixelFormat::BGRA;
    std::array<int, 4> v{p[bgra ? 2 : 0], p[1], p[bgra ? 0 : 2], b.alpha() == AlphaMode::opaque ? 255 : p[3]};
    if (b.alpha() == AlphaMode::premultiplied)
        for (int c = 0; c < 3; ++c)
            v[c] = v[3] == 0 ? 0 : std::min(255, (v[c] * 255 + v[3] / 2) / v[3]);
    return v;
}

// PNG and JPEG as the toolkit reads them.
Decoded decodeQt(const QByteArray& bytes, const char* format) {
    const QImage image = QImage::fromData(bytes, format).convertToFormat(QImage::Format_RGBA8888);
    return Decoded{image.width(), image.height(), {image.constBits(), image.constBits() + image.sizeInBytes()}};
}

// The samples as stored (the library's RGBA reader would premultiply them).
Decoded decodeTiff(const QByteArray& bytes, const QString& path) {
    std::ofstream(path.toStdString(), std::ios::binary).write(bytes.constData(), bytes.size());
    Decoded d;
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "r");
    uint32_t w = 0, h = 0;
    uint16_t spp = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    std::vector<std::uint8_t> line(TIFFScanlineSize(tif));
    for (uint32_t y = 0; y < h && TIFFReadScanline(tif, line.data(), y, 0) == 1; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c)
                d.rgba.push_back(c < spp ? line[x * spp + c] : 255);
    d.width = int(w), d.height = int(h);
    TIFFClose(tif);
    return d;
}

Decoded decodeHeic(const QByteArray& bytes) {
    Decoded d;
    heif_context* ctx = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    if (heif_context_read_from_memory_without_copy(ctx, bytes.constData(), std::size_t(bytes.size()), nullptr).code == heif_error_Ok &&
        heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok &&
        heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code == heif_error_Ok) {
        int stride = 0;
        const std::uint8_t* p = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        d.width = heif_image_get_width(image, heif_channel_interleaved);
        d.height = heif_image_get_height(image, heif_channel_interleaved);
        for (int y = 0; y < d.height; ++y)
            d.rgba.insert(d.rgba.end(), p + std::size_t(y) * stride, p + std::size_t(y) * stride + d.width * 4);
        heif_image_release(image);
    }
    if (handle)
        heif_image_handle_release(handle);
    heif_context_free(ctx);
    return d;
}

// The number of channels off by more than the tolerance; every one when the sizes differ.
int wrong(const Bitmap& b, const Decoded& d, int tolerance = 0, int step = 1) {
    if (d.width != b.width() || d.height != b.height())
        return b.width() * b.height() * 4;
    int n = 0;
    for (int y = step / 2; y < b.height(); y += step)
        for (int x = step / 2; x < b.width(); x += step)
            for (int c = 0; c < 4; ++c)
                n += std::abs(expected(b, x, y)[c] - d.at(x, y, c)) > tolerance;
    return n;
}

}  // namespace

TEST(ImageCodec, PngAndTiffKeepEveryPixelExactlyWhateverTheStripsFiltersAndAlpha) {
    using F = platform::PngEncoder::Filter;
    const auto opaque = picture(301, 517, PixelFormat::BGRA, AlphaMode::opaque);
    for (F filter : {F::none, F::sub, F::up, F::average, F::paeth, F::adaptive})
        for (int threads : {1, 3, 8}) {
            platform::PngEncoder::Settings s;
            s.filter = filter, s.threads = threads, s.level = threads == 3 ? 6 : 2;
            EXPECT_EQ(wrong(*opaque, decodeQt(platform::PngEncoder::encode(*opaque, s), "PNG")), 0) << int(filter) << " " << threads;
        }
    // Fewer rows than one strip needs, and a single column.
    const auto tiny = picture(1, 3, PixelFormat::BGRA, AlphaMode::opaque);
    EXPECT_EQ(wrong(*tiny, decodeQt(ImageCodec::pngData(*tiny), "PNG")), 0);
    QTemporaryDir dir;
    for (auto [format, alpha] : {std::pair{PixelFormat::BGRA, AlphaMode::straight}, std::pair{PixelFormat::RGBA, AlphaMode::premultiplied},
                                 std::pair{PixelFormat::RGBA, AlphaMode::opaque}}) {
        const auto b = picture(130, 260, format, alpha, 9);
        EXPECT_EQ(wrong(*b, decodeQt(ImageCodec::pngData(*b), "PNG")), 0) << int(alpha);
        EXPECT_EQ(wrong(*b, decodeTiff(ImageCodec::tiffData(*b), dir.filePath("probe.tiff"))), 0) << int(alpha);
    }
}

TEST(ImageCodec, LossyFormatsDecodeToTheRightSizeAndColours) {
    // Four flat quadrants of distinct colours.
    std::vector<std::uint8_t> px;
    const std::uint8_t colours[4][3] = {{30, 40, 200}, {40, 190, 60}, {210, 70, 20}, {128, 128, 128}};
    for (int i = 0; i < 320 * 200; ++i) {
        const std::uint8_t* q = colours[(i % 320 >= 160) + 2 * (i / 320 >= 100)];
        px.insert(px.end(), {q[0], q[1], q[2], 0});
    }
    const auto b = Bitmap::create(320, 200, 320 * 4, PixelFormat::BGRA, AlphaMode::opaque, std::move(px));
    EXPECT_EQ(wrong(*b, decodeQt(ImageCodec::jpegData(*b, 0.95), "JPEG"), 12, 80), 0);
    EXPECT_EQ(wrong(*b, decodeHeic(ImageCodec::heicData(*b, 0.95)), 16, 80), 0);
    const QByteArray webp = zentola::ScreenshotWriter::webpData(zentola::ScreenshotWriter::straightRGBA(*b), 320, 200, 0.9);
    Decoded d;
    std::uint8_t* rgba = WebPDecodeRGBA(reinterpret_cast<const std::uint8_t*>(webp.constData()), std::size_t(webp.size()), &d.width, &d.height);
    d.rgba.assign(rgba, rgba + std::size_t(d.width) * d.height * 4);
    WebPFree(rgba);
    EXPECT_EQ(wrong(*b, d, 16, 80), 0);
}

TEST(ImageCodec, SeeThroughPicturesKeepTheirColourAndAlphaInHeicAndWebp_JpegShowsThemOverWhite) {
    // Four flat quadrants of distinct colours and alphas, premultiplied as a window's pixels are.
    const std::uint8_t colours[4][3] = {{30, 40, 200}, {40, 190, 60}, {210, 70, 20}, {128, 128, 128}};
    const std::uint8_t alphas[4] = {255, 192, 128, 64};
    std::vector<std::uint8_t> px, flat;
    for (int i = 0; i < 320 * 200; ++i) {
        const int q = (i % 320 >= 160) + 2 * (i / 320 >= 100);
        const unsigned a = alphas[q];
        for (int c = 0; c < 3; ++c) {
            px.push_back(std::uint8_t((colours[q][c] * a + 127) / 255));
            flat.push_back(std::uint8_t((colours[q][c] * a + 255 * (255 - a) + 127) / 255));
        }
        px.push_back(std::uint8_t(a));
        flat.push_back(0);
    }
    const auto b = Bitmap::create(320, 200, 320 * 4, PixelFormat::RGBA, AlphaMode::premultiplied, std::move(px));
    EXPECT_EQ(wrong(*b, decodeHeic(ImageCodec::heicData(*b, 0.95)), 16, 80), 0);
    const QByteArray webp = zentola::ScreenshotWriter::webpData(zentola::ScreenshotWriter::straightRGBA(*b), 320, 200, 0.95);
    Decoded d;
    std::uint8_t* rgba = WebPDecodeRGBA(reinterpret_cast<const std::uint8_t*>(webp.constData()), std::size_t(webp.size()), &d.width, &d.height);
    ASSERT_NE(rgba, nullptr);
    d.rgba.assign(rgba, rgba + std::size_t(d.width) * d.height * 4);
    WebPFree(rgba);
    EXPECT_EQ(wrong(*b, d, 16, 80), 0);
    const auto overWhite = Bitmap::create(320, 200, 320 * 4, PixelFormat::RGBA, AlphaMode::opaque, std::move(flat));
    EXPECT_EQ(wrong(*overWhite, decodeQt(ImageCodec::jpegData(*b, 0.95), "JPEG"), 12, 80), 0);
}
