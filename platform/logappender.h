#ifndef LOGAPPENDER_H
#define LOGAPPENDER_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Keeps a log folder and its live file open between lines: a line then costs the
// folder lock, a look at the file's name, one write and the unlock, instead of
// opening and closing both for every line. Whenever the name no longer leads to the
// file kept open (rotated, deleted, its folder gone), or the file is full, append()
// declines and the caller writes the line the usual way (LogLock and
// appendUnlessFull), then calls remember() to keep the new file. Not thread-safe:
// the caller serialises its calls. Where it cannot help, it always declines.
class LogAppender
{
public:
    LogAppender() = default;
    ~LogAppender();
    LogAppender(const LogAppender &) = delete;
    LogAppender &operator=(const LogAppender &) = delete;

    // True when bytes were appended, in one write, to fileName in folder, which was
    // remembered and still holds less than fullSize bytes; false when nothing was written.
    bool append(const QString &folder, const QString &fileName, const QByteArray &bytes, qint64 fullSize);
    // Keeps folder and fileName (which exists) open for the next lines.
    void remember(const QString &folder, const QString &fileName);
    void forget();

private:
    QString folder;
    QString fileName;
    QByteArray encodedFileName;
    int folderHandle = -1;
    int fileHandle = -1;
    quint64 fileDevice = 0;
    quint64 fileInode = 0;
};

#endif
