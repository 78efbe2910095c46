#ifndef THREADSCANFILE_H
#define THREADSCANFILE_H

#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

// All file paths below a folder, in the folder's default listing order.
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
};

#endif
