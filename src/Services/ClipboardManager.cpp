#include "Services/ClipboardManager.h"

#include "platform/core/Log.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/imageio/ImageCodec.h"

#include <QFileInfo>
#include <QUrl>

namespace zentola {
namespace {

ClipboardManager::Encoder codec(QByteArray (*encode)(const platform::Bitmap&)) {
    return [encode](const platform::BitmapRef& bitmap) -> std::optional<QByteArray> {
        try {
            QByteArray data = encode(*bitmap);
            if (data.isEmpty())
                return std::nullopt;
            return data;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    };
}

}  // namespace

ClipboardManager& ClipboardManager::shared() {
    static ClipboardManager manager(platform::Pasteboard::general(), codec(&platform::ImageCodec::tiffData),
                                    codec(&platform::ImageCodec::pngData));
    return manager;
}

ClipboardManager::ClipboardManager(platform::Pasteboard& pasteboard, Encoder tiff, Encoder png)
    : pasteboard_(pasteboard), tiff_(std::move(tiff)), png_(std::move(png)) {}

void ClipboardManager::copyImageWithFile(const platform::BitmapRef& image, const std::optional<QString>& filePath) {
    pasteboard_.clearContents();
    QStringList types{platform::Pasteboard::tiffType, platform::Pasteboard::pngType};
    if (filePath)
        types << platform::Pasteboard::fileURLType;
    pasteboard_.declareTypes(types);

    // A 4K capture takes a good part of a second to encode twice: both run on worker threads at
    // once, and a paste that comes sooner waits for them.
    if (image) {
        const auto tiff = pasteboard_.setDataLater(platform::Pasteboard::tiffType, [encode = tiff_, image] {
            return encode(image).value_or(QByteArray());
        });
        // PNG is made from the same pixels as TIFF; when TIFF fails neither image type is offered.
        pasteboard_.setDataLater(platform::Pasteboard::pngType, [encode = png_, image, tiff] {
            QByteArray png = encode(image).value_or(QByteArray());
            return tiff.get().isEmpty() ? QByteArray() : png;
        });
    }
    if (filePath) {
        const QUrl url = QUrl::fromLocalFile(QFileInfo(*filePath).absoluteFilePath());
        pasteboard_.setString(url.toString(QUrl::FullyEncoded) + "\r\n", platform::Pasteboard::fileURLType);
    }
}

}  // namespace zentola
