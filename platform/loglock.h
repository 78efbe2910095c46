#ifndef LOGLOCK_H
#define LOGLOCK_H

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

private:
    qintptr handle;
};

#endif
