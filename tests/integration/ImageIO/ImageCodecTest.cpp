#include "Features/Capture/ScreenshotWriter.h"
#include "platform/core/Error.h"
#include "platform/imageio/ImageCodec.h"
#include "platform/imageio/ImageFile.h"
#include "platform/imageio/PngEncoder.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>

#include <cstdlib>

using platform::AlphaMode;
using platform::Bitmap;
using platform::BitmapRef;
using platform::ImageCodec;
using platform::PixelFormat;

namespace {

struct Decoded {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;  // straight alpha
    std::uint8_t at(int x, int y, int c) const { return rgba[(std::size_t(y) * width + x) * 4 + c]; }
};

// Screen-like content: flat areas, sharp edges and noise, so every filter and strip path is used.
BitmapRef picture(int w, int h, PixelFormat format, AlphaMode alpha, quint32 seed = 1) {
    QRandomGenerator random(seed);
    const int stride = w * 4 + 12;
    std::vector<std::uint8_t> px(std::size_t(stride) * h, 0xee);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = px.data() + std::size_t(y) * stride + std::size_t(x) * 4;
            for (int c = 0; c < 3; ++c)
                p[c] = (x / 37 + y / 23) % 3 == 0 ? std::uint8_t(random.bounded(256)) : std::uint8_t((x * (c + 1) + y * 3) / 5);
            p[3] = alpha == AlphaMode::opaque ? 0 : std::uint8_t((x * 255) / std::max(1, w - 1));
            if (alpha == AlphaMode::premultiplied)
                for (int c = 0; c < 3; ++c)
                    p[c] = std::uint8_t(p[c] * p[3] / 255);
        }
    return Bitmap::create(w, h, stride, format, alpha, std::move(px));
}

// The colour the encoders should write for a pixel: straight RGBA.
std::array<int, 4> expected(const Bitmap& b, int x, int y) {
    const std::uint8_t* p = b.row(y) + std::size_t(x) * 4;
    const bool bgra = b.format() == PixelFormat::BGRA;
    std::array<int, 4> v{p[bgra ? 2 : 0], p[1], p[bgra ? 0 : 2], b.alpha() == AlphaMode::opaque ? 255 : p[3]};
    if (b.alpha() == AlphaMode::premultiplied && v[3] > 0 && v[3] < 255)
        for (int c = 0; c < 3; ++c)
            v[c] = std::min(255, (v[c] * 255 + v[3] / 2) / v[3]);
    if (b.alpha() == AlphaMode::premultiplied && v[3] == 0)
        v = {0, 0, 0, 0};
    return v;
}

Decoded decodePng(const QByteArray& bytes) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Decoded d;
    if (!png_image_begin_read_from_memory(&image, bytes.constData(), std::size_t(bytes.size())))
        return d;
    image.format = PNG_FORMAT_RGBA;
    d.rgba.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, d.rgba.data(), 0, nullptr)) {
        d.width = int(image.width);
        d.height = int(image.height);
    }
    png_image_free(&image);
    return d;
}

// The samples as stored (the library's RGBA reader would premultiply them).
Decoded decodeTiff(const QByteArray& bytes, const QString& dir) {
    const QString path = dir + "/probe.tiff";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    f.close();
    Decoded d;
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "r");
    if (!tif)
        return d;
    uint32_t w = 0, h = 0;
    uint16_t spp = 0, bits = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    if (bits == 8 && (spp == 3 || spp == 4)) {
        std::vector<std::uint8_t> line(TIFFScanlineSize(tif));
        d.rgba.resize(std::size_t(w) * h * 4);
        bool ok = true;
        for (uint32_t y = 0; y < h && ok; ++y) {
            ok = TIFFReadScanline(tif, line.data(), y, 0) == 1;
            for (uint32_t x = 0; x < w; ++x)
                for (int c = 0; c < 4; ++c)
                    d.rgba[(std::size_t(y) * w + x) * 4 + c] = c < spp ? line[x * spp + c] : 255;
        }
        if (ok) {
            d.width = int(w);
            d.height = int(h);
        }
    }
    TIFFClose(tif);
    return d;
}

Decoded decodeHeic(const QByteArray& bytes) {
    Decoded d;
    heif_context* ctx = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    if (heif_context_read_from_memory_without_copy(ctx, bytes.constData(), std::size_t(bytes.size()), nullptr).code ==
            heif_error_Ok &&
        heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok &&
        heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code ==
            heif_error_Ok) {
        int stride = 0;
        const std::uint8_t* p = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        d.width = heif_image_get_width(image, heif_channel_interleaved);
        d.height = heif_image_get_height(image, heif_channel_interleaved);
        for (int y = 0; y < d.height; ++y)
            d.rgba.insert(d.rgba.end(), p + std::size_t(y) * stride, p + std::size_t(y) * stride + d.width * 4);
    }
    if (image)
        heif_image_release(image);
    if (handle)
        heif_image_handle_release(handle);
    heif_context_free(ctx);
    return d;
}

// Four flat quadrants of distinct colours (BGRA bytes), for the lossy encoders.
BitmapRef quadrants(int w, int h) {
    std::vector<std::uint8_t> px(std::size_t(w) * h * 4);
    const std::uint8_t colours[4][3] = {{30, 40, 200}, {40, 190, 60}, {210, 70, 20}, {128, 128, 128}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int q = (x >= w / 2) + 2 * (y >= h / 2);
            std::uint8_t* p = px.data() + (std::size_t(y) * w + x) * 4;
            p[0] = colours[q][0], p[1] = colours[q][1], p[2] = colours[q][2], p[3] = 0;
        }
    return Bitmap::create(w, h, w * 4, PixelFormat::BGRA, AlphaMode::opaque, std::move(px));
}

// Largest channel difference at the quadrants' centres.
int quadrantError(const Bitmap& b, const Decoded& d) {
    int worst = 0;
    for (int q = 0; q < 4; ++q) {
        const int x = (q % 2) * b.width() / 2 + b.width() / 4, y = (q / 2) * b.height() / 2 + b.height() / 4;
        const auto e = expected(b, x, y);
        for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(e[c] - d.at(x, y, c)));
    }
    return worst;
}

void expectExact(const Bitmap& b, const Decoded& d, const char* what) {
    ASSERT_EQ(d.width, b.width()) << what;
    ASSERT_EQ(d.height, b.height()) << what;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const auto e = expected(b, x, y);
            for (int c = 0; c < 4; ++c)
                if (e[c] != d.at(x, y, c)) {
                    FAIL() << what << ": pixel " << x << "," << y << " channel " << c << " is " << int(d.at(x, y, c))
                           << ", wanted " << e[c];
                }
        }
}

}  // namespace

TEST(ImageCodec, PngRoundTripsExactlyWhateverTheStripsAndFilters) {
    using F = platform::PngEncoder::Filter;
    const auto opaque = picture(301, 517, PixelFormat::BGRA, AlphaMode::opaque);
    for (F filter : {F::none, F::sub, F::up, F::average, F::paeth, F::adaptive})
        for (int threads : {1, 3, 8}) {
            platform::PngEncoder::Settings s;
            s.filter = filter;
            s.threads = threads;
            s.level = threads == 3 ? 6 : 2;
            const std::string what = "filter " + std::to_string(int(filter)) + " threads " + std::to_string(threads);
            expectExact(*opaque, decodePng(platform::PngEncoder::encode(*opaque, s)), what.c_str());
        }
    // Fewer rows than one strip needs, and a single column.
    const auto tiny = picture(1, 3, PixelFormat::BGRA, AlphaMode::opaque);
    expectExact(*tiny, decodePng(ImageCodec::pngData(*tiny)), "tiny");
}

TEST(ImageCodec, PngAndTiffKeepAlphaStraight) {
    QTemporaryDir dir;
    for (auto [format, alpha] : {std::pair{PixelFormat::BGRA, AlphaMode::straight}, std::pair{PixelFormat::RGBA, AlphaMode::premultiplied},
                                 std::pair{PixelFormat::RGBA, AlphaMode::opaque}}) {
        const auto b = picture(130, 260, format, alpha, 9);
        expectExact(*b, decodePng(ImageCodec::pngData(*b)), "png");
        expectExact(*b, decodeTiff(ImageCodec::tiffData(*b), dir.path()), "tiff");
    }
}

TEST(ImageCodec, LossyFormatsDecodeToTheRightSizeAndColours) {
    const auto b = quadrants(321, 201);
    const QImage jpeg = QImage::fromData(ImageCodec::jpegData(*b, 0.95), "JPEG").convertToFormat(QImage::Format_RGBA8888);
    ASSERT_EQ(jpeg.size(), QSize(321, 201));
    Decoded j{jpeg.width(), jpeg.height(), std::vector<std::uint8_t>(jpeg.constBits(), jpeg.constBits() + jpeg.sizeInBytes())};
    EXPECT_LE(quadrantError(*b, j), 12);

    const Decoded heic = decodeHeic(ImageCodec::heicData(*b, 0.95));
    ASSERT_EQ(heic.width, 321);
    ASSERT_EQ(heic.height, 201);
    EXPECT_LE(quadrantError(*b, heic), 16);

    const QByteArray webp = zentola::ScreenshotWriter::webpData(zentola::ScreenshotWriter::premultipliedRGBA(*b), 321, 201, 0.9);
    int w = 0, h = 0;
    std::uint8_t* rgba = WebPDecodeRGBA(reinterpret_cast<const std::uint8_t*>(webp.constData()), std::size_t(webp.size()), &w, &h);
    ASSERT_NE(rgba, nullptr);
    Decoded d{w, h, std::vector<std::uint8_t>(rgba, rgba + std::size_t(w) * h * 4)};
    WebPFree(rgba);
    ASSERT_EQ(w, 321);
    ASSERT_EQ(h, 201);
    EXPECT_LE(quadrantError(*b, d), 16);

    // Lower quality, fewer bytes.
    const auto detailed = picture(320, 200, PixelFormat::BGRA, AlphaMode::opaque, 4);
    EXPECT_LT(ImageCodec::jpegData(*detailed, 0.3).size(), ImageCodec::jpegData(*detailed, 0.9).size());
    EXPECT_LT(ImageCodec::heicData(*detailed, 0.3).size(), ImageCodec::heicData(*detailed, 0.9).size());
}

TEST(ImageCodec, EncoderFailuresAreErrorsNotCrashes) {
    const auto wide = picture(70000, 1, PixelFormat::BGRA, AlphaMode::opaque);
    EXPECT_THROW(ImageCodec::jpegData(*wide, 0.9), platform::PlatformError);
}

TEST(ImageFile, PublishesWholeFilesAndNeverReplacesOne) {
    QTemporaryDir dir;
    const QString target = dir.path() + "/shot.png";
    {
        platform::ImageFile file(dir.path());
        file.write("first");
        ASSERT_TRUE(file.publishAs(target));
    }
    {
        platform::ImageFile file(dir.path());
        file.write("second");
        EXPECT_FALSE(file.publishAs(target));
        EXPECT_TRUE(file.publishAs(dir.path() + "/shot (2).png"));
    }
    {
        // Abandoned before publishing: nothing stays.
        platform::ImageFile file(dir.path());
        file.write("unfinished");
    }
    QFile first(target), second(dir.path() + "/shot (2).png");
    ASSERT_TRUE(first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly));
    EXPECT_EQ(first.readAll(), "first");
    EXPECT_EQ(second.readAll(), "second");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    EXPECT_THROW(platform::ImageFile(dir.path() + "/missing"), platform::PlatformError);
}
