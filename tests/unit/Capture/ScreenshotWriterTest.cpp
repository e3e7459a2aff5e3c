#include "Features/Capture/ScreenshotWriter.h"
#include "Services/PersistenceManager.h"
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
    QTemporaryDir dir;
    platform::DefaultsStore store{dir.path() + "/defaults.json"};
    PersistenceManager settings{store};
    QString folder = dir.path() + "/Pictures/Zentola";

    // The file written, and what was logged.
    std::pair<std::optional<QUrl>, std::string> save(const platform::BitmapRef& image) {
        ScreenshotWriter w(settings);
        w.now = [] { return QDateTime(QDate(2025, 3, 14), QTime(9, 26, 53)); };
        w.folderURL = [this] { return QUrl::fromLocalFile(folder); };
        testing::internal::CaptureStdout();
        auto url = w.saveScreenshot(image);
        return {url, testing::internal::GetCapturedStdout()};
    }
    QByteArray bytes(const std::optional<QUrl>& url) const {
        QFile f(url ? url->toLocalFile() : QString());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList entries() const { return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System); }
};

}  // namespace

TEST_F(ScreenshotWriterTest, NamesFollowTheDate_TheFolderIsMade_AndAnEarlierCaptureIsNeverReplaced) {
    const QDateTime when(QDate(2025, 12, 1), QTime(23, 5, 7));
    EXPECT_EQ(ScreenshotWriter::fileName(when, Format::jpeg), "Screenshot 2025-12-01 at 23.05.07.jpg");
    EXPECT_EQ(ScreenshotWriter::fileName(when, Format::heic, 11), "Screenshot 2025-12-01 at 23.05.07 (11).heic");
    std::vector<QString> names;
    for (int i = 0; i < 3; ++i)
        names.push_back(save(gradient(40 + i, 30)).first->toLocalFile());
    EXPECT_EQ(names, (std::vector<QString>{folder + "/Screenshot 2025-03-14 at 09.26.53.png",
                                           folder + "/Screenshot 2025-03-14 at 09.26.53 (2).png",
                                           folder + "/Screenshot 2025-03-14 at 09.26.53 (3).png"}));
    EXPECT_EQ(QImage(names[1]).size(), QSize(41, 30));
    // Nothing but the three files: no temporary left beside them.
    EXPECT_EQ(entries().size(), 3);
}

TEST_F(ScreenshotWriterTest, EachFailureIsLoggedWithWhereAndWhyAndLeavesNoFile) {
    const std::string prefix = "Failed to save screenshot: ";
    // WebP stops at 16383 pixels a side, JPEG at 65500.
    settings.setSaveFormat(Format::webp);
    auto [url, log] = save(gradient(17000, 1));
    EXPECT_TRUE(!url && log.rfind(prefix, 0) == 0 && log.size() > prefix.size() + 1) << log;
    settings.setSaveFormat(Format::jpeg);
    std::tie(url, log) = save(gradient(70000, 1));
    EXPECT_FALSE(url);
    EXPECT_EQ(log.rfind("Failed to finalize image destination (" + folder.toStdString() +
                            "/Screenshot 2025-03-14 at 09.26.53.jpg: ", 0), 0u) << log;
    EXPECT_TRUE(entries().isEmpty()) << entries().join(", ").toStdString();

    // A folder where no file can be made (a name too long for the system, even as root).
    settings.setSaveFormat(Format::png);
    folder = dir.path() + "/" + QString(250, 'a') + "/" + QString(250, 'b');
    while (folder.size() < 4080)
        folder += "/" + QString(std::min<qsizetype>(250, 4080 - folder.size()), 'c');
    std::tie(url, log) = save(gradient(8, 8));
    EXPECT_FALSE(url);
    EXPECT_EQ(log, "Failed to create image destination for format: png (" + folder.toStdString() +
                       "/Screenshot 2025-03-14 at 09.26.53.png: File name too long)\n");

    // A folder that cannot be made, and none at all.
    QFile blocker(dir.path() + "/Blocked");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (const QString& blocked : {dir.path() + "/Blocked", dir.path() + "/Blocked/inside"}) {
        folder = blocked;
        std::tie(url, log) = save(gradient(8, 8));
        EXPECT_TRUE(!url && log.rfind(prefix, 0) == 0 && std::count(log.begin(), log.end(), '\n') == 1) << log;
    }
    folder.clear();
    EXPECT_EQ(save(gradient(8, 8)).second, "No screenshot folder access\n");
}

TEST_F(ScreenshotWriterTest, QualityCountsForTheLossyFormatsOnly_AndAnyStoredValueIsKeptWithinZeroToOne) {
    const auto image = gradient(256, 128);
    auto sizeAt = [&](Format f, double q) {
        settings.setSaveFormat(f);
        settings.setJpegQuality(q);
        const auto url = save(image).first;
        EXPECT_TRUE(url && url->toLocalFile().endsWith("." + f.fileExtension()));
        return bytes(url).size();
    };
    for (Format lossy : {Format::jpeg, Format::heic, Format::webp})
        EXPECT_LT(sizeAt(lossy, 0.2), sizeAt(lossy, 0.95)) << ScreenshotWriter::caseName(lossy).toStdString();
    for (Format lossless : {Format::png, Format::tiff})
        EXPECT_EQ(sizeAt(lossless, 0.2), sizeAt(lossless, 0.95));

    // A hand-edited store: every format takes the nearest quality it can use.
    for (Format f : {Format::webp, Format::jpeg}) {
        settings.setSaveFormat(f);
        for (const auto& [stored, meant] : {std::pair(5.0, 1.0), std::pair(-3.0, 0.0)}) {
            store.set(QStringLiteral("zentola.jpegQuality"), stored);
            const QByteArray clamped = bytes(save(image).first);
            store.set(QStringLiteral("zentola.jpegQuality"), meant);
            EXPECT_FALSE(clamped.isEmpty());
            EXPECT_EQ(clamped, bytes(save(image).first)) << stored;
        }
    }
}

TEST(ScreenshotWriterPixels, WebpGetsPremultipliedRgbaRowsWithThePicturePresetAtTheQualityInPercent) {
    // Straight-alpha BGRA, premultiplied RGBA, opaque BGRA with padded rows.
    const auto straight = platform::Bitmap::create(1, 1, 4, platform::PixelFormat::BGRA, platform::AlphaMode::straight,
                                                   {50, 100, 200, 128});
    EXPECT_EQ(ScreenshotWriter::premultipliedRGBA(*straight), (std::vector<std::uint8_t>{100, 50, 25, 128}));
    const auto premultiplied = platform::Bitmap::create(1, 1, 4, platform::PixelFormat::RGBA,
                                                        platform::AlphaMode::premultiplied, {10, 20, 30, 40});
    EXPECT_EQ(ScreenshotWriter::premultipliedRGBA(*premultiplied), (std::vector<std::uint8_t>{10, 20, 30, 40}));
    const auto opaque = platform::Bitmap::create(1, 2, 8, platform::PixelFormat::BGRA, platform::AlphaMode::opaque,
                                                 {1, 2, 3, 0, 9, 9, 9, 9, 4, 5, 6, 0, 9, 9, 9, 9});
    EXPECT_EQ(ScreenshotWriter::premultipliedRGBA(*opaque), (std::vector<std::uint8_t>{3, 2, 1, 255, 6, 5, 4, 255}));

    const auto rgba = ScreenshotWriter::premultipliedRGBA(*gradient(96, 64));
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
