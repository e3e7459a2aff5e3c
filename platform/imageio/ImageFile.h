#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// A new file that appears whole or not at all: bytes go to a hidden temporary file in the target
// folder, which is linked under its final name only once everything is on disk. A file that
// already has the name is never replaced.
class ImageFile {
public:
    // Opens the temporary file in folder. Throws PlatformError("ImageFile", errno, ...).
    explicit ImageFile(const QString& folder);
    // Removes the temporary file (the published name, if any, stays).
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    // Throws PlatformError("ImageFile", errno, ...).
    void write(const QByteArray& bytes);
    // Flushes the file to disk and gives it the name path. Returns false when the name is taken,
    // so the caller can try another. Throws PlatformError("ImageFile", errno, ...).
    bool publishAs(const QString& path);

private:
    void finish();

    QString folder_;
    QByteArray temp_;
    int fd_ = -1;
    bool finished_ = false;
};

}  // namespace platform
