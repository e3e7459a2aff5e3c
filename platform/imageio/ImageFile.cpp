#include "platform/imageio/ImageFile.h"

#include "platform/core/Error.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

[[noreturn]] void fail(int code, const QString& what) {
    throw PlatformError("ImageFile", code, what.toStdString() + ": " + std::strerror(code));
}

// Read without changing it: umask() cannot be queried without setting it, which races other threads.
mode_t processUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        while (!status.atEnd()) {
            const QByteArray line = status.readLine();
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    return 022;
}

}  // namespace

ImageFile::ImageFile(const QString& folder) : folder_(folder) {
    temp_ = QFile::encodeName(folder + "/.zentola-XXXXXX");
    fd_ = mkstemp(temp_.data());
    if (fd_ < 0)
        fail(errno, "Cannot create a file in " + folder);
    // Readable like any file the user makes (mkstemp makes it private).
    ::fchmod(fd_, 0666 & ~processUmask());
}

ImageFile::~ImageFile() {
    if (fd_ >= 0)
        ::close(fd_);
    ::unlink(temp_.constData());
}

void ImageFile::write(const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(n < 0 ? errno : EIO, "Cannot write in " + folder_);
        p += n;
        left -= n;
    }
}

void ImageFile::finish() {
    if (finished_)
        return;
    const int fd = fd_;
    fd_ = -1;
    if (::fsync(fd) != 0) {
        const int e = errno;
        ::close(fd);
        fail(e, "Cannot write in " + folder_);
    }
    if (::close(fd) != 0)
        fail(errno, "Cannot write in " + folder_);
    finished_ = true;
}

bool ImageFile::publishAs(const QString& path) {
    finish();
    const QByteArray target = QFile::encodeName(path);
    // A hard link never replaces an existing name.
    if (::link(temp_.constData(), target.constData()) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
        fail(errno, "Cannot create " + path);
    // File systems without hard links: a rename that refuses to replace.
    if (::renameat2(AT_FDCWD, temp_.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (errno != EINVAL && errno != ENOSYS)
        fail(errno, "Cannot create " + path);
    // Last resort: claim the name first, then move the finished file over the empty claim.
    const int claim = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (claim < 0) {
        if (errno == EEXIST)
            return false;
        fail(errno, "Cannot create " + path);
    }
    ::close(claim);
    if (::rename(temp_.constData(), target.constData()) != 0) {
        const int e = errno;
        ::unlink(target.constData());
        fail(e, "Cannot create " + path);
    }
    return true;
}

}  // namespace platform
