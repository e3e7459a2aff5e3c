#pragma once

#include "Services/PersistenceManager.h"
#include "platform/core/Bitmap.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform {
class ImageFile;
}

namespace zentola {

// Writes a captured bitmap to a new file in the screenshot folder, in the format chosen in the
// settings. A second capture within the same second gets " (2)", " (3)", ... before the extension
// instead of replacing the first, and a failed write leaves no partial file behind.
class ScreenshotWriter {
public:
    explicit ScreenshotWriter(PersistenceManager& settings);

    // The file's location, or none after logging why not. Never throws.
    std::optional<QUrl> saveScreenshot(const platform::BitmapRef& image);
    // Why the last save gave no file, in the words the user is told ("Cannot write to <folder>:
    // No space left on device"); empty after a save that worked.
    const QString& failureReason() const { return failureReason_; }

    // "Screenshot 2025-03-14 at 09.26.53.png"; copy 2 and up adds " (2)", " (3)", ... before the extension.
    static QString fileName(const QDateTime& when, PersistenceManager::ImageFormat format, int copy = 1);
    // The format's case name as logged: "png", "jpeg", "webp", "heic", "tiff".
    static QString caseName(PersistenceManager::ImageFormat format);

    // The bitmap as RGBA rows with straight alpha, as the encoder reads them, top row first,
    // width x 4 bytes each: the one copy the WebP path makes. Throws std::bad_alloc.
    static std::vector<std::uint8_t> straightRGBA(const platform::Bitmap& bitmap);
    // The WebP bytes of such rows, encoded with the picture preset at quality x 100. Throws the
    // encoder's errors.
    static QByteArray webpData(const std::vector<std::uint8_t>& rgba, int width, int height, double quality);
    // The file's bytes for a format other than WebP; quality counts for JPEG and HEIC. Throws
    // PlatformError.
    static QByteArray imageData(const platform::Bitmap& bitmap, PersistenceManager::ImageFormat format, double quality);

    // The moment the file is named after, and the folder (the settings' one); tests replace them.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
    std::function<QUrl()> folderURL;

private:
    // Names the finished file after when, taking the first free copy number. Throws PlatformError.
    static QUrl publish(platform::ImageFile& file, const QString& folder, const QDateTime& when,
                        PersistenceManager::ImageFormat format);

    // Logs the line and keeps the reason; gives no location.
    std::nullopt_t fail(const QString& line, const QString& reason);

    PersistenceManager& settings_;
    QString failureReason_;
};

}  // namespace zentola
