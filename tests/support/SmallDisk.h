#pragma once

// A small tmpfs of the test's own at a folder, for as long as the object lives; mounting it needs root.
#include <QDir>
#include <QFile>
#include <QProcess>

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>

class SmallDisk {
public:
    SmallDisk(const QString& folder, const char* size) : folder_(folder) {
        QDir().mkpath(folder);
        mounted_ = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, size) == 0;
        reason_ = std::strerror(errno);
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(QFile::encodeName(folder_).constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const char* reason() const { return reason_.c_str(); }
    long long free() const {
        struct statvfs space {};
        return ::statvfs(QFile::encodeName(folder_).constData(), &space) == 0 ? (long long)space.f_bavail * space.f_frsize : -1;
    }
    // Written until not a byte is left, while others may be writing too.
    void fill() const { QProcess::execute("dd", {"if=/dev/zero", "of=" + folder_ + "/filler", "bs=64k", "status=none"}); }
    // Takes all the room but `left` bytes.
    bool fillLeaving(long long left) const {
        QFile filler(folder_ + "/filler");
        return filler.open(QIODevice::WriteOnly) && ::posix_fallocate(filler.handle(), 0, free() - left) == 0;
    }
    void empty() const { QFile::remove(folder_ + "/filler"); }

private:
    QString folder_;
    bool mounted_ = false;
    std::string reason_;
};
