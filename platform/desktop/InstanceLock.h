#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

class QObject;

namespace platform {

// One running copy per X display: a lock on a file in the user's runtime folder, named after the
// display. That folder is shared by all of a user's sessions, so the display tells them apart. The
// system drops the lock when the process ends, however it ends, so a crashed copy never blocks the next.
// Beside the lock the holder listens on a socket of the same name, so a later launch can ask it to
// come forward (the session may have no message bus).
class InstanceLock {
public:
    // Tries to take the lock called name.
    explicit InstanceLock(const QString& name);

    // The display part of a lock name: ":1", ":1.0" and "unix:1" are one display (host and number;
    // the screen does not count), "otherhost:1" another. Empty for an empty or unreadable name.
    static QString displayKey(const QByteArray& display);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False only when another process holds the lock. A lock that cannot be made at all (no
    // runtime folder) counts as taken, so it never keeps the application from starting.
    bool isOwner() const { return owner_; }
    // The process that holds it, when another does and has written its number; else 0.
    qint64 holder() const { return holder_; }

    // The holder: calls `asked` on the main thread each time a later launch asks it to come forward.
    void listen(QObject* context, std::function<void()> asked);
    // A later launch: asks the holder to come forward, waiting a moment for one that is still
    // starting; false when none answers.
    bool askHolder() const;

private:
    QString socketPath_;
    int fd_ = -1;
    bool owner_ = true;
    qint64 holder_ = 0;
};

}  // namespace platform
