#include "writetarget.h"

#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

bool othersMayWrite(const QString &folder)
{
    struct stat status;
    return ::stat(encodeFileName(folder).constData(), &status) != 0
        || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The file a link at path leads to, or path itself; a dangling link gives where it points.
QString resolved(const QString &path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString canonical = canonicalPath(absolute);
    if (!canonical.isEmpty())
        return canonical;
    const QFileInfo info(absolute);
    if (info.isSymLink())
        return QDir::cleanPath(info.symLinkTarget());
    // Not there yet: the folder's real path and the name.
    const QString folder = canonicalPath(info.absolutePath());
    return folder.isEmpty() ? absolute : QDir::cleanPath(folder + QLatin1Char('/') + info.fileName());
}

} // namespace

QString writeRefusal(const QString &path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const uid_t self = ::geteuid();
    struct stat status;
    if (::lstat(encodeFileName(absolute).constData(), &status) != 0)
        return QString();
    if (S_ISLNK(status.st_mode)) {
        if (status.st_uid != self)
            return QStringLiteral("it is a link another user made");
        struct stat target;
        if (::stat(encodeFileName(absolute).constData(), &target) == 0 && target.st_uid != self)
            return QStringLiteral("it is a link to another user's file");
        const QString real = resolved(absolute);
        if (::lstat(encodeFileName(real).constData(), &status) != 0)
            return QString();
        if (status.st_uid != self && othersMayWrite(QFileInfo(real).absolutePath()))
            return QStringLiteral("the file it leads to belongs to another user and others may write its folder");
        return QString();
    }
    if (status.st_uid != self && othersMayWrite(QFileInfo(absolute).absolutePath()))
        return QStringLiteral("the file belongs to another user and others may write its folder");
    return QString();
}

QString writeTarget(const QString &path)
{
    return resolved(path);
}

bool isSameWriteTarget(const QString &first, const QString &second)
{
    return writeTarget(first) == writeTarget(second);
}

bool saveFile(const QString &path, const std::function<bool(QIODevice &)> &write, QString *error)
{
    const QString refusal = writeRefusal(path);
    if (!refusal.isEmpty()) {
        *error = refusal;
        return false;
    }
    // Only a link of this user's own to a file of this user's is written through.
    const QString finalPath = resolved(path);
    const QFileInfo finalInfo(finalPath);
    const QByteArray finalName = encodeFileName(finalPath);

    // The new file takes the old one's permissions, or the umask's for a new name.
    struct stat old;
    const bool replacing = ::lstat(finalName.constData(), &old) == 0 && S_ISREG(old.st_mode);
    QByteArray temporaryName;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporaryName = encodeFileName(finalInfo.absolutePath() + QStringLiteral("/.") + finalInfo.fileName()
                                       + QStringLiteral(".%1").arg(QRandomGenerator::global()->generate64(), 0, 36));
        fd = ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *error = systemError();
        return false;
    }
    if (replacing && old.st_uid == ::geteuid())
        ::fchmod(fd, old.st_mode & 07777);
    QFile file;
    bool ok = file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) && write(file) && file.flush()
        && file.error() == QFileDevice::NoError;
    if (!ok)
        *error = file.errorString();
    file.close();
    // rename replaces whatever is at the name, a link planted meanwhile too, and follows nothing.
    if (ok && ::rename(temporaryName.constData(), finalName.constData()) != 0) {
        *error = systemError();
        ok = false;
    }
    if (!ok)
        ::unlink(temporaryName.constData());
    return ok;
}

} // namespace Platform
