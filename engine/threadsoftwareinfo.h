#ifndef THREADSOFTWAREINFO_H
#define THREADSOFTWAREINFO_H

#include "exportoutcome.h"
#include "readerlibrary.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

#include <functional>

class ReadAhead;

// One export run: asks the property-reader library about every installer of the
// scan, reports each as a progress record and writes the workbook at the destination.
class ThreadSoftwareInfo : public QThread
{
    Q_OBJECT
public:
    // Whether a run takes unchanged files' answers from the cache of earlier runs.
    enum CacheMode {
        CacheOff,     // reads every file and leaves the cache alone
        CacheOn,      // the default of both front ends
        CacheRebuild, // reads every file and keeps the new answers
    };

    explicit ThreadSoftwareInfo(QObject *parent = nullptr);
    ~ThreadSoftwareInfo() override;

    // A stop asked of an earlier run no longer applies once a new run starts.
    void startExtract(QString srcPath, QString dstPath, QList<QString> fileList);
    // Library calls of the next run that may overlap (1, the wizard's, unless set);
    // records and rows stay in scan order whatever the number.
    void setJobs(int jobs);
    bool isCopySucceeded();
    // What the last run came to; read it after the final progress record or a failure.
    ExportOutcome outcome();
    // For the next run: how to use the cache, and its file (PropertyCache::defaultPath() unless given).
    void setCache(CacheMode mode, const QString &databasePath = QString());
    // For the next run: also the SHA-256 hashes of every installer (ExportOutcome::File).
    void setHashes(bool on);
    // Seconds since 1970 for the cache; the system clock unless set.
    void setClock(std::function<qint64()> clock);
    // Ends a running export without touching the destination: a library call in
    // progress is cut short where the library allows it. Safe to repeat.
    void stopExtract();

signals:
    void signal_softwareInfoProgress(int index, int count, QString srcPath, QString qStrDigitalSign,
                                     QString qProductName, QString qProcessName, QString qOriginalFileName,
                                     QString qFileCustomMd5, QString parentDir_md5, QString qFileDescription);
    // The run ended early, for reason (an ExportOutcome::Reason); path names what was missing or unwritable.
    void signal_extractFailed(int reason, QString path);

protected:
    void run() override;

private:
    // One run's inputs and all it builds up, on the worker thread, for the run only.
    struct RunState;

    bool isStopRequested();
    // The steps of run(), in their order. A step that returns false has ended the run.
    void takeInputs(RunState &state);
    bool checkBeforeReading(RunState &state);
    void listFolderRows(RunState &state);
    void planReads(RunState &state);
    bool readFiles(RunState &state);
    void appendFolderRows(RunState &state);
    bool writeWorkbook(RunState &state);
    void compareWithLastExport(RunState &state);
    void endEarly(RunState &state, const ExportOutcome::Failure &failure);
    // Within the loop of readFiles: one installer's answer, from the cache or the library.
    bool answerFor(RunState &state, ReadAhead &reads, int index, ReaderLibrary::Result &result);
    QString addRow(RunState &state, const QString &path, const ReaderLibrary::Result &result,
                   SoftwareProperties &quoted);
    void noteDistrust(RunState &state, const FileIdentity &identity, const QString &path);

    QMutex mutex;
    QString srcPath;
    QString dstPath;
    QList<QString> fileList;
    bool stopRequested = false;
    int jobs = 1;
    CacheMode cacheMode = CacheOn;
    QString cachePath;
    bool hashes = false;
    ExportOutcome lastOutcome;
    std::function<qint64()> clock;
    // The library of the run in progress, for stopExtract to cancel its calls.
    const ReaderLibrary *runningLibrary = nullptr;
};

#endif
