#include "fileidentity.h"

#include "platform.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

FileIdentity fileIdentity(const QString &path)
{
    FileIdentity identity;
    struct stat status;
    if (::stat(encodeFileName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return identity;
    identity.valid = true;
    identity.device = quint64(status.st_dev);
    identity.inode = quint64(status.st_ino);
    identity.size = qint64(status.st_size);
    identity.modified = qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    identity.changed = qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
    return identity;
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
