#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Puts a new file in place whole or not at all.
class ImageFile {
public:
    // Writes bytes to a temporary file beside path, flushes it, and moves it to path only if no
    // file has that name yet. Returns false, leaving nothing behind, when the name is taken.
    // Throws PlatformError("ImageFile", errno, ...) when writing fails; the temporary file is removed.
    static bool writeNew(const QString& path, const QByteArray& bytes);
};

}  // namespace platform
