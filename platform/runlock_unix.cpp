#include "runlock.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

RunLock::RunLock(const QString &lockFilePath)
    : path(lockFilePath), handle(-1)
{
}

RunLock::~RunLock()
{
    if (handle >= 0)
        ::close(int(handle));
}

bool RunLock::tryLock()
{
    if (handle >= 0)
        return true;
    // Never through a link, and only a plain file of this user's: the lock holds nothing,
    // but opening it read-write must not touch someone else's file.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                          0600);
    if (fd < 0)
        return false;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        ::close(fd);
        return false;
    }
    int result;
    while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        ::close(fd);
        return false;
    }
    handle = fd;
    return true;
}
