#ifndef RUNLOCK_H
#define RUNLOCK_H

#include <QString>
#include <QtGlobal>

// A lock held through a file for as long as this object lives, by one process at a
// time; the system releases it when the process ends, however it ends.
class RunLock
{
public:
    explicit RunLock(const QString &lockFilePath);
    ~RunLock();
    RunLock(const RunLock &) = delete;
    RunLock &operator=(const RunLock &) = delete;

    // True when this process now holds the lock; never waits for another holder (on
    // Windows it waits up to a second for a program that opened the file without sharing).
    bool tryLock();

private:
    QString path;
    qintptr handle;
};

#endif
