#include "threadsoftwareinfo.h"

ThreadSoftwareInfo::ThreadSoftwareInfo(QObject *parent)
    : QThread(parent)
{
}

ThreadSoftwareInfo::~ThreadSoftwareInfo() = default;

void ThreadSoftwareInfo::startExtract(QString srcPath, QString dstPath, QList<QString> fileList)
{
    {
        QMutexLocker locker(&mutex);
        this->srcPath = srcPath;
        this->dstPath = dstPath;
        this->fileList = fileList;
        copySucceeded = false;
    }
    start(QThread::InheritPriority);
}

bool ThreadSoftwareInfo::isCopySucceeded()
{
    QMutexLocker locker(&mutex);
    return copySucceeded;
}

void ThreadSoftwareInfo::run()
{
}
