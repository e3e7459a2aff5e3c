#include "platform/imageio/ImageFile.h"

#include "platform/core/Error.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

[[noreturn]] void fail(int code, const QString& path) {
    throw PlatformError("ImageFile", code,
                        "Cannot write " + path.toStdString() + ": " + std::strerror(code));
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

bool ImageFile::writeNew(const QString& path, const QByteArray& bytes) {
    const QFileInfo info(path);
    const QByteArray target = QFile::encodeName(path);
    QByteArray temp = QFile::encodeName(info.absolutePath() + "/." + info.fileName() + ".XXXXXX");
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        fail(errno, path);
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int e = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(temp.constData());
            fail(e, path);
        }
        p += n;
        left -= n;
    }
    // Readable like any file the user makes (mkstemp makes it private).
    ::fchmod(fd, 0666 & ~processUmask());
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int e = errno;
        ::unlink(temp.constData());
        fail(e, path);
    }
    // A hard link never replaces an existing name, so a file already there stays as it was.
    if (::link(temp.constData(), target.constData()) != 0) {
        const int e = errno;
        ::unlink(temp.constData());
        if (e == EEXIST)
            return false;
        fail(e, path);
    }
    ::unlink(temp.constData());
    return true;
}

}  // namespace platform
