#ifndef LOGHANDLER_H
#define LOGHANDLER_H

#include <QString>
#include <QtGlobal>

// Qt message handler: one formatted line per message in the rotated log file.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

// Writes one finished line to the live log file, rotating it first when it is full.
void appendLogLine(QString line);

// Logs like logMessageHandler unless this thread is inside the logger or another
// thread is writing a line; then nothing is written and false is returned. For the
// crash handler: the crash may have happened inside the logger, whose locks would
// then never be released.
bool logMessageUnlessBusy(QtMsgType type, const QMessageLogContext &context, const QString &msg);

#endif
