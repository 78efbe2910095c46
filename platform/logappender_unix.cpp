#include "logappender.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

LogAppender::~LogAppender()
{
    forget();
}

bool LogAppender::append(const QString &folder, const QString &fileName, const QByteArray &bytes, qint64 fullSize)
{
    if (folderHandle < 0 || fileHandle < 0 || folder != this->folder || fileName != this->fileName)
        return false;
    int locked;
    while ((locked = flock(folderHandle, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        forget();
        return false;
    }
    // Under the folder lock nobody rotates, so the name cannot move on before the write.
    bool appended = false;
    struct stat status;
    if (stat(encodedFileName.constData(), &status) != 0 || quint64(status.st_dev) != fileDevice
        || quint64(status.st_ino) != fileInode) {
        forget();
    } else if (status.st_size < fullSize) {
        ssize_t written;
        while ((written = write(fileHandle, bytes.constData(), size_t(bytes.size()))) < 0 && errno == EINTR) {
        }
        appended = written == bytes.size();
        if (written != 0 && !appended)
            forget();
        // A line cut short is written again the usual way, as the usual way itself does.
    }
    if (folderHandle >= 0)
        flock(folderHandle, LOCK_UN);
    return appended;
}

void LogAppender::remember(const QString &folder, const QString &fileName)
{
    forget();
    // The folder and the file were just checked by the usual way; no link is followed since.
    folderHandle = open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    encodedFileName = QFile::encodeName(fileName);
    fileHandle = open(encodedFileName.constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    if (folderHandle < 0 || fileHandle < 0 || fstat(fileHandle, &status) != 0) {
        forget();
        return;
    }
    this->folder = folder;
    this->fileName = fileName;
    fileDevice = quint64(status.st_dev);
    fileInode = quint64(status.st_ino);
}

void LogAppender::forget()
{
    if (fileHandle >= 0)
        close(fileHandle);
    if (folderHandle >= 0)
        close(folderHandle);
    fileHandle = -1;
    folderHandle = -1;
    folder.clear();
    fileName.clear();
}
