#include "threadsoftwareinfo.h"

#include "exportrecord.h"
#include "propertycache.h"
#include "readahead.h"
#include "readerlibrary.h"

#include "fileidentity.h"
#include "platform.h"
#include "runlock.h"
#include "writetarget.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {

// The scanner's mark for a folder it could not list.
bool isUnlistedFolder(const QString &filePath)
{
    return filePath.endsWith(QLatin1Char('/'));
}

bool isInstaller(const QString &filePath)
{
    const QString extension = filePath.right(4).toLower();
    return extension == QLatin1String(".exe") || extension == QLatin1String(".msi");
}

// Opens the cache for the answers of this library, or says once in the log why it cannot.
bool openCache(PropertyCache &cache, const ReaderLibrary &library)
{
    const QString anchors = library.anchorsFingerprint();
    if (anchors.isEmpty()) {
        qDebug() << "ThreadSoftwareInfo::run=cache not used: the library does not fingerprint its trust anchors";
        return false;
    }
    return cache.open({library.buildId(), anchors});
}

// A quoted field as the workbook's cell holds it.
QString cellText(const QString &quoted)
{
    return quoted.mid(1, quoted.size() - 2).replace(QLatin1String("\"\""), QLatin1String("\""));
}

} // namespace

ThreadSoftwareInfo::ThreadSoftwareInfo(QObject *parent)
    : QThread(parent)
{
}

ThreadSoftwareInfo::~ThreadSoftwareInfo() = default;

void ThreadSoftwareInfo::startExtract(QString srcPath, QString dstPath, QList<QString> fileList)
{
    {
        QMutexLocker locker(&mutex);
        // As the scanner takes it, so that a folder's path begins its files' paths.
        this->srcPath = srcPath.isEmpty() ? srcPath : Platform::absoluteCleanPath(srcPath);
        this->dstPath = dstPath;
        this->fileList = fileList;
        copySucceeded = false;
        // A running export keeps its stop; start() below does not begin another one.
        if (!isRunning()) {
            stopRequested = false;
            compared = false;
            hadExport = false;
            changes.clear();
        }
    }
    start(QThread::InheritPriority);
}

QString ThreadSoftwareInfo::md5OnlyNote()
{
    return QStringLiteral("仅能按文件MD5匹配，软件更新后规则将失效");
}

void ThreadSoftwareInfo::setJobs(int jobs)
{
    QMutexLocker locker(&mutex);
    this->jobs = qMax(1, jobs);
}

bool ThreadSoftwareInfo::isCopySucceeded()
{
    QMutexLocker locker(&mutex);
    return copySucceeded;
}

int ThreadSoftwareInfo::tooLongPathCount()
{
    QMutexLocker locker(&mutex);
    return skippedPaths;
}

int ThreadSoftwareInfo::unreadableCount()
{
    QMutexLocker locker(&mutex);
    return unreadable;
}

int ThreadSoftwareInfo::untrustedSignatureCount()
{
    QMutexLocker locker(&mutex);
    return untrusted;
}

QList<ThreadSoftwareInfo::FileOutcome> ThreadSoftwareInfo::fileOutcomes()
{
    QMutexLocker locker(&mutex);
    return outcomes;
}

void ThreadSoftwareInfo::setCache(CacheMode mode, const QString &databasePath)
{
    QMutexLocker locker(&mutex);
    cacheMode = mode;
    cachePath = databasePath;
}

void ThreadSoftwareInfo::setHashes(bool on)
{
    QMutexLocker locker(&mutex);
    hashes = on;
}

bool ThreadSoftwareInfo::changesCompared()
{
    QMutexLocker locker(&mutex);
    return compared;
}

bool ThreadSoftwareInfo::exportedBefore()
{
    QMutexLocker locker(&mutex);
    return hadExport;
}

QList<ExportChanges::Change> ThreadSoftwareInfo::rowChanges()
{
    QMutexLocker locker(&mutex);
    return changes;
}

void ThreadSoftwareInfo::setClock(std::function<qint64()> clock)
{
    QMutexLocker locker(&mutex);
    this->clock = std::move(clock);
}

void ThreadSoftwareInfo::stopExtract()
{
    QMutexLocker locker(&mutex);
    if (!stopRequested)
        qDebug() << "ThreadSoftwareInfo::stopExtract=";
    stopRequested = true;
    // Under the lock, so the run cannot drop its library meanwhile.
    if (runningLibrary)
        runningLibrary->cancel();
}

bool ThreadSoftwareInfo::isStopRequested()
{
    QMutexLocker locker(&mutex);
    return stopRequested;
}

void ThreadSoftwareInfo::run()
{
    qDebug() << "ThreadSoftwareInfo::run=start";
    QString srcPath;
    QString dstPath;
    QList<QString> fileList;
    int jobs;
    CacheMode cacheMode;
    QString cachePath;
    bool hashes;
    std::function<qint64()> clock;
    {
        QMutexLocker locker(&mutex);
        hashes = this->hashes;
        srcPath = this->srcPath;
        dstPath = this->dstPath;
        fileList = this->fileList;
        jobs = this->jobs;
        cacheMode = this->cacheMode;
        cachePath = this->cachePath;
        clock = this->clock;
    }
    qDebug() << "ThreadSoftwareInfo::run=srcPath:" << srcPath << " dstPath:" << dstPath;

    if (!QDir(srcPath).exists()) {
        qDebug() << "ThreadSoftwareInfo::run=dir not exists" << srcPath;
        emit signal_extractFailed(SourceFolderMissing, srcPath);
        return;
    }

    // Taken before the long part of the run, so that a refusal comes at once.
    const QString lockPath = ExportRecord::temporaryFilesLockPath();
    RunLock temporaryFilesLock(lockPath);
    if (!temporaryFilesLock.tryLock()) {
        const QString dataFolder = QFileInfo(lockPath).path();
        // Without a lock file the folder takes no files at all, the temporary files neither.
        if (!QFileInfo::exists(lockPath) && !QFileInfo(lockPath).isSymLink()) {
            qDebug() << "ThreadSoftwareInfo::run=dir not exists" << dataFolder;
            emit signal_extractFailed(TempFileNotWritable, dataFolder + QStringLiteral("/temp.csv"));
            return;
        }
        if (!Platform::isOwnPlainFile(lockPath)) {
            qDebug() << "ThreadSoftwareInfo::run=lock not ours" << lockPath;
            emit signal_extractFailed(TempFilesLockNotOurs, lockPath);
            return;
        }
        qDebug() << "ThreadSoftwareInfo::run=temporary files in use" << dataFolder;
        emit signal_extractFailed(TempFilesInUse, dataFolder);
        return;
    }

    const QString refusal = Platform::writeRefusal(dstPath);
    if (!refusal.isEmpty()) {
        qDebug() << "ThreadSoftwareInfo::run=destination refused" << dstPath << refusal;
        emit signal_extractFailed(DestinationRefused, dstPath);
        return;
    }

    ReaderLibrary library;
    library.setHashes(hashes);
    if (!library.load()) {
        emit signal_extractFailed(ReaderNotLoadable, library.fileName());
        return;
    }
    struct RunningLibrary
    {
        ThreadSoftwareInfo *worker;
        RunningLibrary(ThreadSoftwareInfo *worker, const ReaderLibrary *library)
            : worker(worker)
        {
            QMutexLocker locker(&worker->mutex);
            worker->runningLibrary = library;
        }
        ~RunningLibrary()
        {
            QMutexLocker locker(&worker->mutex);
            worker->runningLibrary = nullptr;
        }
    } running(this, &library);

    QString csvText = ExportRecord::headerLine();

    // Listed as the scanner lists, so a folder's path is the very string its files' paths begin with.
    QList<QString> folderRows;
    for (const Platform::FolderEntry &entry : Platform::listFolder(srcPath)) {
        if (entry.isDir)
            folderRows.append(ExportRecord::folderRow(QFileInfo(entry.filePath)));
    }

    const int n = fileList.size();
    const QString root = QDir(srcPath).path();
    const QString rootPrefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    QList<QString> parentIds;
    int tooLong = 0;
    int unreadableFiles = 0;
    int untrustedFiles = 0;
    // The files the loop below asks about, in its order: each one's answer kept from an
    // earlier run, or else its identity before it is read, and the rest read ahead.
    PropertyCache cache(cachePath.isEmpty() ? PropertyCache::defaultPath() : cachePath);
    if (clock)
        cache.setClock(clock);
    const bool cacheUsable = cacheMode != CacheOff && openCache(cache, library);
    QList<QString> toRead;
    QHash<int, PropertyCache::Entry> kept;
    bool distrustNoted = false;
    const auto noteDistrust = [&](const FileIdentity &identity, const QString &path) {
        if (!distrustNoted)
            qDebug() << "ThreadSoftwareInfo::run=cache not used for" << path << "and others like it:"
                     << identity.distrust;
        distrustNoted = true;
    };
    for (int i = 0; i < n; ++i) {
        const QString &f = fileList.at(i);
        if (!isInstaller(f) || f.size() >= ReaderLibrary::maxPathUnits)
            continue;
        if (cacheUsable && cacheMode == CacheOn) {
            const FileIdentity identity = Platform::fileIdentity(f);
            PropertyCache::Entry entry;
            if (identity.valid && !identity.trustworthy)
                noteDistrust(identity, f);
            else if (cache.find(f, identity, entry, hashes)) {
                kept.insert(i, entry);
                continue;
            }
        }
        toRead.append(f);
    }
    QList<FileOutcome> runOutcomes;
    QList<PropertyCache::ExportRow> rows;
    ReadAhead reads(library, toRead, jobs);
    // Whether the next file's call was begun before the window took the last record.
    bool readBegun = false;
    for (int i = 0; i < n; ++i) {
        // Checked between files too: a stop never cuts a progress record short.
        if (isStopRequested()) {
            qDebug() << "ThreadSoftwareInfo::run=stopped";
            return;
        }
        const QString &f = fileList.at(i);
        if (isUnlistedFolder(f)) {
            qDebug() << "ThreadSoftwareInfo::run=folder not listed" << f;
            ++unreadableFiles;
            runOutcomes.append({f, ReaderLibrary::NotReadable, QStringLiteral("the folder cannot be listed"), false, -1,
                                QString(), QString(), false});
            continue;
        }
        if (!isInstaller(f))
            continue;
        if (f.size() >= ReaderLibrary::maxPathUnits) {
            qDebug() << "ThreadSoftwareInfo::run=path too long" << f;
            ++tooLong;
            runOutcomes.append({f, PathTooLong, QString(), false, -1, QString(), QString(), false});
            continue;
        }

        ReaderLibrary::Result result;
        const bool cached = kept.contains(i);
        if (cached) {
            const PropertyCache::Entry entry = kept.value(i);
            result.values = entry.values;
            result.status = entry.status;
            result.reason = entry.reason;
            result.installerKind = entry.installerKind;
            result.sha256 = entry.sha256;
            result.authenticodeSha256 = entry.authenticodeSha256;
            qDebug() << "ThreadSoftwareInfo::run=fun cached" << f << result.status;
        } else {
            if (!readBegun)
                qDebug() << "ThreadSoftwareInfo::run=fun start" << f;
            readBegun = false;
            result = reads.next();
            // A file being written gets one more read; its MD5 would be of a part of it.
            if (result.changedWhileRead && !isStopRequested()) {
                qDebug() << "ThreadSoftwareInfo::run=changed while read, again" << f;
                result = library.read(f);
            }
            qDebug() << "ThreadSoftwareInfo::run=fun over" << result.status;
            if (result.status == ReaderLibrary::Cancelled && isStopRequested()) {
                qDebug() << "ThreadSoftwareInfo::run=stopped";
                return;
            }
            if (result.changedWhileRead) {
                result.status = Unstable;
                result.reason = QStringLiteral("changed while it was read, twice");
            } else if (cacheUsable && result.identity.valid) {
                // Kept under the identity of the very file read, and only where that identity holds.
                if (result.identity.trustworthy)
                    cache.store(f, result.identity, {result.status, result.values, result.reason, result.validFrom,
                                                     result.validUntil, result.installerKind, result.sha256,
                                                     result.authenticodeSha256});
                else
                    noteDistrust(result.identity, f);
            }
        }
        runOutcomes.append({f, result.status, result.reason, cached, result.installerKind, result.sha256,
                            result.authenticodeSha256, false});
        // Such a file has no MD5 and no version strings: a row would only
        // blacklist an empty MD5, so it is left out and counted instead.
        if (ReaderLibrary::isUnreadable(result.status) || result.status == ReaderLibrary::Cancelled
            || result.status == Unstable) {
            ++unreadableFiles;
            continue;
        }
        if (result.status == ReaderLibrary::SignatureNotTrusted)
            ++untrustedFiles;
        const SoftwareProperties &values = result.values;
        qDebug() << "ThreadSoftwareInfo::run=fun tran" << f << values.qFileCustomMd5;

        SoftwareProperties quoted;
        quoted.qStrDigitalSign = ExportRecord::quoteField(values.qStrDigitalSign);
        quoted.qProductName = ExportRecord::quoteField(values.qProductName);
        // The library names the process after the file, undecodable bytes and all.
        quoted.qProcessName = ExportRecord::quoteField(Platform::readableFileName(values.qProcessName));
        quoted.qOriginalFileName = ExportRecord::quoteField(values.qOriginalFileName);
        quoted.qFileCustomMd5 = ExportRecord::quoteField(values.qFileCustomMd5);
        quoted.qFileDescription = ExportRecord::quoteField(values.qFileDescription);
        runOutcomes.last().md5Only = ExportRecord::blacklistColumn(quoted.qProductName, quoted.qOriginalFileName) == 23;
        // Kept relative to the folder, so that the folder named another way compares the same.
        rows.append({f.startsWith(rootPrefix) ? f.mid(rootPrefix.size()) : f, result.status,
                     {cellText(quoted.qStrDigitalSign), cellText(quoted.qProductName), cellText(quoted.qProcessName),
                      cellText(quoted.qOriginalFileName), cellText(quoted.qFileCustomMd5),
                      cellText(quoted.qFileDescription)}});

        QString parentDir_md5;
        if (f.startsWith(rootPrefix)) {
            const QString rel = f.mid(rootPrefix.size());
            const int slash = rel.indexOf(QLatin1Char('/'));
            if (slash > 0) {
                parentDir_md5 = ExportRecord::folderId(rootPrefix + rel.left(slash));
                parentIds.append(parentDir_md5);
            }
        }

        const QString name = ExportRecord::cleanName(Platform::readableFileName(QFileInfo(f).fileName()));
        csvText += ExportRecord::fileRow(name, quoted, parentDir_md5);
        // The next file's call runs while the window takes this record; its line comes first,
        // so that the log's last "fun start" still names the file a crashing call was reading.
        const QString ahead = isStopRequested() ? QString() : reads.upcoming();
        if (!ahead.isEmpty()) {
            qDebug() << "ThreadSoftwareInfo::run=fun start" << ahead;
            reads.startNext();
            readBegun = true;
        }
        emit signal_softwareInfoProgress(i + 1, n + 1, f, quoted.qStrDigitalSign, quoted.qProductName,
                                         quoted.qProcessName, quoted.qOriginalFileName, quoted.qFileCustomMd5,
                                         parentDir_md5, quoted.qFileDescription);
    }

    for (const QString &id : qAsConst(parentIds)) {
        for (int row = 0; row < folderRows.size(); ++row) {
            if (folderRows.at(row).contains(id)) {
                csvText += folderRows.takeAt(row);
                break;
            }
        }
    }

    if (cacheUsable)
        cache.finish();

    if (isStopRequested()) {
        qDebug() << "ThreadSoftwareInfo::run=stopped";
        return;
    }
    QString tempFilePath;
    const ExportRecord::WorkbookOutcome outcome =
        ExportRecord::writeWorkbook(csvText, dstPath, [this] { return isStopRequested(); }, &tempFilePath);
    if (outcome == ExportRecord::WorkbookOutcome::Stopped) {
        qDebug() << "ThreadSoftwareInfo::run=stopped";
        return;
    }
    if (outcome == ExportRecord::WorkbookOutcome::TempFileNotWritable) {
        emit signal_extractFailed(TempFileNotWritable, tempFilePath);
        return;
    }

    // Compared and kept only for a workbook that was written: the next export is compared with what was uploaded.
    QList<ExportChanges::Change> runChanges;
    bool runCompared = false;
    bool runHadExport = false;
    if (outcome == ExportRecord::WorkbookOutcome::CopySucceeded && cacheUsable && cache.isOpen()) {
        const QString folder = QDir::cleanPath(QFileInfo(srcPath).absoluteFilePath());
        QList<PropertyCache::ExportRow> lastRows;
        runHadExport = cache.lastExport(folder, lastRows);
        runCompared = cache.isOpen() && cache.storeExport(folder, rows);
        if (runHadExport)
            runChanges = ExportChanges::compare(lastRows, rows);
        for (ExportChanges::Change &change : runChanges)
            change.path = rootPrefix + change.path;
    }

    {
        QMutexLocker locker(&mutex);
        compared = runCompared;
        hadExport = runCompared && runHadExport;
        changes = runChanges;
        copySucceeded = outcome == ExportRecord::WorkbookOutcome::CopySucceeded;
        skippedPaths = tooLong;
        unreadable = unreadableFiles;
        untrusted = untrustedFiles;
        outcomes = runOutcomes;
    }
    emit signal_softwareInfoProgress(n + 1, n + 1, QString(), QString(), QString(), QString(), QString(), QString(),
                                     QString(), QString());
    qDebug() << "ThreadSoftwareInfo::run=end";
}
