#include "Features/Capture/ScreenshotWriter.h"

#include "packages/webp/PixelOrder.h"
#include "packages/webp/WebPEncoder.h"
#include "packages/webp/WebpEncoderConfig.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/imageio/ImageCodec.h"
#include "platform/imageio/ImageFile.h"
#include "platform/imageio/PixelRows.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

namespace zentola {

namespace {

// Far more than captures per second; past it something else is filling the folder.
constexpr int maximumCopies = 9999;

void log(const QString& line) { platform::logLine(line.toStdString()); }

// " (<path>: <reason>)": where the file was to go and why it could not, as the system says it.
QString because(const QString& path, const std::exception& e) {
    const auto* file = dynamic_cast<const platform::PlatformError*>(&e);
    const QString reason = file && file->domain() == "ImageFile" && file->code() > 0
                               ? QString::fromLocal8Bit(std::strerror(file->code()))
                               : QString::fromStdString(platform::plainText(e));
    return QStringLiteral(" (%1: %2)").arg(path, reason);
}

// What the user is told: a file system's refusal names the folder, anything else is the error's own text.
QString userReason(const QString& folder, const std::exception& e) {
    const auto* file = dynamic_cast<const platform::PlatformError*>(&e);
    if (file && file->domain() == "ImageFile" && file->code() > 0)
        return QStringLiteral("Cannot write to %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(file->code())));
    return QString::fromStdString(platform::plainText(e));
}

}  // namespace

std::nullopt_t ScreenshotWriter::fail(const QString& line, const QString& reason) {
    log(line);
    failureReason_ = reason;
    return std::nullopt;
}

ScreenshotWriter::ScreenshotWriter(PersistenceManager& settings)
    : folderURL([&settings] { return settings.screenshotFolderURL(); }), settings_(settings) {}

QString ScreenshotWriter::fileName(const QDateTime& when, PersistenceManager::ImageFormat format, int copy) {
    QString name = QStringLiteral("Screenshot ") + when.toString(QStringLiteral("yyyy-MM-dd 'at' HH.mm.ss"));
    if (copy > 1)
        name += QStringLiteral(" (%1)").arg(copy);
    return name + '.' + format.fileExtension();
}

QString ScreenshotWriter::caseName(PersistenceManager::ImageFormat format) {
    switch (format) {
    case PersistenceManager::ImageFormat::png:
        return QStringLiteral("png");
    case PersistenceManager::ImageFormat::jpeg:
        return QStringLiteral("jpeg");
    case PersistenceManager::ImageFormat::webp:
        return QStringLiteral("webp");
    case PersistenceManager::ImageFormat::heic:
        return QStringLiteral("heic");
    case PersistenceManager::ImageFormat::tiff:
        return QStringLiteral("tiff");
    }
    return {};
}

std::vector<std::uint8_t> ScreenshotWriter::straightRGBA(const platform::Bitmap& bitmap) {
    const int w = bitmap.width(), h = bitmap.height();
    std::vector<std::uint8_t> out(std::size_t(w) * h * 4);
    std::uint8_t* o = out.data();
    if (bitmap.alpha() != platform::AlphaMode::opaque) {
        // The encoder stores colour apart from alpha: premultiplied colour would come out darker.
        const platform::PixelRows rows(bitmap);
        for (int y = 0; y < h; ++y)
            rows.convert(y, o + std::size_t(y) * w * 4);
        return out;
    }
    const bool bgra = bitmap.format() == platform::PixelFormat::BGRA;
    const int r = bgra ? 2 : 0, b = bgra ? 0 : 2;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* in = bitmap.row(y);
        for (int x = 0; x < w; ++x, in += 4, o += 4)
            o[0] = in[r], o[1] = in[1], o[2] = in[b], o[3] = 255;
    }
    return out;
}

QByteArray ScreenshotWriter::webpData(const std::vector<std::uint8_t>& rgba, int width, int height, double quality) {
    const auto config = webp::WebpEncoderConfig::preset(webp::WebpEncoderConfig::Preset::picture, float(quality * 100.0));
    const webp::Data data = webp::WebPEncoder().encode(webp::RGBA, rgba.data(), config, width, height,
                                                       std::int64_t(width) * 4, 0, 0);
    return QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
}

QByteArray ScreenshotWriter::imageData(const platform::Bitmap& bitmap, PersistenceManager::ImageFormat format,
                                       double quality) {
    using F = platform::ImageCodec::Format;
    switch (format) {
    case PersistenceManager::ImageFormat::jpeg:
        return platform::ImageCodec::encode(bitmap, F::jpeg, quality);
    case PersistenceManager::ImageFormat::heic:
        return platform::ImageCodec::encode(bitmap, F::heic, quality);
    case PersistenceManager::ImageFormat::tiff:
        return platform::ImageCodec::encode(bitmap, F::tiff, quality);
    case PersistenceManager::ImageFormat::png:
    case PersistenceManager::ImageFormat::webp:
        break;
    }
    return platform::ImageCodec::encode(bitmap, F::png, quality);
}

QUrl ScreenshotWriter::publish(platform::ImageFile& file, const QString& folder, const QDateTime& when,
                               PersistenceManager::ImageFormat format) {
    for (int copy = 1; copy <= maximumCopies; ++copy) {
        const QString path = folder + '/' + fileName(when, format, copy);
        if (file.publishAs(path))
            return QUrl::fromLocalFile(path);
    }
    throw platform::PlatformError("ImageFile", EEXIST, "Every name for this screenshot is taken in " + folder.toStdString());
}

std::optional<QUrl> ScreenshotWriter::saveScreenshot(const platform::BitmapRef& image) {
    failureReason_.clear();
    const QUrl folderLocation = folderURL();
    if (!folderLocation.isLocalFile() || folderLocation.toLocalFile().isEmpty())
        return fail(QStringLiteral("No screenshot folder access"), QStringLiteral("No screenshot folder is set"));
    QString folder = folderLocation.toLocalFile();
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(folder.toStdString()), ec);
    if (!ec && !std::filesystem::is_directory(std::filesystem::path(folder.toStdString()), ec))
        ec = std::make_error_code(std::errc::not_a_directory);
    if (ec) {
        const QString why = QStringLiteral("Cannot create the folder %1: %2").arg(folder, QString::fromStdString(ec.message()));
        return fail(QStringLiteral("Failed to save screenshot: ") + why, why);
    }
    if (!image)
        return fail(QStringLiteral("Failed to save screenshot: there is no image"), QStringLiteral("There is no image"));

    const PersistenceManager::ImageFormat format = settings_.saveFormat();
    const QDateTime when = now();

    if (format == PersistenceManager::ImageFormat::webp) {
        const double quality = settings_.jpegQuality();
        std::vector<std::uint8_t> rgba;
        try {
            rgba = straightRGBA(*image);
        } catch (const std::bad_alloc&) {
            return fail(QStringLiteral("Failed to create CGContext for WebP conversion"),
                        QStringLiteral("Not enough memory to convert the image"));
        }
        try {
            const QByteArray bytes = webpData(rgba, image->width(), image->height(), quality);
            rgba = {};
            platform::ImageFile file(folder);
            file.write(bytes);
            return publish(file, folder, when, format);
        } catch (const std::exception& e) {
            return fail(QStringLiteral("Failed to save screenshot: ") + QString::fromStdString(platform::plainText(e)),
                        userReason(folder, e));
        }
    }

    const QString path = folder + '/' + fileName(when, format);
    std::unique_ptr<platform::ImageFile> file;
    try {
        file = std::make_unique<platform::ImageFile>(folder);
    } catch (const std::exception& e) {
        return fail(QStringLiteral("Failed to create image destination for format: ") + caseName(format) + because(path, e),
                    userReason(folder, e));
    }
    try {
        file->write(imageData(*image, format, settings_.jpegQuality()));
        return publish(*file, folder, when, format);
    } catch (const std::exception& e) {
        return fail(QStringLiteral("Failed to finalize image destination") + because(path, e), userReason(folder, e));
    }
}

}  // namespace zentola
