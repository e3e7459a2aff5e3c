#pragma once

#include <QString>
#include <QtGlobal>

namespace platform {

// One running copy per user session: a lock on a file in the session's runtime folder. The system
// drops the lock when the process ends, however it ends, so a crashed copy never blocks the next.
class InstanceLock {
public:
    // Tries to take the lock called name.
    explicit InstanceLock(const QString& name);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False only when another process holds the lock. A lock that cannot be made at all (no
    // runtime folder) counts as taken, so it never keeps the application from starting.
    bool isOwner() const { return owner_; }
    // The process that holds it, when another does and has written its number; else 0.
    qint64 holder() const { return holder_; }

private:
    int fd_ = -1;
    bool owner_ = true;
    qint64 holder_ = 0;
};

}  // namespace platform
