#include "exportrecord.h"

#include "childprocess.h"
#include "platform.h"
#include "writetarget.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
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

// Little-endian fields of the ZIP format (APPNOTE), read only inside data.
quint32 zipField(const QByteArray &data, qint64 at, int bytes)
{
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(data.at(int(at + i)));
    return value;
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
    QString error;
    const bool committed = Platform::saveFile(dstPath, [&](QIODevice &destination) {
        while (!workbook.atEnd()) {
            const QByteArray chunk = workbook.read(copyChunkBytes);
            if (chunk.isEmpty() || destination.write(chunk) != chunk.size())
                return false;
        }
        return workbook.error() == QFileDevice::NoError && !stopRequested();
    }, &error);
    if (!committed)
        qDebug() << "ThreadSoftwareInfo::run=destination" << error;
    return committed;
}

// Runs the converter on csvPath; true when it ran to its end and reported success.
bool runConverter(const QString &csvPath, const std::function<bool()> &stopRequested)
{
    const QString converter = converterPath();
    ChildProcess process;
    process.startTied(converter, {csvPath});
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

QString converterPath()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + Platform::converterFileName();
}

QString temporaryFilesLockPath()
{
    return Platform::writableDataFolder() + QStringLiteral("/.pelbrook-export.lock");
}

bool isWorkbook(const QString &path)
{
    // A workbook is small next to this; a bigger file is not the converter's.
    const qint64 limit = qint64(1) << 30;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 22 || file.size() > limit)
        return false;
    const QByteArray data = file.readAll();
    if (data.size() != file.size())
        return false;
    // The end-of-central-directory record: its signature within the last 64 KiB + 22
    // bytes (the longest comment), its directory inside the file before it.
    qint64 end = -1;
    for (qint64 at = data.size() - 22; at >= 0 && at >= data.size() - 22 - 0xFFFF; --at) {
        if (zipField(data, at, 4) == 0x06054b50 && at + 22 + zipField(data, at + 20, 2) == data.size()) {
            end = at;
            break;
        }
    }
    if (end < 0)
        return false;
    const quint32 entries = zipField(data, end + 10, 2);
    const qint64 directorySize = zipField(data, end + 12, 4);
    qint64 at = zipField(data, end + 16, 4);
    if (at + directorySize > end)
        return false;
    bool hasSheet = false;
    bool hasContentTypes = false;
    for (quint32 i = 0; i < entries; ++i) {
        // Each central entry: signature, then names and the offset of its local header.
        if (at + 46 > end || zipField(data, at, 4) != 0x02014b50)
            return false;
        const qint64 nameLength = zipField(data, at + 28, 2);
        const qint64 extraLength = zipField(data, at + 30, 2);
        const qint64 commentLength = zipField(data, at + 32, 2);
        const qint64 compressedSize = zipField(data, at + 20, 4);
        const qint64 local = zipField(data, at + 42, 4);
        if (at + 46 + nameLength + extraLength + commentLength > end)
            return false;
        const QByteArray name = data.mid(int(at + 46), int(nameLength));
        if (local + 30 > end || zipField(data, local, 4) != 0x04034b50)
            return false;
        const qint64 dataStart = local + 30 + zipField(data, local + 26, 2) + zipField(data, local + 28, 2);
        if (dataStart + compressedSize > end)
            return false;
        hasSheet = hasSheet || name == "xl/worksheets/sheet1.xml";
        hasContentTypes = hasContentTypes || name == "[Content_Types].xml";
        at += 46 + nameLength + extraLength + commentLength;
    }
    return hasSheet && hasContentTypes;
}

WorkbookOutcome writeWorkbook(const QString &csvText, const QString &dstPath,
                              const std::function<bool()> &stopRequested, QString *tempFilePath)
{
    const QString dataFolder = Platform::writableDataFolder();
    *tempFilePath = dataFolder + QStringLiteral("/temp.csv");
    // Left by a run that was killed; the caller holds the lock, so no run uses them now.
    const QFileInfoList leftovers = QDir(dataFolder).entryInfoList({QStringLiteral("export-*")},
                                                                   QDir::Dirs | QDir::NoSymLinks | QDir::Hidden);
    for (const QFileInfo &leftover : leftovers)
        QDir(leftover.filePath()).removeRecursively();
    // A folder of this run's own: a converter left running by a killed run, or another
    // export, never writes into this run's files.
    QTemporaryDir runFolder(dataFolder + QStringLiteral("/export-XXXXXX"));
    if (!runFolder.isValid()) {
        qDebug() << "ThreadSoftwareInfo::run=dir not exists" << runFolder.errorString();
        return WorkbookOutcome::TempFileNotWritable;
    }
    const QString csvPath = runFolder.filePath(QStringLiteral("temp.csv"));
    const QString workbookPath = csvPath + QStringLiteral(".xlsx");
    *tempFilePath = csvPath;

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
        return WorkbookOutcome::TempFileNotWritable;
    }

    const bool converted = runConverter(csvPath, stopRequested);
    qDebug() << "ThreadSoftwareInfo::tran finish";
    if (stopRequested())
        return WorkbookOutcome::Stopped;

    const bool valid = converted && isWorkbook(workbookPath);
    if (converted && !valid)
        qDebug() << "ThreadSoftwareInfo::run=not a workbook" << workbookPath;
    const bool ok = valid && replaceDestination(workbookPath, dstPath, stopRequested);
    qDebug() << "ThreadSoftwareInfo::run=Copy:" << ok << dstPath;
    if (!ok && stopRequested())
        return WorkbookOutcome::Stopped;
    return ok ? WorkbookOutcome::CopySucceeded : WorkbookOutcome::CopyFailed;
}

} // namespace ExportRecord
