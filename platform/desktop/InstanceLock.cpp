#include "platform/desktop/InstanceLock.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace platform {

InstanceLock::InstanceLock(const QString& name) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return;
    socketPath_ = folder + '/' + name + ".socket";
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

namespace {
constexpr char comeForward[] = "show\n";
}

void InstanceLock::listen(QObject* context, std::function<void()> asked) {
    if (fd_ < 0 || !owner_)
        return;
    auto* server = new QLocalServer(context);
    // A socket left by a copy that ended without removing it: ours now, as the lock is.
    QLocalServer::removeServer(socketPath_);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath_)) {
        delete server;
        return;
    }
    QObject::connect(server, &QLocalServer::newConnection, server, [server, asked = std::move(asked)] {
        while (QLocalSocket* peer = server->nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [peer, asked] {
                if (!peer->canReadLine())
                    return;
                if (peer->readLine() == comeForward)
                    asked();
                peer->disconnectFromServer();
            });
        }
    });
}

bool InstanceLock::askHolder() const {
    const QByteArray path = QFile::encodeName(socketPath_);
    sockaddr_un address{};
    if (owner_ || path.isEmpty() || std::size_t(path.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    // The holder listens a moment after it takes the lock.
    const QDeadlineTimer deadline(3000);
    do {
        const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s < 0)
            return false;
        const bool sent = ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                          ::send(s, comeForward, sizeof comeForward - 1, MSG_NOSIGNAL) == ssize_t(sizeof comeForward - 1);
        ::close(s);
        if (sent)
            return true;
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    return false;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

}  // namespace platform
