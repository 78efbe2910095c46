#ifndef THREADSCANFILE_H
#define THREADSCANFILE_H

#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

// All file paths below a folder, in the folder's default listing order. Links to
// folders are followed, but every real folder is listed at most once, so a link
// cycle ends; a link to a folder elsewhere in the tree is left to the real one.
QList<QString> listFilesRecursive(const QString &path);

class ThreadScanFile : public QThread
{
    Q_OBJECT
public:
    explicit ThreadScanFile(QObject *parent = nullptr);
    ~ThreadScanFile() override;

    void scanPath(QString path);
    void scanStop();

signals:
    void signal_scanPath_finish(QList<QString> fileName, QList<QString> file_fullName);

protected:
    void run() override;

private:
    QMutex mutex;
    QList<QString> pathQueue;
    bool stopRequested = false;
    // True from the start of the thread until its loop has found the queue empty.
    bool passLoopActive = false;
};

#endif
