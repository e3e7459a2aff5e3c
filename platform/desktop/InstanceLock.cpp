#include "platform/desktop/InstanceLock.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

namespace platform {

InstanceLock::InstanceLock(const QString& name) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return;
    const QByteArray path = QFile::encodeName(folder + '/' + name + ".lock");
    // Not inherited: a child we start (a settings program, the relaunch) must not keep the lock.
    fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return;
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        const std::string pid = std::to_string(::getpid());
        // Only for the other copy's log line: a failed write changes nothing else.
        [[maybe_unused]] const bool written =
            ::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, pid.data(), pid.size(), 0) == ssize_t(pid.size());
        return;
    }
    owner_ = false;
    char buffer[32] = {};
    if (::pread(fd_, buffer, sizeof buffer - 1, 0) > 0)
        holder_ = QByteArray(buffer).trimmed().toLongLong();
    ::close(fd_);
    fd_ = -1;
}

QString InstanceLock::displayKey(const QByteArray& display) {
    QString name = QString::fromLocal8Bit(display).trimmed();
    const qsizetype colon = name.lastIndexOf(':');
    if (colon < 0)
        return {};
    QString host = name.left(colon);
    if (host == QLatin1String("unix"))  // the local socket, as ":1" is
        host.clear();
    bool numeric = false;
    const uint number = name.mid(colon + 1).section('.', 0, 0).toUInt(&numeric);  // the screen does not count
    if (!numeric)
        return {};
    for (QChar& c : host)  // it becomes part of a file name
        if (!c.isLetterOrNumber() && c != '.' && c != '-' && c != ':')
            c = '_';
    return host + ':' + QString::number(number);
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

}  // namespace platform
