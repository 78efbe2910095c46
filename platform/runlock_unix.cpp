#include "runlock.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
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
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
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
