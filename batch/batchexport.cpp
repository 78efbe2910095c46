#include "batchexport.h"

#include "platform.h"
#include "consoleinterrupt.h"
#include "exportchecks.h"
#include "progressreport.h"
#include "threadscanfile.h"
#include "threadsoftwareinfo.h"
#include "writetarget.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace {

// An interrupt ends the process within a second: what the workers have not finished
// by then is a library call still reading, which holds no file that needs cleaning.
const int interruptGraceMs = 800;

// The status column of the report, one word each.
QString statusWord(int status)
{
    switch (status) {
    case ReaderLibrary::Read:
        return QStringLiteral("read");
    case ReaderLibrary::SignatureNotTrusted:
        return QStringLiteral("untrusted");
    case ReaderLibrary::NotReadable:
        return QStringLiteral("unreadable");
    case ReaderLibrary::PathRefused:
        return QStringLiteral("path refused");
    case ReaderLibrary::Cancelled:
        return QStringLiteral("cancelled");
    case ExportOutcome::PathTooLong:
        return QStringLiteral("path too long");
    case ExportOutcome::Unstable:
        return QStringLiteral("unstable");
    default:
        return QStringLiteral("internal error");
    }
}

QString csvField(const QString &text)
{
    QString field = text;
    field.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

} // namespace

BatchExport::BatchExport(const QString &sourceFolder, const QString &destination, int jobs, ProgressReport *report,
                         QObject *parent)
    : QObject(parent),
      sourceFolder(sourceFolder),
      destination(destination),
      jobs(jobs),
      report(report),
      scanner(new ThreadScanFile(this)),
      worker(new ThreadSoftwareInfo(this))
{
    connect(scanner, &ThreadScanFile::signal_scanPath_finish, this,
            [this](QList<QString>, QList<QString> fileFullNames) { onScanFinished(fileFullNames); });
    connect(worker, &ThreadSoftwareInfo::signal_softwareInfoProgress, this,
            [this](int index, int count, QString path) { onProgress(index, count, path); });
    connect(worker, &ThreadSoftwareInfo::signal_extractFailed, this,
            [this](int reason, QString path) { onExtractFailed(reason, path); });
    connect(worker, &QThread::finished, this, &BatchExport::onWorkerFinished);
}

BatchExport::~BatchExport()
{
    worker->stopExtract();
    scanner->scanStop();
    worker->wait();
    scanner->wait();
}

void BatchExport::setCacheMode(int mode)
{
    cacheMode = mode;
    worker->setCache(ThreadSoftwareInfo::CacheMode(mode));
}

void BatchExport::setHashes(bool on)
{
    hashes = on;
    worker->setHashes(on);
}

void BatchExport::setChangesFile(const QString &path)
{
    changesFile = path;
}

void BatchExport::setReportFile(const QString &path)
{
    reportFile = path;
}

void BatchExport::start()
{
    clock.start();
    // Whoever may write the program folder may also have replaced its libraries; the user should know.
    const QString sharedFolder = Platform::sharedProgramFolderReason();
    if (!sharedFolder.isEmpty()) {
        qDebug() << "BatchExport::start=program folder" << QCoreApplication::applicationDirPath() << sharedFolder;
        report->message(QStringLiteral("注意：程序目录 %1 可被其他用户写入，日志和临时文件改存于 %2，且不使用其中的 trust 文件夹")
                            .arg(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()),
                                 QDir::toNativeSeparators(Platform::writableDataFolder())));
    }
    // Everything that would only fail after a long run is checked first.
    const ExportOutcome::Failure source = ExportChecks::source(sourceFolder);
    if (source.failed()) {
        fail(source.text());
        return;
    }
    if (!library.load()) {
        fail(ExportOutcome::failureText(ExportOutcome::ReaderNotLoadable, library.fileName()));
        return;
    }
    const ExportOutcome::Failure converter = ExportChecks::converter();
    if (converter.failed()) {
        fail(converter.text());
        return;
    }
    const ExportOutcome::Failure target = ExportChecks::destination(destination);
    if (target.failed()) {
        fail(target.text());
        return;
    }
    if (!checkReportFile())
        return;
    const QString dataFolder = Platform::writableDataFolder();
    if (!ExportChecks::canCreateFileIn(dataFolder)) {
        fail(ExportOutcome::failureText(ExportOutcome::TempFileNotWritable, dataFolder + QStringLiteral("/temp.csv")));
        return;
    }
    qDebug() << "BatchExport::start" << sourceFolder << destination << "jobs" << jobs;
    scanner->scanPath(sourceFolder);
}

bool BatchExport::checkReportFile()
{
    // Another user's link or file is never written, whatever else holds.
    if (!reportFile.isEmpty() && !Platform::writeRefusal(reportFile).isEmpty()) {
        fail(QStringLiteral("提取失败，报告文件是另一个用户的链接或文件，未写入：") + reportFile);
        return false;
    }
    if (!changesFile.isEmpty() && !Platform::writeRefusal(changesFile).isEmpty()) {
        fail(QStringLiteral("提取失败，变化列表文件是另一个用户的链接或文件，未写入：") + changesFile);
        return false;
    }
    if (!reportFile.isEmpty() && !checkOutputFile(reportFile)) {
        fail(QStringLiteral("提取失败，无法写入报告文件：") + reportFile);
        return false;
    }
    if (!changesFile.isEmpty() && !checkOutputFile(changesFile)) {
        fail(QStringLiteral("提取失败，无法写入变化列表文件：") + changesFile);
        return false;
    }
    return true;
}

bool BatchExport::checkOutputFile(const QString &path)
{
    const QFileInfo target(path);
    const QString folder = target.absolutePath();
    return !target.isDir() && QFileInfo(folder).isDir() && ExportChecks::canCreateFileIn(folder);
}

// One line per installer that gave no values or whose signer was withheld, with the
// library's reason, so that nobody has to search the log for them.
void BatchExport::listFilesWithoutValues(const ExportOutcome &outcome)
{
    for (const ExportOutcome::File &file : outcome.files) {
        if (file.status == ReaderLibrary::Read)
            continue;
        // Escaped, so that a name holding a line break or a tab cannot forge a line.
        report->summary(ExportOutcome::statusText(file.status) + QLatin1Char('\t')
                        + QDir::toNativeSeparators(Platform::escapedFileName(Platform::readableFileName(file.path)))
                        + QLatin1Char('\t') + file.reason);
    }
}

bool BatchExport::writeCsv(const QString &path, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    QString error;
    // Checked again as it is written: a link planted since the first check is replaced, not followed.
    if (Platform::saveFile(path, [&](QIODevice &file) { return file.write(bytes) == bytes.size(); }, &error))
        return true;
    qDebug() << "BatchExport::writeCsv" << path << error;
    return false;
}

bool BatchExport::writeReport(const ExportOutcome &outcome)
{
    if (reportFile.isEmpty())
        return true;
    QString text = QStringLiteral("path,status,reason,kind,note");
    text += hashes ? QStringLiteral(",sha256,authenticode_sha256\n") : QStringLiteral("\n");
    for (const ExportOutcome::File &file : outcome.files) {
        text += csvField(QDir::toNativeSeparators(Platform::escapedFileName(file.path))) + QLatin1Char(',')
            + statusWord(file.status) + QLatin1Char(',') + csvField(file.reason) + QLatin1Char(',')
            + ReaderLibrary::installerKindName(file.installerKind) + QLatin1Char(',')
            + (file.md5Only ? ExportOutcome::md5OnlyNote() : QString());
        if (hashes)
            text += QLatin1Char(',') + file.sha256 + QLatin1Char(',') + file.authenticodeSha256;
        text += QLatin1Char('\n');
    }
    if (!writeCsv(reportFile, text)) {
        fail(QStringLiteral("已写出导出文件，但无法写入报告文件：") + reportFile);
        return false;
    }
    return true;
}

// One line per row new, changed or gone, with the old and new value of each field that changed.
bool BatchExport::writeChanges(const ExportOutcome &outcome)
{
    if (changesFile.isEmpty())
        return true;
    if (!outcome.changesCompared) {
        report->message(QStringLiteral("未与上次导出比较，未写出变化列表：") + changesFile);
        return true;
    }
    const QStringList fields = ExportChanges::fieldNames();
    QString text = QStringLiteral("change,path,fields");
    for (const QString &field : fields)
        text += QLatin1Char(',') + field + QStringLiteral("_old,") + field + QStringLiteral("_new");
    text += QLatin1Char('\n');
    for (const ExportChanges::Change &change : outcome.changes) {
        const QString kind = change.kind == ExportChanges::Added ? QStringLiteral("added")
            : change.kind == ExportChanges::Removed              ? QStringLiteral("removed")
                                                                 : QStringLiteral("changed");
        text += kind + QLatin1Char(',') + csvField(QDir::toNativeSeparators(Platform::escapedFileName(change.path)))
            + QLatin1Char(',') + csvField(change.fields.join(QLatin1Char(' ')));
        for (const QString &field : fields) {
            const bool listed = change.fields.contains(field);
            text += QLatin1Char(',') + (listed ? csvField(ExportChanges::fieldValue(change.before, field)) : QString())
                + QLatin1Char(',') + (listed ? csvField(ExportChanges::fieldValue(change.after, field)) : QString());
        }
        text += QLatin1Char('\n');
    }
    if (!writeCsv(changesFile, text)) {
        fail(QStringLiteral("已写出导出文件，但无法写入变化列表文件：") + changesFile);
        return false;
    }
    return true;
}

QString BatchExport::changesSummary(const ExportOutcome &outcome)
{
    if (!outcome.changesCompared)
        return cacheMode == ThreadSoftwareInfo::CacheOff ? QStringLiteral("；未与上次导出比较（--no-cache）")
                                                         : QStringLiteral("；未与上次导出比较（缓存不可用）");
    if (!outcome.exportedBefore)
        return QString();
    return QStringLiteral("；与上次导出相比新增 %1 行，变化 %2 行，删除 %3 行")
        .arg(outcome.changeCount(ExportChanges::Added))
        .arg(outcome.changeCount(ExportChanges::Changed))
        .arg(outcome.changeCount(ExportChanges::Removed));
}

void BatchExport::onScanFinished(const QList<QString> &fileFullNames)
{
    if (signalNumber != 0 || done)
        return;
    files = fileFullNames;
    report->extractionStarted(files.size(), files.value(0));
    worker->setJobs(jobs);
    worker->startExtract(sourceFolder, destination, files);
}

void BatchExport::onProgress(int index, int count, const QString &path)
{
    if (done)
        return;
    if (index < count) {
        report->fileDone(index, path, QFileInfo(path).size(), files.value(index));
        if (index == files.size())
            report->writingWorkbook();
        return;
    }
    finalRecordSeen = true;
    if (signalNumber != 0)
        return;
    const ExportOutcome outcome = worker->outcome();
    if (!outcome.copySucceeded) {
        fail(ExportOutcome::workbookFailureLine(destination));
        return;
    }
    QString line = QStringLiteral("已写出 %1：安装包 %2 个，文件夹 %3 个")
                       .arg(destination)
                       .arg(outcome.installerRows)
                       .arg(outcome.folderRows);
    line += QStringLiteral("，签名不受信任 %1 个，无法读取 %2 个").arg(outcome.untrusted).arg(outcome.unreadable);
    line += QStringLiteral("，路径过长未提取 %1 个，取自缓存 %2 个，用时 %3 秒")
                .arg(outcome.tooLong)
                .arg(outcome.cached)
                .arg(clock.elapsed() / 1000.0, 0, 'f', 1);
    line += changesSummary(outcome);
    listFilesWithoutValues(outcome);
    report->summary(line);
    if (!writeReport(outcome) || !writeChanges(outcome))
        return;
    finish(0);
}

void BatchExport::onExtractFailed(int reason, const QString &path)
{
    if (signalNumber != 0)
        return;
    fail(ExportOutcome::failureText(reason, path));
}

void BatchExport::onWorkerFinished()
{
    if (signalNumber != 0) {
        finish(1);
        return;
    }
    // A worker that ends without a final record and without a reason has failed all the same.
    if (!done && !finalRecordSeen)
        fail(QStringLiteral("提取失败：导出意外中止"));
}

void BatchExport::interrupt(int signal)
{
    if (signalNumber != 0 || done)
        return;
    signalNumber = signal;
    qDebug() << "BatchExport::interrupt" << signal;
    scanner->scanStop();
    worker->stopExtract();
    library.cancel();
    report->message(QStringLiteral("已中断，导出文件未改动"));
    if (!scanner->isRunning() && !worker->isRunning()) {
        finish(1);
        return;
    }
    connect(scanner, &QThread::finished, this, [this] {
        if (!worker->isRunning())
            finish(1);
    });
    QTimer::singleShot(interruptGraceMs, this, [this] {
        if (done)
            return;
        // The worker has not started the workbook (it looks at the stop first), so
        // nothing is on disk to clean up; a library call still reading is simply left.
        qDebug() << "BatchExport::interrupt=workers still running, ending now";
        ConsoleInterrupt::endProcess(signalNumber);
    });
}

void BatchExport::fail(const QString &message)
{
    if (done)
        return;
    qDebug() << "BatchExport::fail" << message;
    report->message(message);
    finish(1);
}

void BatchExport::finish(int exitCode)
{
    if (done)
        return;
    done = true;
    emit ended(exitCode);
}
