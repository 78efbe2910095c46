#include "loghandler.h"

#include "logappender.h"
#include "loglock.h"
#include "fileidentity.h"
#include "platform.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QTextCodec>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <thread>

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

// A local date and time as digits. Qt's own formatting goes through the system
// locale, which gave an empty text now and then while several threads logged at once
// (a line then began "Debug: 990]"); numbers printed here depend on nothing shared.
QByteArray localTimeText(qint64 msecsSinceEpoch, const char *format)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::LocalTime);
    const QDate date = local.date();
    const QTime time = local.time();
    char text[32];
    qsnprintf(text, sizeof text, format, date.year(), date.month(), date.day(), time.hour(), time.minute(),
              time.second());
    return QByteArray(text);
}

// "[yyyy-MM-dd hh:mm:ss.zzz]" in local time. Local time costs a look at the system's
// time zone on every call, so it is worked out once a second (a zone's offset only
// changes on a whole second) and the milliseconds are added to it.
QByteArray timestamp()
{
    // Plain bytes, not a QByteArray: mingw-w64 runs the destructors of thread_local
    // objects after it has freed their storage, so a Qt value here corrupted the heap
    // whenever a thread that had logged ended on Windows.
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local char cachedText[32];
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now >= 0 ? now / 1000 : (now - 999) / 1000;
    if (second != cachedSecond) {
        qstrncpy(cachedText, localTimeText(second * 1000, "[%04d-%02d-%02d %02d:%02d:%02d.").constData(),
                 sizeof cachedText);
        cachedSecond = second;
    }
    char milliseconds[6];
    qsnprintf(milliseconds, sizeof milliseconds, "%03d]", int(now - second * 1000));
    return QByteArray(cachedText).append(milliseconds);
}

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
    const QByteArray time = timestamp();
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

// Appends one line to the live file in the log folder of a data folder, rotating
// first when the file is full. The folder is made again when it has gone (someone
// deleted it while the program runs). False when no file could be written there.
bool writeInto(const QString &dataFolder, const QByteArray &bytes, bool takeFolderLock)
{
    const QString folderPath = dataFolder + QStringLiteral("/log");
    const QString liveName = folderPath + QLatin1Char('/') + QLatin1String(logNamePrefix) + QStringLiteral(".txt");
    // Only callers that hold logMutex take the folder lock, so they alone use the kept
    // files. Never destroyed: a thread may still log while the process ends.
    static LogAppender *const kept = new LogAppender;
    // The second in which a rotation found its name taken (callers with the folder lock
    // only, so logMutex guards it). Until that second ends, the full live file takes the
    // lines as they come: trying again on every line would cost a rename and a reopen
    // each, and fail the same way.
    static qint64 rotationRefusedSecond = std::numeric_limits<qint64>::min();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now >= 0 ? now / 1000 : (now - 999) / 1000;
    const qint64 fullSize = takeFolderLock && second == rotationRefusedSecond ? std::numeric_limits<qint64>::max()
                                                                              : rotationSize;
    if (takeFolderLock && kept->append(folderPath, liveName, bytes, fullSize))
        return true;
    std::unique_ptr<LogLock> lock;
    if (takeFolderLock) {
        lock.reset(new LogLock(folderPath));
        if (!lock->isHeld()) {
            QDir().mkpath(folderPath);
            lock.reset(new LogLock(folderPath));
            if (!lock->isHeld())
                return false;
        }
    }

    LogLock::AppendResult result = LogLock::appendUnlessFull(liveName, bytes, fullSize);
    if (result == LogLock::Failed && QDir().mkpath(folderPath))
        result = LogLock::appendUnlessFull(liveName, bytes, fullSize);
    if (result == LogLock::Full) {
        const QString rotatedName = folderPath + QLatin1Char('/') + QLatin1String(logNamePrefix)
            + QString::fromLatin1(localTimeText(now, "%04d%02d%02d%02d%02d%02d")) + QStringLiteral(".txt");
        // A rotation in the same second as the last one finds its name taken; the
        // live file then grows until the next second.
        if (QFile::rename(liveName, rotatedName))
            removeOldestRotatedFiles(QDir(folderPath));
        else if (takeFolderLock)
            rotationRefusedSecond = second;
        // Written whether the rename worked or not: the line is never lost to rotation.
        result = LogLock::appendUnlessFull(liveName, bytes, std::numeric_limits<qint64>::max());
    }
    if (takeFolderLock && result == LogLock::Appended)
        kept->remember(folderPath, liveName);
    return result == LogLock::Appended;
}

// The data folder is decided once; only a failed write asks for the decision again,
// so that a program folder that turned read-only sends the log to the user's folder.
void write(const QString &line, bool takeFolderLock)
{
    const QByteArray bytes = QTextCodec::codecForLocale()->fromUnicode(line);
    const QString dataFolder = Platform::writableDataFolder();
    if (writeInto(dataFolder, bytes, takeFolderLock))
        return;
    const QString recheckedFolder = Platform::recheckWritableDataFolder();
    if (recheckedFolder != dataFolder && writeInto(recheckedFolder, bytes, takeFolderLock))
        return;
    // Said once, where the user sees it: a log folder someone else planted turns the log off.
    static std::atomic<bool> told{false};
    const QString folder = recheckedFolder + QStringLiteral("/log");
    const QFileInfo planted(folder);
    if (told || !(planted.exists() || planted.isSymLink()))
        return;
    const QString refusal = Platform::preparePrivateFolder(folder);
    if (!refusal.isEmpty() && !told.exchange(true)) {
        const QByteArray text = (QStringLiteral("日志目录不是本用户的，日志未写入：") + folder + QStringLiteral(" (")
                                 + refusal + QStringLiteral(")\n")).toLocal8Bit();
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    }
}

void writeLine(const QString &line)
{
    QMutexLocker locker(&logMutex);
    write(line, true);
}

// Set by the crash handler while it waits for the log: other writers hold back, so
// that a thread logging in a tight loop cannot keep the lock from it.
std::atomic<bool> crashPending{false};
// Atomic: read by the crash handler on whichever thread failed.
std::atomic<int> crashLockWaitMs{1000};
const int heldBackMs = 5000;

void holdBackForCrash()
{
    for (int waited = 0; crashPending.load() && waited < heldBackMs; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

void appendLogLine(QString line)
{
    if (insideLogger)
        return;
    holdBackForCrash();
    insideLogger = true;
    writeLine(line);
    insideLogger = false;
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (insideLogger)
        return;
    holdBackForCrash();
    insideLogger = true;
    writeLine(formatLine(type, context, msg));
    insideLogger = false;
    if (type == QtFatalMsg)
        abort();
}

void setCrashLogLockWait(int milliseconds)
{
    crashLockWaitMs = milliseconds;
}

void logCrashLine(const QString &msg)
{
    crashPending = true;
    const bool interruptedLogger = insideLogger;
    insideLogger = true;
    const QString line = formatLine(QtDebugMsg, QMessageLogContext(), msg);
    // This thread may have failed inside the logger: its own locks are then held for
    // good. A thread elsewhere that keeps them longer than a line takes is stuck.
    // Either way the line is written without them; at worst it lands beside a line
    // that was cut short.
    if (!interruptedLogger && logMutex.tryLock(crashLockWaitMs)) {
        write(line, true);
        logMutex.unlock();
    } else {
        write(line, false);
    }
    insideLogger = interruptedLogger;
}
