#include "Services/ClipboardManager.h"

#include "platform/desktop/Pasteboard.h"
#include "platform/imageio/ImageCodec.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>

#include <gtest/gtest.h>

using namespace zentola;
using platform::Pasteboard;

namespace {

platform::BitmapRef redBitmap(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(QColor(250, 10, 20));
    return platform::Bitmap::fromQImage(image);
}

// The types offered once every encoder has finished (reading a type waits for its data).
QStringList offeredTypes() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data)
        return {};
    for (const QString& type : data->formats())
        data->data(type);
    return data->formats();
}

QByteArray offered(const QString& type) {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data ? data->data(type) : QByteArray();
}

ClipboardManager::Encoder codec(QByteArray (*encode)(const platform::Bitmap&)) {
    return [encode](const platform::BitmapRef& b) -> std::optional<QByteArray> { return encode(*b); };
}

struct ClipboardManagerTest : testing::Test {
    Pasteboard board{QGuiApplication::clipboard()};
    // Read by the encoders on worker threads; changed only once the clipboard has settled.
    std::optional<QByteArray> tiffResult = QByteArray("TIFFDATA");
    std::optional<QByteArray> pngResult = QByteArray("PNGDATA");
    ClipboardManager fake{board, [this](const platform::BitmapRef&) { return tiffResult; },
                          [this](const platform::BitmapRef&) { return pngResult; }};
};

}  // namespace

TEST_F(ClipboardManagerTest, SavedCaptureOffersTiffPngAndFileInThatOrder) {
    ClipboardManager real(board, codec(&platform::ImageCodec::tiffData), codec(&platform::ImageCodec::pngData));
    real.copyImageWithFile(redBitmap(40, 30), QString("/tmp/shots/Screen Shot #1.png"));

    EXPECT_EQ(offeredTypes(), (QStringList{"image/tiff", "image/png", "text/uri-list"}));
    EXPECT_EQ(offered("text/uri-list"), QByteArray("file:///tmp/shots/Screen%20Shot%20%231.png\r\n"));
    const QImage png = QImage::fromData(offered("image/png"), "PNG");
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(40, 30));
    EXPECT_EQ(QColor(png.pixel(5, 5)), QColor(250, 10, 20));
    EXPECT_TRUE(offered("image/tiff").startsWith("II*") || offered("image/tiff").startsWith("MM"));
}

TEST_F(ClipboardManagerTest, UnsavedCaptureReplacesAnEarlierFileEntry) {
    fake.copyImageWithFile(redBitmap(4, 4), QString("/tmp/a.png"));
    ASSERT_EQ(offeredTypes().size(), 3);
    fake.copyImageWithFile(redBitmap(4, 4), std::nullopt);
    EXPECT_EQ(offeredTypes(), (QStringList{"image/tiff", "image/png"}));
    EXPECT_EQ(offered("image/tiff"), QByteArray("TIFFDATA"));
    EXPECT_EQ(offered("image/png"), QByteArray("PNGDATA"));
}

TEST_F(ClipboardManagerTest, FailedEncodersLeaveTheirTypesOut) {
    pngResult.reset();
    fake.copyImageWithFile(redBitmap(4, 4), QString("/tmp/a.png"));
    EXPECT_EQ(offeredTypes(), (QStringList{"image/tiff", "text/uri-list"}));

    // Without TIFF no PNG is offered either.
    tiffResult.reset();
    pngResult = QByteArray("PNGDATA");
    fake.copyImageWithFile(redBitmap(4, 4), QString("/tmp/a.png"));
    EXPECT_EQ(offeredTypes(), QStringList{"text/uri-list"});
    EXPECT_TRUE(offered("image/png").isEmpty());

    // A missing bitmap still replaces what was there.
    fake.copyImageWithFile(nullptr, std::nullopt);
    EXPECT_TRUE(offeredTypes().isEmpty());
}

TEST(ClipboardManagerEncodingTest, ReturnsBeforeTheImagesAreEncodedAndAPasteWaitsForThem) {
    Pasteboard board(QGuiApplication::clipboard());
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    auto encoded = std::make_shared<std::atomic<bool>>(false);
    ClipboardManager slow(
        board,
        [gate, encoded](const platform::BitmapRef&) -> std::optional<QByteArray> {
            gate.wait_for(std::chrono::seconds(5));
            *encoded = true;
            return QByteArray("TIFFDATA");
        },
        [](const platform::BitmapRef&) -> std::optional<QByteArray> { return QByteArray("PNGDATA"); });

    slow.copyImageWithFile(redBitmap(4, 4), QString("/tmp/a.png"));
    EXPECT_FALSE(*encoded);
    // Offered at once, in order, while still being made.
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->formats(), (QStringList{"image/tiff", "image/png", "text/uri-list"}));
    EXPECT_EQ(data->data("text/uri-list"), QByteArray("file:///tmp/a.png\r\n"));

    release.set_value();
    EXPECT_EQ(data->data("image/png"), QByteArray("PNGDATA"));
    EXPECT_EQ(data->data("image/tiff"), QByteArray("TIFFDATA"));
    EXPECT_TRUE(*encoded);
}

TEST(PasteboardTest, KeepsDeclaredOrderAndRefusesUndeclaredTypes) {
    Pasteboard board(QGuiApplication::clipboard());
    board.clearContents();
    board.declareTypes({"image/tiff", "image/png"});
    EXPECT_TRUE(board.setData("P", "image/png"));
    EXPECT_TRUE(board.setData("T", "image/tiff"));
    EXPECT_FALSE(board.setString("file:///x", "text/uri-list"));
    EXPECT_FALSE(board.setDataLater("text/uri-list", [] { return QByteArray("file:///x"); }).valid());
    EXPECT_EQ(offeredTypes(), (QStringList{"image/tiff", "image/png"}));

    // Setting a type again replaces its data instead of adding a second entry.
    EXPECT_TRUE(board.setData("P2", "image/png"));
    EXPECT_EQ(offered("image/png"), QByteArray("P2"));
    EXPECT_EQ(offeredTypes().size(), 2);

    // New declarations drop the data set before them.
    board.declareTypes({"text/uri-list"});
    EXPECT_TRUE(board.setString("file:///x", "text/uri-list"));
    EXPECT_EQ(offeredTypes(), QStringList{"text/uri-list"});
}
