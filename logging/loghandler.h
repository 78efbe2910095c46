#ifndef LOGHANDLER_H
#define LOGHANDLER_H

#include <QString>
#include <QtGlobal>

// Qt message handler: one formatted line per message in the rotated log file.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

// Writes one finished line to the live log file, rotating it first when it is full.
void appendLogLine(QString line);

// Logs a debug message for the crash handler. Waits a bounded time for a thread
// that is writing a line, holding other writers back meanwhile, and then writes it
// whatever happens: without the locks when this thread failed inside the logger or
// the lock is not released in time.
void logCrashLine(const QString &msg);

// How long logCrashLine waits for the lock (1 s unless set). The crash tests set a wait
// longer than the crash handler's log step, so that a line written only after the wait
// ran out cannot pass unnoticed.
void setCrashLogLockWait(int milliseconds);

#endif
