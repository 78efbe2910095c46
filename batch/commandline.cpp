#include "commandline.h"

#include "writetarget.h"

#include <QThread>

namespace {

// More calls at once than this only add memory and seeks.
const int maxJobs = 64;

// The value of an option that takes a file name, as "--name FILE" or "--name=FILE";
// false (with error set) when it is missing.
bool fileOption(const QStringList &arguments, int &i, const QString &name, QString &value, QString &error)
{
    const QString &argument = arguments.at(i);
    if (argument.startsWith(name + QLatin1Char('=')))
        value = argument.mid(name.size() + 1);
    else if (i + 1 < arguments.size())
        value = arguments.at(++i);
    if (value.isEmpty()) {
        error = name + QStringLiteral(" 缺少文件名");
        return false;
    }
    return true;
}

} // namespace

CommandLine::CommandLine(const QStringList &arguments)
    : jobCount(qBound(1, QThread::idealThreadCount(), maxJobs))
{
    QStringList positional;
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            positional.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String("--quiet")) {
            quietAsked = true;
        } else if (argument == QLatin1String("--no-cache")) {
            noCacheAsked = true;
        } else if (argument == QLatin1String("--rebuild-cache")) {
            rebuildCacheAsked = true;
        } else if (argument == QLatin1String("--report") || argument.startsWith(QLatin1String("--report="))) {
            if (!fileOption(arguments, i, QStringLiteral("--report"), reportPath, errorText))
                return;
        } else if (argument == QLatin1String("--changes") || argument.startsWith(QLatin1String("--changes="))) {
            if (!fileOption(arguments, i, QStringLiteral("--changes"), changesPath, errorText))
                return;
        } else if (argument == QLatin1String("--hashes")) {
            hashesAsked = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            helpAsked = true;
        } else if (argument == QLatin1String("--jobs") || argument.startsWith(QLatin1String("--jobs="))) {
            QString value;
            if (argument.startsWith(QLatin1String("--jobs="))) {
                value = argument.mid(7);
            } else if (i + 1 < arguments.size()) {
                value = arguments.at(++i);
            } else {
                errorText = QStringLiteral("--jobs 缺少数值");
                return;
            }
            bool isNumber = false;
            const int n = value.toInt(&isNumber);
            if (!isNumber || n < 1 || n > maxJobs) {
                errorText = QStringLiteral("--jobs 的数值应为 1 到 %1 的整数：%2").arg(maxJobs).arg(value);
                return;
            }
            jobCount = n;
        } else {
            errorText = QStringLiteral("未知选项：") + argument;
            return;
        }
    }
    if (helpAsked)
        return;
    if (noCacheAsked && rebuildCacheAsked) {
        errorText = QStringLiteral("--no-cache 和 --rebuild-cache 不能同时使用");
        return;
    }
    if (hashesAsked && reportPath.isEmpty()) {
        errorText = QStringLiteral("--hashes 的结果写在报告中，需要同时指定 --report");
        return;
    }
    // The last export's rows are kept in the cache.
    if (noCacheAsked && !changesPath.isEmpty()) {
        errorText = QStringLiteral("--changes 需要缓存中上次导出的记录，不能与 --no-cache 同时使用");
        return;
    }
    if (positional.size() != 2) {
        errorText = QStringLiteral("需要两个参数：源目录和导出文件");
        return;
    }
    source = positional.at(0);
    destinationPath = positional.at(1);
    if (!destinationPath.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive))
        errorText = QStringLiteral("导出文件应以 .xlsx 结尾：") + destinationPath;
    // The report would take the workbook's place: the old one gone and the new one too.
    else if (!reportPath.isEmpty() && Platform::isSameWriteTarget(reportPath, destinationPath))
        errorText = QStringLiteral("--report 的文件就是导出文件：") + reportPath;
    else if (!changesPath.isEmpty() && Platform::isSameWriteTarget(changesPath, destinationPath))
        errorText = QStringLiteral("--changes 的文件就是导出文件：") + changesPath;
    else if (!changesPath.isEmpty() && !reportPath.isEmpty() && Platform::isSameWriteTarget(changesPath, reportPath))
        errorText = QStringLiteral("--changes 的文件就是报告文件：") + changesPath;
}

QString CommandLine::usage()
{
    return QStringLiteral("用法：pelbrook-export [--jobs N] [--quiet] [--no-cache | --rebuild-cache] [--report FILE.csv]\n"
                          "                       [--hashes] [--changes FILE.csv] SOURCE_FOLDER DESTINATION.xlsx\n"
                          "读取 SOURCE_FOLDER 中的安装包和绿色软件，写出软件导入表格 DESTINATION.xlsx。\n"
                          "  --jobs N           同时读取的安装包个数，默认为处理器核数\n"
                          "  --quiet            不显示进度、汇总和未读出的文件，只报告错误\n"
                          "  --no-cache         不用缓存，重新读取每个安装包\n"
                          "  --rebuild-cache    重新读取每个安装包并更新缓存\n"
                          "  --report FILE.csv  把每个安装包的路径、状态、原因、安装包类型和备注写入 FILE.csv\n"
                          "  --hashes           报告中再写出每个安装包的 SHA-256 和 Authenticode SHA-256\n"
                          "  --changes FILE.csv 把与上次导出该目录相比新增、变化和删除的行写入 FILE.csv\n"
                          "退出码：0 已写出；1 导出失败；2 用法错误。\n");
}
