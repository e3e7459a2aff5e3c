#pragma once

#include "platform/core/Bitmap.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace platform {
class Pasteboard;
}

namespace zentola {

// Puts a finished screenshot on the system clipboard: TIFF, PNG and, when it was saved, its file.
class ClipboardManager {
public:
    using Encoder = std::function<std::optional<QByteArray>(const platform::BitmapRef&)>;

    static ClipboardManager& shared();

    // The real encoders are the image writers'; tests pass their own. They run on worker threads.
    ClipboardManager(platform::Pasteboard& pasteboard, Encoder tiff, Encoder png);

    // Replaces the clipboard's contents and returns before the images are encoded. filePath is a
    // local file path; never throws.
    void copyImageWithFile(const platform::BitmapRef& image, const std::optional<QString>& filePath);

private:
    platform::Pasteboard& pasteboard_;
    Encoder tiff_;
    Encoder png_;
};

}  // namespace zentola
