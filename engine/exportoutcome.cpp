#include "exportoutcome.h"

#include "readerlibrary.h"

#include <QFileInfo>

int ExportOutcome::changeCount(ExportChanges::Kind kind) const
{
    int count = 0;
    for (const ExportChanges::Change &change : changes)
        count += change.kind == kind ? 1 : 0;
    return count;
}

QString ExportOutcome::failureText(int reason, const QString &path)
{
    switch (reason) {
    case SourceFolderMissing:
        return QStringLiteral("提取失败，软件信息提取目录不存在：") + path;
    case ReaderNotLoadable:
        return QStringLiteral("提取失败，无法加载软件信息读取组件：") + path;
    case TempFilesInUse:
        return QStringLiteral("提取失败，另一个导出正在使用临时文件目录：") + path;
    case TempFilesLockNotOurs:
        return QStringLiteral("提取失败，临时文件目录中的锁文件不是本用户的：") + path;
    case DestinationRefused:
        return QStringLiteral("提取失败，导出文件是另一个用户的链接或文件，未写入：") + path;
    case DestinationIsFolder:
        return QStringLiteral("提取失败，导出文件是一个目录：") + path;
    case DestinationNotWritable:
        return QStringLiteral("提取失败，导出文件不可写入：") + path;
    case DestinationFolderNotWritable:
        return QStringLiteral("提取失败，无法在导出文件所在目录中写入：") + path;
    case ConverterMissing:
        return QStringLiteral("提取失败，找不到表格转换程序：") + path;
    default:
        return QStringLiteral("提取失败，无法写入临时文件：") + path;
    }
}

QString ExportOutcome::workbookFailureMessage(const QString &destination)
{
    return QStringLiteral("提取失败，写入") + QFileInfo(destination).fileName()
        + QStringLiteral("文件错误，请检查：\r\n1：该文件是否已经打开；\r\n2：该文件所在磁盘的空间是否已满。");
}

QString ExportOutcome::workbookFailureLine(const QString &destination)
{
    return QStringLiteral("提取失败，写入%1文件错误，请检查该文件是否已经打开，或所在磁盘的空间是否已满。").arg(destination);
}

QString ExportOutcome::statusText(int status)
{
    if (status == ReaderLibrary::SignatureNotTrusted)
        return QStringLiteral("签名不受信任");
    if (status == PathTooLong)
        return QStringLiteral("路径过长未提取");
    if (status == Unstable)
        return QStringLiteral("读取时被改动");
    return QStringLiteral("无法读取");
}

QString ExportOutcome::md5OnlyNote()
{
    return QStringLiteral("仅能按文件MD5匹配，软件更新后规则将失效");
}
