#include "loglock.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

LogLock::AppendResult LogLock::appendUnlessFull(const QString &fileName, const QByteArray &bytes, qint64 fullSize)
{
    const int fd = open(QFile::encodeName(fileName).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return Failed;
    struct stat status;
    AppendResult result = Failed;
    if (fstat(fd, &status) == 0) {
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
