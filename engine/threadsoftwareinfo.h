#ifndef THREADSOFTWAREINFO_H
#define THREADSOFTWAREINFO_H

#include "exportchanges.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

#include <functional>

class ReaderLibrary;

// One export run: asks the property-reader library about every installer of the
// scan, reports each as a progress record and writes the workbook at the destination.
class ThreadSoftwareInfo : public QThread
{
    Q_OBJECT
public:
    // Why a run ended before its final progress record (signal_extractFailed).
    enum FailReason {
        SourceFolderMissing = 1,
        ReaderNotLoadable = 2,
        TempFileNotWritable = 3,
        // Another export (the other front end) is using the temporary files.
        TempFilesInUse = 4,
        // The lock of the temporary files is not this user's plain file: planted, not another export's.
        TempFilesLockNotOurs = 5,
        // The destination is another user's link or file (path); nothing was written.
        DestinationRefused = 6,
    };

    // Whether a run takes unchanged files' answers from the cache of earlier runs.
    enum CacheMode {
        CacheOff,     // reads every file and leaves the cache alone
        CacheOn,      // the default of both front ends
        CacheRebuild, // reads every file and keeps the new answers
    };

    // What became of one installer of the last run.
    struct FileOutcome
    {
        QString path;
        int status; // the library's status (ReaderLibrary::Status), or PathTooLong
        QString reason;
        bool cached; // the answer came from the cache
        // The installer's kind as the library numbers it, -1 when not known.
        int installerKind = -1;
        // Only when the run asked for them (setHashes).
        QString sha256;
        QString authenticodeSha256;
        // Its row has neither product name nor original file name: the console can
        // match it by its MD5 alone, which the next version of the file changes.
        bool md5Only = false;
    };
    static const int PathTooLong = -1;
    // Its size or times changed during each of two reads: no row, counted as unreadable.
    static const int Unstable = -2;
    // What a row with FileOutcome::md5Only means for the console's rule.
    static QString md5OnlyNote();

    explicit ThreadSoftwareInfo(QObject *parent = nullptr);
    ~ThreadSoftwareInfo() override;

    // A stop asked of an earlier run no longer applies once a new run starts.
    void startExtract(QString srcPath, QString dstPath, QList<QString> fileList);
    // Library calls of the next run that may overlap (1, the wizard's, unless set);
    // records and rows stay in scan order whatever the number.
    void setJobs(int jobs);
    bool isCopySucceeded();
    // Installers of the last run left out because their path does not fit the library's buffer.
    int tooLongPathCount();
    // Installers of the last run the library could not read, those that changed while
    // read and folders that could not be listed; they get no row.
    int unreadableCount();
    // Installers of the last run whose signature is not trusted; their signer is left empty.
    int untrustedSignatureCount();
    // Every installer of the last run, in scan order, with its outcome.
    QList<FileOutcome> fileOutcomes();
    // For the next run: how to use the cache, and its file (PropertyCache::defaultPath() unless given).
    void setCache(CacheMode mode, const QString &databasePath = QString());
    // For the next run: also the SHA-256 hashes of every installer (FileOutcome).
    void setHashes(bool on);
    // Whether the last run compared its rows with the folder's last export: only with
    // the cache, after a written workbook.
    bool changesCompared();
    // Whether the folder had been exported before, when the rows were compared.
    bool exportedBefore();
    // The last run's rows that are new, changed or gone since the folder's last export.
    QList<ExportChanges::Change> rowChanges();
    // Seconds since 1970 for the cache; the system clock unless set.
    void setClock(std::function<qint64()> clock);
    // Ends a running export without touching the destination: a library call in
    // progress is cut short where the library allows it. Safe to repeat.
    void stopExtract();

signals:
    void signal_softwareInfoProgress(int index, int count, QString srcPath, QString qStrDigitalSign,
                                     QString qProductName, QString qProcessName, QString qOriginalFileName,
                                     QString qFileCustomMd5, QString parentDir_md5, QString qFileDescription);
    // The run ended early, for reason (a FailReason); path names what was missing or unwritable.
    void signal_extractFailed(int reason, QString path);

protected:
    void run() override;

private:
    bool isStopRequested();

    QMutex mutex;
    QString srcPath;
    QString dstPath;
    QList<QString> fileList;
    bool copySucceeded = false;
    int skippedPaths = 0;
    int unreadable = 0;
    int untrusted = 0;
    bool stopRequested = false;
    int jobs = 1;
    QList<FileOutcome> outcomes;
    CacheMode cacheMode = CacheOn;
    QString cachePath;
    bool hashes = false;
    bool compared = false;
    bool hadExport = false;
    QList<ExportChanges::Change> changes;
    std::function<qint64()> clock;
    // The library of the run in progress, for stopExtract to cancel its calls.
    const ReaderLibrary *runningLibrary = nullptr;
};

#endif
