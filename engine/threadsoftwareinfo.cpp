#include "threadsoftwareinfo.h"

#include "exportchecks.h"
#include "exportrecord.h"
#include "propertycache.h"
#include "readahead.h"
#include "readerlibrary.h"

#include "fileidentity.h"
#include "platform.h"
#include "runlock.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <optional>

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

struct ThreadSoftwareInfo::RunState
{
    // The inputs, as startExtract left them when the run began.
    QString srcPath;
    QString dstPath;
    QList<QString> fileList;
    int jobs = 1;
    CacheMode cacheMode = CacheOn;
    QString cachePath;
    bool hashes = false;
    std::function<qint64()> clock;

    // Held until the run ends: the other front end's export would share the temporary files.
    RunLock temporaryFilesLock{ExportRecord::temporaryFilesLockPath()};
    ReaderLibrary library;
    std::optional<PropertyCache> cache;
    bool cacheUsable = false;
    bool distrustNoted = false;
    // The files the loop asks about, in its order: each one's answer kept from an
    // earlier run (by its place in fileList), or else it is read ahead.
    QHash<int, PropertyCache::Entry> kept;
    QList<QString> toRead;

    // The source folder's path as its files' paths begin, "/" included.
    QString rootPrefix;
    // One row per green-software folder, until its first file takes it.
    QList<QString> folderRows;
    // The folder id of each file row that has one, in row order.
    QList<QString> parentIds;
    QString csvText;
    // The file rows as the folder's next export compares them.
    QList<PropertyCache::ExportRow> rows;
    ExportOutcome outcome;
};

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
        lastOutcome.copySucceeded = false;
        // A running export keeps its stop; start() below does not begin another one.
        if (!isRunning()) {
            stopRequested = false;
            lastOutcome = ExportOutcome();
        }
    }
    start(QThread::InheritPriority);
}

void ThreadSoftwareInfo::setJobs(int jobs)
{
    QMutexLocker locker(&mutex);
    this->jobs = qMax(1, jobs);
}

bool ThreadSoftwareInfo::isCopySucceeded()
{
    QMutexLocker locker(&mutex);
    return lastOutcome.copySucceeded;
}

ExportOutcome ThreadSoftwareInfo::outcome()
{
    QMutexLocker locker(&mutex);
    return lastOutcome;
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
    RunState state;
    takeInputs(state);
    qDebug() << "ThreadSoftwareInfo::run=srcPath:" << state.srcPath << " dstPath:" << state.dstPath;
    if (!checkBeforeReading(state))
        return;
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
    } running(this, &state.library);

    listFolderRows(state);
    planReads(state);
    if (!readFiles(state))
        return;
    appendFolderRows(state);
    if (state.cacheUsable)
        state.cache->finish();
    if (!writeWorkbook(state))
        return;
    compareWithLastExport(state);

    {
        QMutexLocker locker(&mutex);
        lastOutcome = state.outcome;
    }
    const int count = state.fileList.size() + 1;
    emit signal_softwareInfoProgress(count, count, QString(), QString(), QString(), QString(), QString(), QString(),
                                     QString(), QString());
    qDebug() << "ThreadSoftwareInfo::run=end";
}

void ThreadSoftwareInfo::takeInputs(RunState &state)
{
    QMutexLocker locker(&mutex);
    state.hashes = hashes;
    state.srcPath = srcPath;
    state.dstPath = dstPath;
    state.fileList = fileList;
    state.jobs = jobs;
    state.cacheMode = cacheMode;
    state.cachePath = cachePath;
    state.clock = clock;
    state.outcome.destination = dstPath;
}

// Everything that would otherwise fail only after every file was read, before the first is.
bool ThreadSoftwareInfo::checkBeforeReading(RunState &state)
{
    const ExportOutcome::Failure source = ExportChecks::source(state.srcPath);
    if (source.failed()) {
        qDebug() << "ThreadSoftwareInfo::run=dir not exists" << state.srcPath;
        endEarly(state, source);
        return false;
    }

    // Taken before the long part of the run, so that a refusal comes at once.
    const QString lockPath = ExportRecord::temporaryFilesLockPath();
    if (!state.temporaryFilesLock.tryLock()) {
        const QString dataFolder = QFileInfo(lockPath).path();
        // Without a lock file the folder takes no files at all, the temporary files neither.
        if (!QFileInfo::exists(lockPath) && !QFileInfo(lockPath).isSymLink()) {
            qDebug() << "ThreadSoftwareInfo::run=dir not exists" << dataFolder;
            endEarly(state, {ExportOutcome::TempFileNotWritable, dataFolder + QStringLiteral("/temp.csv")});
            return false;
        }
        if (!Platform::isOwnPlainFile(lockPath)) {
            qDebug() << "ThreadSoftwareInfo::run=lock not ours" << lockPath;
            endEarly(state, {ExportOutcome::TempFilesLockNotOurs, lockPath});
            return false;
        }
        qDebug() << "ThreadSoftwareInfo::run=temporary files in use" << dataFolder;
        endEarly(state, {ExportOutcome::TempFilesInUse, dataFolder});
        return false;
    }

    const ExportOutcome::Failure destination = ExportChecks::destination(state.dstPath);
    if (destination.failed()) {
        qDebug() << "ThreadSoftwareInfo::run=destination refused" << state.dstPath << destination.detail;
        endEarly(state, destination);
        return false;
    }

    state.library.setHashes(state.hashes);
    if (!state.library.load()) {
        endEarly(state, {ExportOutcome::ReaderNotLoadable, state.library.fileName()});
        return false;
    }
    const ExportOutcome::Failure converter = ExportChecks::converter();
    if (converter.failed()) {
        qDebug() << "ThreadSoftwareInfo::run=converter missing" << converter.path;
        endEarly(state, converter);
        return false;
    }
    return true;
}

void ThreadSoftwareInfo::endEarly(RunState &state, const ExportOutcome::Failure &failure)
{
    state.outcome.failure = failure;
    {
        QMutexLocker locker(&mutex);
        lastOutcome = state.outcome;
    }
    emit signal_extractFailed(failure.reason, failure.path);
}

void ThreadSoftwareInfo::listFolderRows(RunState &state)
{
    state.csvText = ExportRecord::headerLine();
    // Listed as the scanner lists, so a folder's path is the very string its files' paths begin with.
    for (const Platform::FolderEntry &entry : Platform::listFolder(state.srcPath)) {
        if (entry.isDir)
            state.folderRows.append(ExportRecord::folderRow(QFileInfo(entry.filePath)));
    }
    const QString root = QDir(state.srcPath).path();
    state.rootPrefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
}

void ThreadSoftwareInfo::noteDistrust(RunState &state, const FileIdentity &identity, const QString &path)
{
    if (!state.distrustNoted)
        qDebug() << "ThreadSoftwareInfo::run=cache not used for" << path << "and others like it:" << identity.distrust;
    state.distrustNoted = true;
}

// Which files the cache answers and which are read, before the first read begins.
void ThreadSoftwareInfo::planReads(RunState &state)
{
    state.cache.emplace(state.cachePath.isEmpty() ? PropertyCache::defaultPath() : state.cachePath);
    if (state.clock)
        state.cache->setClock(state.clock);
    state.cacheUsable = state.cacheMode != CacheOff && openCache(*state.cache, state.library);
    for (int i = 0; i < state.fileList.size(); ++i) {
        const QString &f = state.fileList.at(i);
        if (!isInstaller(f) || f.size() >= ReaderLibrary::maxPathUnits)
            continue;
        if (state.cacheUsable && state.cacheMode == CacheOn) {
            const FileIdentity identity = Platform::fileIdentity(f);
            PropertyCache::Entry entry;
            if (identity.valid && !identity.trustworthy)
                noteDistrust(state, identity, f);
            else if (state.cache->find(f, identity, entry, state.hashes)) {
                state.kept.insert(i, entry);
                continue;
            }
        }
        state.toRead.append(f);
    }
}

// The loop over the scan's files: one answer, one row and one progress record per installer.
bool ThreadSoftwareInfo::readFiles(RunState &state)
{
    const int n = state.fileList.size();
    // The reads run ahead while this thread waits for the window; each one's line is
    // written as it begins, so the log's last "fun start" names the file being read.
    ReadAhead reads(state.library, state.toRead, state.jobs,
                    [](const QString &f) { qDebug() << "ThreadSoftwareInfo::run=fun start" << f; });
    for (int i = 0; i < n; ++i) {
        // Checked between files too: a stop never cuts a progress record short.
        if (isStopRequested()) {
            qDebug() << "ThreadSoftwareInfo::run=stopped";
            return false;
        }
        const QString &f = state.fileList.at(i);
        if (isUnlistedFolder(f)) {
            qDebug() << "ThreadSoftwareInfo::run=folder not listed" << f;
            ++state.outcome.unreadable;
            state.outcome.files.append({f, ReaderLibrary::NotReadable, QStringLiteral("the folder cannot be listed"),
                                        false, -1, QString(), QString(), false});
            continue;
        }
        if (!isInstaller(f))
            continue;
        if (f.size() >= ReaderLibrary::maxPathUnits) {
            qDebug() << "ThreadSoftwareInfo::run=path too long" << f;
            ++state.outcome.tooLong;
            state.outcome.files.append({f, ExportOutcome::PathTooLong, QString(), false, -1, QString(), QString(), false});
            continue;
        }

        ReaderLibrary::Result result;
        if (!answerFor(state, reads, i, result))
            return false;
        const bool cached = state.kept.contains(i);
        state.outcome.cached += cached ? 1 : 0;
        state.outcome.files.append({f, result.status, result.reason, cached, result.installerKind, result.sha256,
                                    result.authenticodeSha256, false});
        // Such a file has no MD5 and no version strings: a row would only
        // blacklist an empty MD5, so it is left out and counted instead.
        if (ReaderLibrary::isUnreadable(result.status) || result.status == ReaderLibrary::Cancelled
            || result.status == ExportOutcome::Unstable) {
            ++state.outcome.unreadable;
            continue;
        }
        if (result.status == ReaderLibrary::SignatureNotTrusted)
            ++state.outcome.untrusted;
        qDebug() << "ThreadSoftwareInfo::run=fun tran" << f << result.values.qFileCustomMd5;

        SoftwareProperties quoted;
        const QString parentDir_md5 = addRow(state, f, result, quoted);
        emit signal_softwareInfoProgress(i + 1, n + 1, f, quoted.qStrDigitalSign, quoted.qProductName,
                                         quoted.qProcessName, quoted.qOriginalFileName, quoted.qFileCustomMd5,
                                         parentDir_md5, quoted.qFileDescription);
    }
    return true;
}

// False when a stop cut the library's call short.
bool ThreadSoftwareInfo::answerFor(RunState &state, ReadAhead &reads, int index, ReaderLibrary::Result &result)
{
    const QString &f = state.fileList.at(index);
    if (state.kept.contains(index)) {
        const PropertyCache::Entry entry = state.kept.value(index);
        result.values = entry.values;
        result.status = entry.status;
        result.reason = entry.reason;
        result.installerKind = entry.installerKind;
        result.sha256 = entry.sha256;
        result.authenticodeSha256 = entry.authenticodeSha256;
        qDebug() << "ThreadSoftwareInfo::run=fun cached" << f << result.status;
        return true;
    }
    result = reads.next();
    // A file being written gets one more read; its MD5 would be of a part of it.
    if (result.changedWhileRead && !isStopRequested()) {
        qDebug() << "ThreadSoftwareInfo::run=changed while read, again" << f;
        result = state.library.read(f);
    }
    qDebug() << "ThreadSoftwareInfo::run=fun over" << result.status;
    if (result.status == ReaderLibrary::Cancelled && isStopRequested()) {
        qDebug() << "ThreadSoftwareInfo::run=stopped";
        return false;
    }
    if (result.changedWhileRead) {
        result.status = ExportOutcome::Unstable;
        result.reason = QStringLiteral("changed while it was read, twice");
    } else if (state.cacheUsable && result.identity.valid) {
        // Kept under the identity of the very file read, and only where that identity holds.
        if (result.identity.trustworthy)
            state.cache->store(f, result.identity, {result.status, result.values, result.reason, result.validFrom,
                                                    result.validUntil, result.installerKind, result.sha256,
                                                    result.authenticodeSha256});
        else
            noteDistrust(state, result.identity, f);
    }
    return true;
}

// Adds the installer's row to the CSV and to the rows compared next time; returns the id
// of its green-software folder (empty for a file of the folder itself), and the quoted values.
QString ThreadSoftwareInfo::addRow(RunState &state, const QString &f, const ReaderLibrary::Result &result,
                                   SoftwareProperties &quoted)
{
    const SoftwareProperties &values = result.values;
    quoted.qStrDigitalSign = ExportRecord::quoteField(values.qStrDigitalSign);
    quoted.qProductName = ExportRecord::quoteField(values.qProductName);
    // The library names the process after the file, undecodable bytes and all.
    quoted.qProcessName = ExportRecord::quoteField(Platform::readableFileName(values.qProcessName));
    quoted.qOriginalFileName = ExportRecord::quoteField(values.qOriginalFileName);
    quoted.qFileCustomMd5 = ExportRecord::quoteField(values.qFileCustomMd5);
    quoted.qFileDescription = ExportRecord::quoteField(values.qFileDescription);
    state.outcome.files.last().md5Only =
        ExportRecord::blacklistColumn(quoted.qProductName, quoted.qOriginalFileName) == 23;
    // Kept relative to the folder, so that the folder named another way compares the same.
    const QString &rootPrefix = state.rootPrefix;
    state.rows.append({f.startsWith(rootPrefix) ? f.mid(rootPrefix.size()) : f, result.status,
                       {cellText(quoted.qStrDigitalSign), cellText(quoted.qProductName), cellText(quoted.qProcessName),
                        cellText(quoted.qOriginalFileName), cellText(quoted.qFileCustomMd5),
                        cellText(quoted.qFileDescription)}});
    ++state.outcome.installerRows;

    QString parentDir_md5;
    if (f.startsWith(rootPrefix)) {
        const QString rel = f.mid(rootPrefix.size());
        const int slash = rel.indexOf(QLatin1Char('/'));
        if (slash > 0) {
            parentDir_md5 = ExportRecord::folderId(rootPrefix + rel.left(slash));
            state.parentIds.append(parentDir_md5);
        }
    }

    const QString name = ExportRecord::cleanName(Platform::readableFileName(QFileInfo(f).fileName()));
    state.csvText += ExportRecord::fileRow(name, quoted, parentDir_md5);
    return parentDir_md5;
}

// The folder rows used, after all file rows, in the order of each folder's first file.
void ThreadSoftwareInfo::appendFolderRows(RunState &state)
{
    for (const QString &id : qAsConst(state.parentIds)) {
        for (int row = 0; row < state.folderRows.size(); ++row) {
            if (state.folderRows.at(row).contains(id)) {
                state.csvText += state.folderRows.takeAt(row);
                ++state.outcome.folderRows;
                break;
            }
        }
    }
}

bool ThreadSoftwareInfo::writeWorkbook(RunState &state)
{
    if (isStopRequested()) {
        qDebug() << "ThreadSoftwareInfo::run=stopped";
        return false;
    }
    QString tempFilePath;
    const ExportRecord::WorkbookOutcome written = ExportRecord::writeWorkbook(
        state.csvText, state.dstPath, [this] { return isStopRequested(); }, &tempFilePath);
    if (written == ExportRecord::WorkbookOutcome::Stopped) {
        qDebug() << "ThreadSoftwareInfo::run=stopped";
        return false;
    }
    if (written == ExportRecord::WorkbookOutcome::TempFileNotWritable) {
        endEarly(state, {ExportOutcome::TempFileNotWritable, tempFilePath});
        return false;
    }
    state.outcome.copySucceeded = written == ExportRecord::WorkbookOutcome::CopySucceeded;
    return true;
}

// Compared and kept only for a workbook that was written: the next export is compared with what was uploaded.
void ThreadSoftwareInfo::compareWithLastExport(RunState &state)
{
    if (!state.outcome.copySucceeded || !state.cacheUsable || !state.cache->isOpen())
        return;
    const QString folder = QDir::cleanPath(QFileInfo(state.srcPath).absoluteFilePath());
    QList<PropertyCache::ExportRow> lastRows;
    const bool hadExport = state.cache->lastExport(folder, lastRows);
    const bool compared = state.cache->isOpen() && state.cache->storeExport(folder, state.rows);
    QList<ExportChanges::Change> changes;
    if (hadExport)
        changes = ExportChanges::compare(lastRows, state.rows);
    for (ExportChanges::Change &change : changes)
        change.path = state.rootPrefix + change.path;
    state.outcome.changesCompared = compared;
    state.outcome.exportedBefore = compared && hadExport;
    state.outcome.changes = changes;
}
