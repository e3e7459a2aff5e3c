#include "Features/Capture/ScreenshotWriter.h"
#include "Services/PersistenceManager.h"
#include "packages/webp/PixelOrder.h"
#include "packages/webp/WebPEncoder.h"
#include "packages/webp/WebpEncoderConfig.h"
#include "platform/defaults/DefaultsStore.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zentola;
using Format = PersistenceManager::ImageFormat;

namespace {

platform::BitmapRef gradient(int w, int h) {
    std::vector<std::uint8_t> px(std::size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = px.data() + (std::size_t(y) * w + x) * 4;
            p[0] = std::uint8_t(x * 7), p[1] = std::uint8_t(y * 5), p[2] = std::uint8_t(x ^ y), p[3] = 255;
        }
    return platform::Bitmap::create(w, h, w * 4, platform::PixelFormat::BGRA, platform::AlphaMode::opaque, std::move(px));
}

class ScreenshotWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        store = std::make_unique<platform::DefaultsStore>(dir.path() + "/defaults.json");
        settings = std::make_unique<PersistenceManager>(*store);
        folder = dir.path() + "/Pictures/Zentola";
    }

    ScreenshotWriter writer() {
        ScreenshotWriter w(*settings);
        w.now = [] { return QDateTime(QDate(2025, 3, 14), QTime(9, 26, 53)); };
        w.folderURL = [this] { return QUrl::fromLocalFile(folder); };
        return w;
    }

    std::string saveLogged(const platform::BitmapRef& image, std::optional<QUrl>* result) {
        testing::internal::CaptureStdout();
        *result = writer().saveScreenshot(image);
        return testing::internal::GetCapturedStdout();
    }

    QStringList entries() const { return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System); }

    QTemporaryDir dir;
    QString folder;
    std::unique_ptr<platform::DefaultsStore> store;
    std::unique_ptr<PersistenceManager> settings;
};

}  // namespace

TEST(ScreenshotWriterNames, FollowTheDatePatternAndNumberLaterCopies) {
    const QDateTime when(QDate(2025, 3, 14), QTime(9, 26, 53));
    EXPECT_EQ(ScreenshotWriter::fileName(when, Format::png), "Screenshot 2025-03-14 at 09.26.53.png");
    EXPECT_EQ(ScreenshotWriter::fileName(when, Format::jpeg), "Screenshot 2025-03-14 at 09.26.53.jpg");
    EXPECT_EQ(ScreenshotWriter::fileName(when, Format::heic, 2), "Screenshot 2025-03-14 at 09.26.53 (2).heic");
    EXPECT_EQ(ScreenshotWriter::fileName(QDateTime(QDate(2025, 12, 1), QTime(23, 5, 7)), Format::tiff, 11),
              "Screenshot 2025-12-01 at 23.05.07 (11).tiff");
    EXPECT_EQ(ScreenshotWriter::caseName(Format::jpeg), "jpeg");
}

TEST_F(ScreenshotWriterTest, CreatesTheMissingFolderAndNeverReplacesAnEarlierCapture) {
    const auto first = gradient(40, 30), second = gradient(64, 16);
    const auto a = writer().saveScreenshot(first);
    const auto b = writer().saveScreenshot(second);
    const auto c = writer().saveScreenshot(second);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->toLocalFile(), folder + "/Screenshot 2025-03-14 at 09.26.53.png");
    EXPECT_EQ(b->toLocalFile(), folder + "/Screenshot 2025-03-14 at 09.26.53 (2).png");
    EXPECT_EQ(c->toLocalFile(), folder + "/Screenshot 2025-03-14 at 09.26.53 (3).png");
    EXPECT_EQ(QImage(a->toLocalFile()).size(), QSize(40, 30));
    EXPECT_EQ(QImage(b->toLocalFile()).size(), QSize(64, 16));
    // Nothing but the three files: no temporary left beside them.
    EXPECT_EQ(entries().size(), 3);
}

TEST_F(ScreenshotWriterTest, AFolderThatCannotBeMadeIsLoggedAndGivesNoFile) {
    QDir().mkpath(dir.path() + "/Pictures");
    QFile blocker(dir.path() + "/Pictures/Zentola");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    std::optional<QUrl> result;
    const std::string out = saveLogged(gradient(8, 8), &result);
    EXPECT_FALSE(result);
    EXPECT_EQ(out.rfind("Failed to save screenshot: ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);

    folder = dir.path() + "/Pictures/Zentola/inside";
    const std::string deeper = saveLogged(gradient(8, 8), &result);
    EXPECT_FALSE(result);
    EXPECT_EQ(deeper.rfind("Failed to save screenshot: ", 0), 0u) << deeper;
}

TEST_F(ScreenshotWriterTest, AnEncoderFailureLeavesNoPartialFile) {
    settings->setSaveFormat(Format::jpeg);
    std::optional<QUrl> result;
    // JPEG stops at 65500 pixels a side.
    const std::string out = saveLogged(gradient(70000, 1), &result);
    EXPECT_FALSE(result);
    EXPECT_EQ(out, "Failed to finalize image destination\n");
    EXPECT_TRUE(entries().isEmpty()) << entries().join(", ").toStdString();
}

TEST_F(ScreenshotWriterTest, QualityCountsForTheLossyFormatsOnly) {
    const auto image = gradient(256, 128);
    auto sizeAt = [&](Format f, double q) {
        settings->setSaveFormat(f);
        settings->setJpegQuality(q);
        const auto url = writer().saveScreenshot(image);
        EXPECT_TRUE(url) << ScreenshotWriter::caseName(f).toStdString();
        if (!url)
            return qint64(-1);
        EXPECT_TRUE(url->toLocalFile().endsWith("." + f.fileExtension()));
        const qint64 size = QFileInfo(url->toLocalFile()).size();
        QFile::remove(url->toLocalFile());
        return size;
    };
    EXPECT_LT(sizeAt(Format::jpeg, 0.2), sizeAt(Format::jpeg, 0.95));
    EXPECT_LT(sizeAt(Format::heic, 0.2), sizeAt(Format::heic, 0.95));
    EXPECT_LT(sizeAt(Format::webp, 0.2), sizeAt(Format::webp, 0.95));
    EXPECT_EQ(sizeAt(Format::png, 0.2), sizeAt(Format::png, 0.95));
    EXPECT_EQ(sizeAt(Format::tiff, 0.2), sizeAt(Format::tiff, 0.95));
}

TEST(ScreenshotWriterPixels, WebpReceivesPremultipliedRgbaRows) {
    // One straight-alpha BGRA pixel, one premultiplied RGBA pixel, one opaque BGRA pixel.
    const auto straight = platform::Bitmap::create(1, 1, 4, platform::PixelFormat::BGRA, platform::AlphaMode::straight,
                                                   {50, 100, 200, 128});
    EXPECT_EQ(ScreenshotWriter::premultipliedRGBA(*straight), (std::vector<std::uint8_t>{100, 50, 25, 128}));
    const auto premultiplied = platform::Bitmap::create(1, 1, 4, platform::PixelFormat::RGBA,
                                                        platform::AlphaMode::premultiplied, {10, 20, 30, 40});
    EXPECT_EQ(ScreenshotWriter::premultipliedRGBA(*premultiplied), (std::vector<std::uint8_t>{10, 20, 30, 40}));
    // Padded rows: only the pixels are copied, and the unused fourth byte becomes opaque.
    const auto opaque = platform::Bitmap::create(1, 2, 8, platform::PixelFormat::BGRA, platform::AlphaMode::opaque,
                                                 {1, 2, 3, 0, 9, 9, 9, 9, 4, 5, 6, 0, 9, 9, 9, 9});
    EXPECT_EQ(ScreenshotWriter::premultipliedRGBA(*opaque), (std::vector<std::uint8_t>{3, 2, 1, 255, 6, 5, 4, 255}));
}

TEST(ScreenshotWriterPixels, WebpUsesThePicturePresetAtTheQualityInPercent) {
    const auto image = gradient(96, 64);
    const auto rgba = ScreenshotWriter::premultipliedRGBA(*image);
    auto direct = [&](webp::WebpEncoderConfig::Preset preset, float quality) {
        const auto data = webp::WebPEncoder().encode(webp::RGBA, rgba.data(), webp::WebpEncoderConfig::preset(preset, quality),
                                                     96, 64, 96 * 4, 0, 0);
        return QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
    };
    const QByteArray written = ScreenshotWriter::webpData(rgba, 96, 64, 0.9);
    EXPECT_EQ(written, direct(webp::WebpEncoderConfig::Preset::picture, 90));
    EXPECT_NE(written, direct(webp::WebpEncoderConfig::Preset::picture, 0.9f));
    EXPECT_NE(written, direct(webp::WebpEncoderConfig::Preset::text, 90));
}

TEST_F(ScreenshotWriterTest, NoFolderAndARefusedWebpAreLoggedAndLeaveNothing) {
    std::optional<QUrl> result;
    folder.clear();
    EXPECT_EQ(saveLogged(gradient(8, 8), &result), "No screenshot folder access\n");
    EXPECT_FALSE(result);

    folder = dir.path() + "/Pictures/Zentola";
    settings->setSaveFormat(Format::webp);
    // WebP stops at 16383 pixels a side.
    const std::string out = saveLogged(gradient(17000, 1), &result);
    EXPECT_FALSE(result);
    EXPECT_EQ(out.rfind("Failed to save screenshot: ", 0), 0u) << out;
    EXPECT_GT(out.size(), std::string("Failed to save screenshot: \n").size()) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    EXPECT_TRUE(entries().isEmpty()) << entries().join(", ").toStdString();
}
