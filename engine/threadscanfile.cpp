#include "threadscanfile.h"

#include "platform.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMetaType>
#include <QSet>

namespace {

// canonicalPath is the real path of the folder at path; ancestors holds the real paths
// of the folders on the way down to it, itself included. A real sub-folder's real path
// is its parent's plus its name, so only links need the (slow) path resolution.
void listFolder(const QString &path, const QString &canonicalPath, QSet<QString> &ancestors,
                const std::function<bool()> &stopRequested, QList<QString> &files)
{
    const QString canonicalPrefix = canonicalPath.endsWith(QLatin1Char('/'))
        ? canonicalPath : canonicalPath + QLatin1Char('/');
    bool listed = true;
    const QVector<Platform::FolderEntry> entries = Platform::listFolder(path, &listed);
    // Named with a "/" at its end, so that the export counts and names it as unreadable.
    if (!listed)
        files.append(path + QLatin1Char('/'));
    for (const Platform::FolderEntry &entry : entries) {
        if (!entry.isDir) {
            files.append(entry.filePath);
            continue;
        }
        if (stopRequested && stopRequested())
            return;
        const QString canonical = entry.isSymLink ? Platform::canonicalPath(entry.filePath)
                                                  : canonicalPrefix + entry.filePath.mid(entry.nameStart);
        // A link back to a folder on the way down would loop forever.
        if (canonical.isEmpty() || ancestors.contains(canonical))
            continue;
        ancestors.insert(canonical);
        listFolder(entry.filePath, canonical, ancestors, stopRequested, files);
        ancestors.remove(canonical);
    }
}

bool isInstaller(const QString &filePath)
{
    const QString extension = filePath.right(4).toLower();
    return extension == QLatin1String(".exe") || extension == QLatin1String(".msi");
}

} // namespace

QList<QString> listFilesRecursive(const QString &path, const std::function<bool()> &stopRequested)
{
    const QString canonicalTop = Platform::canonicalPath(path);
    QSet<QString> ancestors{canonicalTop};
    QList<QString> files;
    listFolder(path, canonicalTop, ancestors, stopRequested, files);
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
    if (!path.isEmpty())
        path = Platform::absoluteCleanPath(path);
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

void ThreadScanFile::scanStopAll()
{
    {
        QMutexLocker locker(&mutex);
        pathQueue.clear();
        stopRequested = true;
    }
    qDebug() << "ThreadScanFile::scanStopAll=";
}

bool ThreadScanFile::isStopRequested()
{
    QMutexLocker locker(&mutex);
    return stopRequested;
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

        // A stop cuts the listing too: with links followed, a tree can be practically endless.
        const QList<QString> all = listFilesRecursive(path, [this] { return isStopRequested(); });
        const QString root = QDir(path).path();
        const int relativeStart = root.endsWith(QLatin1Char('/')) ? root.size() : root.size() + 1;
        QList<QString> fileName;
        QList<QString> file_fullName;
        for (const QString &f : all) {
            if (f.endsWith(QLatin1Char('/'))) {
                qDebug() << "ThreadScanFile::run=folder not listed" << f;
                file_fullName.append(f);
                continue;
            }
            if (!isInstaller(f))
                continue;
            const QString rel = f.mid(relativeStart);
            const int slash = rel.indexOf(QLatin1Char('/'));
            // Names are for showing; the paths keep the bytes the files are named with.
            if (slash < 0) {
                fileName.append(Platform::readableFileName(QFileInfo(f).fileName()));
            } else {
                const QString comp = Platform::readableFileName(rel.left(slash));
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
