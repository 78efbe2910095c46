#include "threadscanfile.h"

QList<QString> listFilesRecursive(const QString &path)
{
    Q_UNUSED(path);
    return {};
}

ThreadScanFile::ThreadScanFile(QObject *parent)
    : QThread(parent)
{
}

ThreadScanFile::~ThreadScanFile() = default;

void ThreadScanFile::scanPath(QString path)
{
    QMutexLocker locker(&mutex);
    pathQueue.append(path);
}

void ThreadScanFile::scanStop()
{
    QMutexLocker locker(&mutex);
    stopRequested = true;
}

void ThreadScanFile::run()
{
}
