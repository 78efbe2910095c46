#include "exportrecord.h"

#include "platform.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>

namespace ExportRecord {

namespace {

const QString yes = QStringLiteral("是");
const QString no = QStringLiteral("否");
const QString lineEnd = QStringLiteral("\r\n");

// Slice of the converter wait after which a stop request is looked at again.
const int converterPollMs = 200;
const qint64 copyChunkBytes = 64 * 1024;

bool isKeptInName(QChar c)
{
    const ushort unit = c.unicode();
    return unit == '_' || unit == '-' || unit == '@' || unit == '.' || (unit >= '0' && unit <= '9')
        || (unit >= 'A' && unit <= 'Z') || (unit >= 'a' && unit <= 'z') || (unit >= 0x4E00 && unit <= 0x9FA5)
        || (unit > 0x7F && c.category() == QChar::Number_DecimalDigit);
}

// Copies the converted workbook over the destination in one commit, so a failure at
// any point leaves the old destination as it was.
bool replaceDestination(const QString &workbookPath, const QString &dstPath,
                        const std::function<bool()> &stopRequested)
{
    QFile workbook(workbookPath);
    if (!workbook.open(QIODevice::ReadOnly)) {
        qDebug() << "ThreadSoftwareInfo::run=no workbook" << workbook.errorString();
        return false;
    }
    QSaveFile destination(dstPath);
    if (!destination.open(QIODevice::WriteOnly)) {
        qDebug() << "ThreadSoftwareInfo::run=destination" << destination.errorString();
        return false;
    }
    while (!workbook.atEnd()) {
        const QByteArray chunk = workbook.read(copyChunkBytes);
        if (chunk.isEmpty() || destination.write(chunk) != chunk.size()) {
            destination.cancelWriting();
            break;
        }
    }
    if (workbook.error() != QFileDevice::NoError || stopRequested())
        destination.cancelWriting();
    const bool committed = destination.commit();
    if (!committed)
        qDebug() << "ThreadSoftwareInfo::run=destination" << destination.errorString();
    return committed;
}

// Runs the converter on csvPath; true when it ran to its end and reported success.
bool runConverter(const QString &csvPath, const std::function<bool()> &stopRequested)
{
    const QString converter = QCoreApplication::applicationDirPath() + QLatin1Char('/') + Platform::converterFileName();
    QProcess process;
    process.start(converter, {csvPath});
    // Ends however the converter ends: finished, crashed, killed on stop or never started.
    while (process.state() != QProcess::NotRunning) {
        if (process.waitForFinished(converterPollMs))
            break;
        if (stopRequested()) {
            process.kill();
            process.waitForFinished(-1);
        }
    }
    // Every wait slice that runs out sets Timedout as the last error, so only a failed
    // start counts among the errors; a crash or a kill shows in the exit status.
    const bool ok = process.error() != QProcess::FailedToStart && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    if (!ok)
        qDebug() << "ThreadSoftwareInfo::tran failed" << converter << process.errorString() << process.exitCode()
                 << process.readAllStandardError();
    return ok;
}

} // namespace

QString headerLine()
{
    static const QStringList headers = {
        QStringLiteral("软件分组名称（非必填）"),
        QStringLiteral("软件分组类型（非必填）"),
        QStringLiteral("软件分组描述(非必填）"),
        QStringLiteral("软件名称（必填）"),
        QStringLiteral("软件描述(非必填）"),
        QStringLiteral("厂商数字签名(非必填)"),
        QStringLiteral("厂商数字签名标志(必填)"),
        QStringLiteral("产品名称(非必填)"),
        QStringLiteral("产品名称标志(必填)"),
        QStringLiteral("进程名(非必填)"),
        QStringLiteral("进程名标志(必填)"),
        QStringLiteral("原始文件名(非必填)"),
        QStringLiteral("原始文件名标志(必填)"),
        QStringLiteral("文件特征码MD5(非必填)"),
        QStringLiteral("文件特征码MD5标志(必填)"),
        QStringLiteral("是否为文件夹(必填)"),
        QStringLiteral("所在文件夹标识(非必填，绿色软件时需填写)"),
        QStringLiteral("文件夹标识(非必填，绿色软件时需填写)"),
        QStringLiteral("黑名单厂商数字签名标志(必填)"),
        QStringLiteral("黑名单产品名称标志(必填)"),
        QStringLiteral("黑名单进程名标志(必填)"),
        QStringLiteral("黑名单原始文件名标志(必填)"),
        QStringLiteral("黑名单文件特征码MD5标志(必填)"),
    };
    return headers.join(QLatin1Char(',')) + lineEnd;
}

QString cleanName(const QString &text)
{
    QString rest = text.trimmed();
    int start = 0;
    while (start < rest.size() && rest.at(start) == QLatin1Char('_'))
        ++start;
    rest = rest.mid(start);

    QString name;
    name.reserve(rest.size());
    for (const QChar c : qAsConst(rest)) {
        if (c == QLatin1Char(' '))
            name.append(QLatin1Char('_'));
        else if (isKeptInName(c))
            name.append(c);
    }
    return name;
}

QString quoteField(const QString &value)
{
    QString field = value;
    field.remove(QLatin1Char('?'));
    field.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

QString folderId(const QString &folderPath)
{
    // The bytes the folder is named with: UTF-8 for every name that is UTF-8, and
    // distinct for names that differ only in bytes that are not.
    return QString::fromLatin1(
        QCryptographicHash::hash(Platform::encodeFileName(folderPath), QCryptographicHash::Md5).toHex());
}

int blacklistColumn(const QString &quotedProductName, const QString &quotedOriginalFileName)
{
    const QLatin1String empty("\"\"");
    if (quotedProductName != empty)
        return 20;
    if (quotedOriginalFileName != empty)
        return 22;
    return 23;
}

QString fileRow(const QString &name, const SoftwareProperties &quoted, const QString &parentId)
{
    const int flagged = blacklistColumn(quoted.qProductName, quoted.qOriginalFileName);
    const QString comma = QStringLiteral(",");
    return QStringLiteral(",,,") + name + comma + quoted.qFileDescription + comma + quoted.qStrDigitalSign + comma + no
        + comma + quoted.qProductName + comma + no + comma + quoted.qProcessName + comma + no + comma
        + quoted.qOriginalFileName + comma + no + comma + quoted.qFileCustomMd5 + comma + yes + comma + no + comma
        + parentId + comma + comma + no + comma + (flagged == 20 ? yes : no) + comma + no + comma
        + (flagged == 22 ? yes : no) + comma + (flagged == 23 ? yes : no) + lineEnd;
}

QString folderRow(const QFileInfo &folder)
{
    return QStringLiteral(",,,") + cleanName(Platform::readableFileName(QDir(folder.filePath()).dirName()))
        + QStringLiteral(",,,,,,,,,,,,") + yes
        + QStringLiteral(",,") + folderId(folder.filePath()) + lineEnd;
}

QString temporaryFilesLockPath()
{
    return Platform::writableDataFolder() + QStringLiteral("/.pelbrook-export.lock");
}

WorkbookOutcome writeWorkbook(const QString &csvText, const QString &dstPath,
                              const std::function<bool()> &stopRequested, QString *tempFilePath)
{
    const QString csvPath = Platform::writableDataFolder() + QStringLiteral("/temp.csv");
    const QString workbookPath = csvPath + QStringLiteral(".xlsx");
    *tempFilePath = csvPath;
    // The converter's partial workbook, left behind only when it is killed on a stop.
    const QString partialPath = workbookPath + QStringLiteral(".part");
    const auto removeTemporaries = [&] {
        QFile::remove(csvPath);
        QFile::remove(workbookPath);
        QFile::remove(partialPath);
    };
    // A workbook left over from an earlier run must never pass for this run's.
    QFile::remove(workbookPath);

    QFile csv(csvPath);
    if (!csv.open(QIODevice::WriteOnly)) {
        qDebug() << "ThreadSoftwareInfo::run=dir not exists" << csv.errorString();
        return WorkbookOutcome::TempFileNotWritable;
    }
    QTextStream stream(&csv);
    stream.setCodec("UTF-8");
    stream << csvText;
    stream.flush();
    csv.close();
    if (stream.status() != QTextStream::Ok || csv.error() != QFileDevice::NoError) {
        qDebug() << "ThreadSoftwareInfo::run=temp file not written" << csv.errorString();
        removeTemporaries();
        return WorkbookOutcome::TempFileNotWritable;
    }

    const bool converted = runConverter(csvPath, stopRequested);
    qDebug() << "ThreadSoftwareInfo::tran finish";
    if (stopRequested()) {
        removeTemporaries();
        return WorkbookOutcome::Stopped;
    }

    const bool ok = converted && replaceDestination(workbookPath, dstPath, stopRequested);
    qDebug() << "ThreadSoftwareInfo::run=Copy:" << ok << dstPath;
    removeTemporaries();
    if (!ok && stopRequested())
        return WorkbookOutcome::Stopped;
    return ok ? WorkbookOutcome::CopySucceeded : WorkbookOutcome::CopyFailed;
}

} // namespace ExportRecord
