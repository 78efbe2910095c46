#ifndef LOGLOCK_H
#define LOGLOCK_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Holds the log folder for this process while it appends or rotates, so that a second
// copy of the program never writes into the middle of a line or rotates at the same time.
// The system releases it when a process dies.
class LogLock
{
public:
    explicit LogLock(const QString &folder);
    ~LogLock();
    LogLock(const LogLock &) = delete;
    LogLock &operator=(const LogLock &) = delete;

    // False when the folder could not be opened (it may have been deleted).
    bool isHeld() const;

    enum AppendResult { Appended, Full, Failed };
    // Appends bytes to a file of the folder in one write, creating the file, unless it
    // already holds at least fullSize bytes. One open, one size query and one write:
    // the log calls it for every line.
    static AppendResult appendUnlessFull(const QString &fileName, const QByteArray &bytes, qint64 fullSize);

private:
    qintptr handle;
};

#endif
