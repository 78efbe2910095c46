#include "producemain.h"

#include "framemain.h"
#include "platform.h"
#include "exportoutcome.h"
#include "readerlibrary.h"
#include "threadscanfile.h"
#include "threadsoftwareinfo.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QDir>
#include <QEventLoop>

namespace {

// How long a close waits for the workers; what still runs then is left to the system.
const qint64 stopWorkersBoundMs = 1500;

QString fieldLabel(const QString &field)
{
    if (field == QLatin1String("signature"))
        return QStringLiteral("厂商数字签名");
    if (field == QLatin1String("product"))
        return QStringLiteral("产品名称");
    if (field == QLatin1String("process"))
        return QStringLiteral("进程名");
    if (field == QLatin1String("original"))
        return QStringLiteral("原始文件名");
    if (field == QLatin1String("md5"))
        return QStringLiteral("文件MD5");
    if (field == QLatin1String("description"))
        return QStringLiteral("文件描述");
    return QStringLiteral("签名信任");
}

QString fieldText(const PropertyCache::ExportRow &row, const QString &field)
{
    const QString value = ExportChanges::fieldValue(row, field);
    if (field != QLatin1String("trust"))
        return value;
    return value == QLatin1String("trusted") ? QStringLiteral("受信任")
        : value == QLatin1String("untrusted") ? QStringLiteral("不受信任")
                                               : QStringLiteral("无签名");
}

// "field: old → new" for each field that changed; the values of an added or removed row.
QString changeText(const ExportChanges::Change &change)
{
    QStringList parts;
    for (const QString &field : change.fields) {
        if (change.kind == ExportChanges::Changed)
            parts.append(fieldLabel(field) + QStringLiteral("：") + fieldText(change.before, field)
                         + QStringLiteral(" → ") + fieldText(change.after, field));
        else
            parts.append(fieldLabel(field) + QStringLiteral("：")
                         + fieldText(change.kind == ExportChanges::Added ? change.after : change.before, field));
    }
    return parts.join(QStringLiteral("；"));
}

} // namespace

ProduceMain::ProduceMain(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<QList<QString>>("QList<QString>");

    threadSoftwareInfo = new ThreadSoftwareInfo(this);
    connect(threadSoftwareInfo,
            SIGNAL(signal_softwareInfoProgress(int,int,QString,QString,QString,QString,QString,QString,QString,QString)),
            this, SLOT(on_pelbrook(int,int,QString,QString,QString,QString,QString,QString,QString,QString)),
            Qt::BlockingQueuedConnection);
    connect(threadSoftwareInfo, SIGNAL(signal_extractFailed(int,QString)), this, SLOT(on_extractFailed(int,QString)),
            Qt::BlockingQueuedConnection);

    threadScanFile = new ThreadScanFile(this);
    connect(threadScanFile, SIGNAL(signal_scanPath_finish(QList<QString>,QList<QString>)),
            this, SLOT(on_scanPath_finish(QList<QString>,QList<QString>)), Qt::BlockingQueuedConnection);

    mainWindow = new FrameMain(nullptr);
    connect(mainWindow, SIGNAL(signal_export_software(QString,QString)),
            this, SLOT(on_export_software(QString,QString)));
    connect(mainWindow, SIGNAL(signal_scanPath(QString)), this, SLOT(on_scanPath(QString)));
}

ProduceMain::~ProduceMain() = default;

void ProduceMain::showMainWindow()
{
    mainWindow->show();
}

void ProduceMain::showMessage(QString msg, int type, bool isChooseMode, QString btnOkMsg)
{
    mainWindow->on_showMsg(isChooseMode, msg, type, btnOkMsg, QStringLiteral("取消"), nullptr);
}

bool ProduceMain::stopWorkers()
{
    closing = true;
    threadScanFile->scanStopAll();
    threadSoftwareInfo->stopExtract();
    QElapsedTimer waited;
    waited.start();
    // A worker may be blocked in an emission to this thread, so events keep flowing
    // until both have ended.
    while (threadScanFile->isRunning() || threadSoftwareInfo->isRunning()) {
        // A library call that cannot be cancelled, or a read stuck on a dead mount,
        // would otherwise keep the process, and with it the guard, for good.
        if (waited.hasExpired(stopWorkersBoundMs)) {
            qDebug() << "ProduceMain::stopWorkers=left running"
                     << (threadSoftwareInfo->isRunning() ? "ThreadSoftwareInfo" : "ThreadScanFile");
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (threadSoftwareInfo->isRunning()) {
            // Again each turn: a library call that began just after the first request
            // would not see it. Logged only once.
            threadSoftwareInfo->stopExtract();
            threadSoftwareInfo->wait(10);
        } else {
            threadScanFile->wait(10);
        }
    }
    return true;
}

void ProduceMain::on_scanPath(QString path)
{
    if (threadScanFile->isRunning())
        threadScanFile->scanStop();
    threadScanFile->scanPath(path);
}

void ProduceMain::on_scanPath_finish(QList<QString> fileName, QList<QString> file_fullName)
{
    if (closing)
        return;
    fileFullNames.clear();
    fileFullNames.append(file_fullName);
    mainWindow->showSoftwareList(fileName);
}

void ProduceMain::on_export_software(QString srcPath, QString dstFileName)
{
    threadSoftwareInfo->startExtract(srcPath, dstFileName, fileFullNames);
}

void ProduceMain::on_pelbrook(int index, int count, QString srcPath, QString qStrDigitalSign, QString qProductName,
                              QString qProcessName, QString qOriginalFileName, QString qFileCustomMd5,
                              QString parentDir_md5, QString qFileDescription)
{
    qDebug() << "ProduceMain::on_pelbrook=" << index << count << srcPath << qStrDigitalSign << qProductName
             << qProcessName << qOriginalFileName << qFileCustomMd5 << parentDir_md5 << qFileDescription;
    if (closing)
        return;
    mainWindow->showExtractProgress(index, count);
    if (index != count)
        return;

    const ExportOutcome outcome = threadSoftwareInfo->outcome();
    if (outcome.copySucceeded) {
        mainWindow->extractFinished();
        QString msg = QStringLiteral("提取完毕");
        // Files left out of the workbook first, then files whose row lacks a value.
        if (outcome.tooLong > 0)
            msg += QStringLiteral("\r\n有%1个文件路径过长，未能提取。").arg(outcome.tooLong);
        if (outcome.unreadable > 0)
            msg += QStringLiteral("\r\n有%1个文件无法读取，未能提取。").arg(outcome.unreadable);
        if (outcome.untrusted > 0)
            msg += QStringLiteral("\r\n有%1个文件的数字签名不受信任，未填写厂商数字签名。").arg(outcome.untrusted);
        if (outcome.exportedBefore)
            msg += QStringLiteral("\r\n与上次导出相比：新增%1行，变化%2行，删除%3行。")
                       .arg(outcome.changeCount(ExportChanges::Added))
                       .arg(outcome.changeCount(ExportChanges::Changed))
                       .arg(outcome.changeCount(ExportChanges::Removed));
        const QList<QStringList> rows = detailRows(outcome);
        // The list is offered only when there is something in it; the message is otherwise the same.
        if (rows.isEmpty()) {
            showMessage(msg, 1, false, QStringLiteral("关闭"));
        } else if (mainWindow->askMsg(msg, 1, QStringLiteral("关闭"), QStringLiteral("查看详情")) == 1) {
            mainWindow->showFileList(QStringLiteral("文件详情"),
                                     {QStringLiteral("文件"), QStringLiteral("情况"), QStringLiteral("说明")}, rows);
        }
    } else {
        showMessage(ExportOutcome::workbookFailureMessage(outcome.destination), 2, false, QStringLiteral("关闭"));
    }
}

QList<QStringList> ProduceMain::detailRows(const ExportOutcome &outcome)
{
    QList<QStringList> rows;
    QList<QStringList> notes;
    for (const ExportOutcome::File &file : outcome.files) {
        const QString path = QDir::toNativeSeparators(Platform::readableFileName(file.path));
        if (file.md5Only)
            notes.append({path, QStringLiteral("仅按MD5匹配"), ExportOutcome::md5OnlyNote()});
        if (file.status == ReaderLibrary::Read)
            continue;
        if (file.status == ExportOutcome::PathTooLong)
            rows.append({path, ExportOutcome::statusText(file.status),
                         QStringLiteral("路径达到%1个字符，超出读取组件的限制").arg(file.path.size())});
        else
            rows.append({path, ExportOutcome::statusText(file.status), file.reason});
    }
    rows += notes;
    for (const ExportChanges::Change &change : outcome.changes) {
        const QString kind = change.kind == ExportChanges::Added ? QStringLiteral("新增")
            : change.kind == ExportChanges::Removed              ? QStringLiteral("删除")
                                                                 : QStringLiteral("变化");
        rows.append({QDir::toNativeSeparators(Platform::readableFileName(change.path)), kind, changeText(change)});
    }
    return rows;
}

void ProduceMain::on_extractFailed(int reason, QString path)
{
    qDebug() << "ProduceMain::on_extractFailed=" << reason << path;
    if (closing)
        return;
    showMessage(ExportOutcome::failureText(reason, path), 2, false, QStringLiteral("关闭"));
    mainWindow->extractStopped();
}
