#ifndef THREADSCANFILE_H
#define THREADSCANFILE_H

#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

#include <functional>

// All file paths below a folder, in the folder's default listing order. Links to
// folders are followed, so a folder reached by two links is listed under both; only
// a link to the folder itself or one of its ancestors on the way down is cut, which
// ends every cycle. stopRequested, when given, is asked before each sub-folder is
// listed; once it returns true the listing ends with what it has. A folder that cannot
// be listed is given as its path with a "/" appended.
QList<QString> listFilesRecursive(const QString &path, const std::function<bool()> &stopRequested = {});

class ThreadScanFile : public QThread
{
    Q_OBJECT
public:
    explicit ThreadScanFile(QObject *parent = nullptr);
    ~ThreadScanFile() override;

    void scanPath(QString path);
    void scanStop();
    // Ends the pass in progress, even in the middle of its listing, and drops the
    // queued paths, so that the thread ends soon. For shut-down.
    void scanStopAll();

signals:
    // file_fullName also holds each folder that could not be listed, as its path and a "/".
    void signal_scanPath_finish(QList<QString> fileName, QList<QString> file_fullName);

protected:
    void run() override;

private:
    bool isStopRequested();

    QMutex mutex;
    QList<QString> pathQueue;
    bool stopRequested = false;
    // True from the start of the thread until its loop has found the queue empty.
    bool passLoopActive = false;
};

#endif
