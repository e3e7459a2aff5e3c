#include "Services/ClipboardManager.h"

#include "platform/desktop/Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <atomic>
#include <future>

#include <gtest/gtest.h>

using namespace zentola;
using platform::Pasteboard;

namespace {

const auto offered = [] { return QGuiApplication::clipboard()->mimeData(); };

// The types offered once every encoder has finished (reading a type waits for its data).
QStringList offeredTypes() {
    for (const QString& type : offered()->formats())
        offered()->data(type);
    return offered()->formats();
}

// The encoders are fakes: the pixels do not matter.
const platform::BitmapRef kBitmap = platform::Bitmap::fromQImage(QImage(4, 4, QImage::Format_RGB32));

}  // namespace

// The copy returns before the images are encoded: every declared type is offered at once and a
// paste waits for its data; a type whose encoder failed is then withdrawn, and without TIFF no PNG
// is offered either.
TEST(ClipboardManagerTest, OffersTiffPngAndTheFileAtOnceAndWithdrawsWhatFailed) {
    Pasteboard board(QGuiApplication::clipboard());
    const std::optional<QByteArray> tiff("TIFFDATA"), png("PNGDATA"), none;
    const QString uri = "text/uri-list";
    const struct {
        std::optional<QByteArray> tiff, png;
        platform::BitmapRef image;
        std::optional<QString> path;
        QStringList types;
        QByteArray file;
    } cases[] = {
        {tiff, png, kBitmap, "/tmp/shots/Screen Shot #1.png", {"image/tiff", "image/png", uri},
         "file:///tmp/shots/Screen%20Shot%20%231.png\r\n"},
        {tiff, png, kBitmap, std::nullopt, {"image/tiff", "image/png"}, ""},
        {tiff, none, kBitmap, std::nullopt, {"image/tiff"}, ""},
        {none, png, kBitmap, "/tmp/a.png", {uri}, "file:///tmp/a.png\r\n"},
        // A missing bitmap still replaces the images that were there.
        {tiff, png, nullptr, "/tmp/a.png", {uri}, "file:///tmp/a.png\r\n"},
    };
    for (const auto& c : cases) {
        std::promise<void> release;
        auto encoded = std::make_shared<std::atomic<bool>>(false);
        auto slowTiff = [gate = release.get_future().share(), encoded, result = c.tiff](const platform::BitmapRef&) {
            gate.wait_for(std::chrono::seconds(5));
            *encoded = true;
            return result;
        };
        auto pngEncoder = [result = c.png](const platform::BitmapRef&) { return result; };
        ClipboardManager(board, slowTiff, pngEncoder).copyImageWithFile(c.image, c.path);
        EXPECT_FALSE(*encoded);
        EXPECT_EQ(offered()->formats(), (c.image ? QStringList{"image/tiff", "image/png"} : QStringList()) +
                                            (c.path ? QStringList{uri} : QStringList()));
        EXPECT_EQ(offered()->data(uri), c.file);
        release.set_value();
        EXPECT_EQ(offeredTypes(), c.types) << c.path.value_or("").toStdString();
        EXPECT_EQ(offered()->data("image/png"), c.types.contains("image/png") ? *png : QByteArray());
        EXPECT_EQ(offered()->data("image/tiff"), c.types.contains("image/tiff") ? *tiff : QByteArray());
    }
}

TEST(PasteboardTest, RefusesUndeclaredTypesAndReplacesDataSetTwice) {
    Pasteboard board(QGuiApplication::clipboard());
    board.declareTypes({"image/tiff", "image/png"});
    EXPECT_FALSE(board.setString("file:///x", "text/uri-list") ||
                 board.setDataLater("text/uri-list", [] { return QByteArray("file:///x"); }).valid());
    EXPECT_TRUE(board.setData("P", "image/png") && board.setData("T", "image/tiff"));
    EXPECT_TRUE(board.setData("P2", "image/png"));
    EXPECT_EQ(offeredTypes(), (QStringList{"image/tiff", "image/png"}));
    EXPECT_EQ(offered()->data("image/png"), QByteArray("P2"));
}
