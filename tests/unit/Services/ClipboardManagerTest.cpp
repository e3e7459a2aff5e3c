#include "Services/ClipboardManager.h"

#include "platform/desktop/Pasteboard.h"
#include "platform/imageio/ImageCodec.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <gtest/gtest.h>

using namespace zentola;
using platform::Pasteboard;

namespace {

platform::BitmapRef redBitmap(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(QColor(250, 10, 20));
    return platform::Bitmap::fromQImage(image);
}

QStringList offeredTypes() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data ? data->formats() : QStringList();
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
    int pngCalls = 0;
    std::optional<QByteArray> tiffResult = QByteArray("TIFFDATA");
    std::optional<QByteArray> pngResult = QByteArray("PNGDATA");
    ClipboardManager fake{board, [this](const platform::BitmapRef&) { return tiffResult; },
                          [this](const platform::BitmapRef&) {
                              ++pngCalls;
                              return pngResult;
                          }};
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

    // Without TIFF no PNG is attempted either.
    pngCalls = 0;
    tiffResult.reset();
    pngResult = QByteArray("PNGDATA");
    fake.copyImageWithFile(redBitmap(4, 4), QString("/tmp/a.png"));
    EXPECT_EQ(pngCalls, 0);
    EXPECT_EQ(offeredTypes(), QStringList{"text/uri-list"});

    // A missing bitmap still replaces what was there.
    fake.copyImageWithFile(nullptr, std::nullopt);
    EXPECT_TRUE(offeredTypes().isEmpty());
}

TEST(PasteboardTest, KeepsDeclaredOrderAndRefusesUndeclaredTypes) {
    Pasteboard board(QGuiApplication::clipboard());
    board.clearContents();
    board.declareTypes({"image/tiff", "image/png"});
    EXPECT_TRUE(board.setData("P", "image/png"));
    EXPECT_TRUE(board.setData("T", "image/tiff"));
    EXPECT_FALSE(board.setString("file:///x", "text/uri-list"));
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
