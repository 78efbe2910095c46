#ifndef BATCHEXPORT_H
#define BATCHEXPORT_H

#include "readerlibrary.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

class ExportOutcome;
class ProgressReport;
class ThreadScanFile;
class ThreadSoftwareInfo;

// One export without the window: the wizard's scanner lists the source folder, its
// worker reads every installer through the library and writes the workbook through
// the converter. This class only checks what can be checked up front, relays the
// progress and decides the exit code.
class BatchExport : public QObject
{
    Q_OBJECT
public:
    BatchExport(const QString &sourceFolder, const QString &destination, int jobs, ProgressReport *report,
                QObject *parent = nullptr);
    ~BatchExport() override;

    // How the run uses the cache of earlier runs (the wizard's way unless set).
    void setCacheMode(int mode);
    // Where every installer's outcome is written as CSV after the workbook; none unless set.
    void setReportFile(const QString &path);
    // The report also gives every installer's SHA-256 hashes.
    void setHashes(bool on);
    // Where the rows new, changed or gone since the folder's last export are written as CSV; none unless set.
    void setChangesFile(const QString &path);

    // Starts the run; ended() follows, also for a run that fails at once.
    void start();
    // Stops the run for the signal. The destination and the temporary files are left
    // as they were before the run; ended() follows once the workers have stopped, or
    // the process ends outright if a library call does not return in time.
    void interrupt(int signalNumber);
    // The signal that interrupted the run, 0 if none did.
    int interruptSignal() const { return signalNumber; }

signals:
    // 0: the workbook was written; 1: the export failed.
    void ended(int exitCode);

private:
    void fail(const QString &message);
    void finish(int exitCode);
    bool checkReportFile();
    bool checkOutputFile(const QString &path);
    void listFilesWithoutValues(const ExportOutcome &outcome);
    bool writeReport(const ExportOutcome &outcome);
    bool writeChanges(const ExportOutcome &outcome);
    bool writeCsv(const QString &path, const QString &text);
    QString changesSummary(const ExportOutcome &outcome);
    void onScanFinished(const QList<QString> &fileFullNames);
    void onProgress(int index, int count, const QString &path);
    void onExtractFailed(int reason, const QString &path);
    void onWorkerFinished();

    QString sourceFolder;
    QString destination;
    QString reportFile;
    QString changesFile;
    bool hashes = false;
    int cacheMode = -1;
    int jobs;
    ProgressReport *report;
    ThreadScanFile *scanner;
    ThreadSoftwareInfo *worker;
    // Loaded up front to report a missing library at once; also the way to cut a
    // running call short on an interrupt, which reaches every call of the process.
    ReaderLibrary library;
    QList<QString> files;
    int signalNumber = 0;
    bool done = false;
    bool finalRecordSeen = false;
    QElapsedTimer clock;
};

#endif
