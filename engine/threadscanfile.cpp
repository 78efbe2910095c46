#include "threadscanfile.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMetaType>
#include <QSet>

namespace {

bool isInsideFolder(const QString &canonicalPath, const QString &canonicalFolder)
{
    const QString folderPrefix = canonicalFolder.endsWith(QLatin1Char('/'))
        ? canonicalFolder : canonicalFolder + QLatin1Char('/');
    return canonicalPath == canonicalFolder || canonicalPath.startsWith(folderPrefix);
}

void listFolder(const QString &path, const QString &canonicalTop, QSet<QString> &listedFolders,
                QList<QString> &files)
{
    const QFileInfoList entries = QDir(path).entryInfoList();
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        if (!entry.isDir()) {
            files.append(entry.filePath());
            continue;
        }
        const QString canonical = entry.canonicalFilePath();
        // A link into the scanned tree would list a folder twice or loop forever.
        if (entry.isSymLink() && isInsideFolder(canonical, canonicalTop))
            continue;
        if (canonical.isEmpty() || listedFolders.contains(canonical))
            continue;
        listedFolders.insert(canonical);
        listFolder(entry.filePath(), canonicalTop, listedFolders, files);
    }
}

bool isInstaller(const QString &filePath)
{
    const QString extension = filePath.right(4).toLower();
    return extension == QLatin1String(".exe") || extension == QLatin1String(".msi");
}

} // namespace

QList<QString> listFilesRecursive(const QString &path)
{
    const QString canonicalTop = QFileInfo(path).canonicalFilePath();
    QSet<QString> listedFolders{canonicalTop};
    QList<QString> files;
    listFolder(path, canonicalTop, listedFolders, files);
    return files;
}

ThreadScanFile::ThreadScanFile(QObject *parent)
    : QThread(parent)
{
    qRegisterMetaType<QList<QString>>("QList<QString>");
}

ThreadScanFile::~ThreadScanFile() = default;

void ThreadScanFile::scanPath(QString path)
{
    {
        QMutexLocker locker(&mutex);
        pathQueue.append(path);
        // Decided under the queue lock: a loop that has already found the queue empty
        // will not see this path, so the thread is started again once it has returned.
        if (!passLoopActive) {
            passLoopActive = true;
            wait();
            start(QThread::InheritPriority);
        }
    }
    qDebug() << "ThreadScanFile::scanPath=" << path;
}

void ThreadScanFile::scanStop()
{
    {
        QMutexLocker locker(&mutex);
        stopRequested = true;
    }
    qDebug() << "ThreadScanFile::scanStop=";
}

void ThreadScanFile::run()
{
    qDebug() << "ThreadScanFile::run=start";
    forever {
        QString path;
        {
            QMutexLocker locker(&mutex);
            if (!pathQueue.isEmpty())
                path = pathQueue.takeFirst();
            // A stop belongs to the pass it was aimed at, never to the next one.
            stopRequested = false;
            if (path.isEmpty())
                passLoopActive = false;
        }
        qDebug() << "ThreadScanFile::done=path:" << path;
        if (path.isEmpty())
            break;

        const QList<QString> all = listFilesRecursive(path);
        const QString root = QDir(path).path();
        const int relativeStart = root.endsWith(QLatin1Char('/')) ? root.size() : root.size() + 1;
        QList<QString> fileName;
        QList<QString> file_fullName;
        for (const QString &f : all) {
            if (!isInstaller(f))
                continue;
            const QString rel = f.mid(relativeStart);
            const int slash = rel.indexOf(QLatin1Char('/'));
            if (slash < 0) {
                fileName.append(QFileInfo(f).fileName());
            } else {
                const QString comp = rel.left(slash);
                if (!fileName.contains(comp))
                    fileName.append(comp);
            }
            file_fullName.append(f);

            bool stop;
            {
                QMutexLocker locker(&mutex);
                stop = stopRequested;
                stopRequested = false;
            }
            if (stop) {
                qDebug() << "ThreadScanFile::run=stop";
                break;
            }
        }
        emit signal_scanPath_finish(fileName, file_fullName);
    }
    qDebug() << "ThreadScanFile::run=end";
}
