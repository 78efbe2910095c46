#include "loghandler.h"

#include "loglock.h"
#include "platform.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QTextCodec>

#include <cstdlib>
#include <map>

namespace {

const char logNamePrefix[] = "Pelbrook";
const qint64 rotationSize = 1048576;
const int rotatedFilesKept = 4;

// One line at a time in this process; LogLock does the same between processes.
QMutex logMutex;

// Set while this thread formats or writes a line. A message Qt raises meanwhile would
// wait for a lock the thread already holds (the log lock, or one inside Qt), so such
// messages are dropped.
thread_local bool insideLogger = false;

QString formatLine(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    const char *format = "Debug: %s%s (%s:%u, %s)\r\n";
    switch (type) {
    case QtDebugMsg:
        break;
    case QtWarningMsg:
        format = "Warning: %s%s (%s:%u, %s)\r\n";
        break;
    case QtCriticalMsg:
        format = "Critical: %s%s (%s:%u, %s)\r\n";
        break;
    case QtFatalMsg:
        format = "Fatal: %s%s (%s:%u, %s)\r\n";
        break;
    case QtInfoMsg:
        format = "Info: %s%s (%s:%u, %s)\r\n";
        break;
    }
    const QByteArray time = QDateTime::currentDateTime().toString(QStringLiteral("[yyyy-MM-dd hh:mm:ss.zzz]")).toUtf8();
    return QString::asprintf(format, time.constData(), msg.toUtf8().constData(), context.file ? context.file : "",
                             unsigned(context.line), context.function ? context.function : "");
}

// Only names this logger gives its rotated files count: the live file and any other
// file, even one whose name starts the same way, are left alone.
void removeOldestRotatedFiles(const QDir &folder)
{
    static const QRegularExpression rotatedName(QStringLiteral("^Pelbrook(\\d{14})\\.txt$"));
    std::map<qint64, QString> rotated;
    for (const QString &name : folder.entryList(QDir::Files)) {
        const QRegularExpressionMatch match = rotatedName.match(name);
        if (match.hasMatch())
            rotated.emplace(match.captured(1).toLongLong(), name);
    }
    while (int(rotated.size()) > rotatedFilesKept) {
        QFile::remove(folder.filePath(rotated.begin()->second));
        rotated.erase(rotated.begin());
    }
}

void writeLine(const QString &line)
{
    QMutexLocker locker(&logMutex);
    const QString folderPath = Platform::writableDataFolder() + QStringLiteral("/log");
    QDir folder(folderPath);
    if (!folder.exists())
        folder.mkdir(folderPath);
    const LogLock lock(folderPath);

    const QString liveName = folderPath + QLatin1Char('/') + QLatin1String(logNamePrefix) + QStringLiteral(".txt");
    const QFileInfo live(liveName);
    if (live.exists() && live.size() >= rotationSize) {
        const QString rotatedName = folderPath + QLatin1Char('/') + QLatin1String(logNamePrefix)
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss")) + QStringLiteral(".txt");
        // A rotation in the same second as the last one finds its name taken; the
        // live file then grows until the next second.
        if (QFile::rename(liveName, rotatedName))
            removeOldestRotatedFiles(folder);
    }

    QFile file(liveName);
    if (!file.open(QIODevice::Append))
        return;
    file.write(QTextCodec::codecForLocale()->fromUnicode(line));
    file.close();
}

} // namespace

void appendLogLine(QString line)
{
    if (insideLogger)
        return;
    insideLogger = true;
    writeLine(line);
    insideLogger = false;
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (insideLogger)
        return;
    insideLogger = true;
    writeLine(formatLine(type, context, msg));
    insideLogger = false;
    if (type == QtFatalMsg)
        abort();
}

bool logMessageUnlessBusy(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (insideLogger || !logMutex.tryLock())
        return false;
    logMutex.unlock();
    insideLogger = true;
    writeLine(formatLine(type, context, msg));
    insideLogger = false;
    return true;
}
