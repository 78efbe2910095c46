#include "fileidentity.h"

#include "platform.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace Platform {

namespace {

// File systems whose inode numbers stay with a file and whose change time only the
// kernel sets. FAT and exFAT make both up from what the disk holds (a rewrite with its
// time put back, or another image on the same loop device, looks the same); FUSE and
// network file systems give whatever their server says.
bool keepsChangeTime(unsigned long type)
{
    switch (type) {
    case 0xEF53UL:     // ext2, ext3, ext4
    case 0x58465342UL: // xfs
    case 0x9123683EUL: // btrfs
    case 0x01021994UL: // tmpfs
    case 0xF2F52010UL: // f2fs
    case 0x2FC12FC1UL: // zfs
    case 0x3153464AUL: // jfs
    case 0x5346544EUL: // ntfs3 (the kernel's own driver)
    case 0x794C7630UL: // overlayfs
        return true;
    default:
        return false;
    }
}

void judge(FileIdentity &identity, int statfsResult, const struct statfs &fileSystem)
{
    if (statfsResult != 0) {
        identity.distrust = QStringLiteral("the file system's type is unknown");
        return;
    }
    identity.trustworthy = keepsChangeTime(static_cast<unsigned long>(fileSystem.f_type));
    if (!identity.trustworthy)
        identity.distrust = QStringLiteral("file system type 0x%1 does not keep change times")
                                .arg(static_cast<unsigned long>(fileSystem.f_type), 0, 16);
}

FileIdentity fromStatus(const struct stat &status)
{
    FileIdentity identity;
    if (!S_ISREG(status.st_mode))
        return identity;
    identity.valid = true;
    identity.device = quint64(status.st_dev);
    identity.inode = quint64(status.st_ino);
    identity.size = qint64(status.st_size);
    identity.modified = qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    identity.changed = qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
    return identity;
}

} // namespace

FileIdentity fileIdentity(const QString &path)
{
    const QByteArray name = encodeFileName(path);
    struct stat status;
    if (::stat(name.constData(), &status) != 0)
        return FileIdentity();
    FileIdentity identity = fromStatus(status);
    if (identity.valid) {
        struct statfs fileSystem;
        judge(identity, ::statfs(name.constData(), &fileSystem), fileSystem);
    }
    return identity;
}

qintptr openForReading(const QString &path, FileIdentity *identity)
{
    // O_NONBLOCK keeps a FIFO with an installer's name from hanging the open.
    const int fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    *identity = openedFileIdentity(fd);
    if (!identity->valid) {
        ::close(fd);
        return -1;
    }
    return fd;
}

FileIdentity openedFileIdentity(qintptr handle)
{
    struct stat status;
    if (::fstat(int(handle), &status) != 0)
        return FileIdentity();
    FileIdentity identity = fromStatus(status);
    if (identity.valid) {
        struct statfs fileSystem;
        judge(identity, ::fstatfs(int(handle), &fileSystem), fileSystem);
    }
    return identity;
}

void closeOpened(qintptr handle)
{
    if (handle >= 0)
        ::close(int(handle));
}

bool isOwnPlainFile(const QString &path)
{
    struct stat status;
    return ::lstat(encodeFileName(path).constData(), &status) == 0 && S_ISREG(status.st_mode)
        && status.st_uid == ::geteuid();
}

QString preparePrivateFolder(const QString &folder)
{
    const QString parent = QFileInfo(folder).absolutePath();
    if (!QDir().mkpath(parent))
        return QStringLiteral("cannot create ") + parent;
    const QByteArray name = encodeFileName(folder);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("cannot create the folder: ") + QString::fromLocal8Bit(std::strerror(errno));
    struct stat status;
    if (::lstat(name.constData(), &status) != 0)
        return QStringLiteral("cannot look at the folder: ") + QString::fromLocal8Bit(std::strerror(errno));
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("the folder is a link");
    if (!S_ISDIR(status.st_mode))
        return QStringLiteral("not a folder");
    if (status.st_uid != ::geteuid())
        return QStringLiteral("the folder belongs to another user");
    // Ours but open to others (made by hand, or by an old umask): closed again, as the log folder is.
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && ::chmod(name.constData(), 0700) != 0)
        return QStringLiteral("others may write the folder");
    return QString();
}

} // namespace Platform
