#include "loglock.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// The folder itself is locked: a lock file would sit among the log files.
LogLock::LogLock(const QString &folder)
    : handle(open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
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
