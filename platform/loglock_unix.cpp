#include "loglock.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The log folder, opened only when it is a real folder of this user's that nobody else
// may write: anyone who could would be able to plant a link in place of the live file.
// Made private when missing and make is set; -1 when it cannot be used.
int openPrivateFolder(const QString &folder, bool make)
{
    const QByteArray path = QFile::encodeName(folder);
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = open(path.constData(), flags);
    if (fd < 0 && errno == ENOENT && make && mkdir(path.constData(), 0700) == 0)
        fd = open(path.constData(), flags);
    struct stat status;
    if (fd >= 0 && (fstat(fd, &status) != 0 || status.st_uid != geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)))) {
        close(fd);
        return -1;
    }
    return fd;
}

QString folderOf(const QString &fileName)
{
    return fileName.left(fileName.lastIndexOf(QLatin1Char('/')));
}

} // namespace

// The folder itself is locked: a lock file would sit among the log files.
LogLock::LogLock(const QString &folder)
    : handle(openPrivateFolder(folder, true))
{
    if (handle < 0)
        return;
    int result;
    while ((result = flock(int(handle), LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        close(int(handle));
        handle = -1;
    }
}

LogLock::~LogLock()
{
    if (handle >= 0)
        close(int(handle));
}

bool LogLock::isHeld() const
{
    return handle >= 0;
}

LogLock::AppendResult LogLock::appendUnlessFull(const QString &fileName, const QByteArray &bytes, qint64 fullSize)
{
    const int folder = openPrivateFolder(folderOf(fileName), false);
    if (folder < 0)
        return Failed;
    const QByteArray name = QFile::encodeName(fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1));
    const int fd = openat(folder, name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                          0644);
    close(folder);
    if (fd < 0)
        return Failed;
    struct stat status;
    AppendResult result = Failed;
    // Only a plain file of this user's with no other name takes the lines.
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid() && status.st_nlink == 1) {
        if (status.st_size >= fullSize) {
            result = Full;
        } else {
            ssize_t written;
            while ((written = write(fd, bytes.constData(), size_t(bytes.size()))) < 0 && errno == EINTR) {
            }
            result = written == bytes.size() ? Appended : Failed;
        }
    }
    close(fd);
    return result;
}
