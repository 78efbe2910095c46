// Logs through the program's message handler.
// Arguments: type (debug, info, warning, critical, fatal), threads, lines per thread,
// text. With more than one line each line gets " <thread> <line>" appended.
// Type "stepped" logs debug lines one at a time: it prints "logged" after each and
// waits for a line on its input before the next, so that a test can change the
// folders in between.
#include "loghandler.h"

#include <QCoreApplication>
#include <QDebug>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

void logLine(const QString &type, const QString &text)
{
    if (type == QLatin1String("info"))
        qInfo().noquote() << text;
    else if (type == QLatin1String("warning"))
        qWarning().noquote() << text;
    else if (type == QLatin1String("critical"))
        qCritical().noquote() << text;
    else if (type == QLatin1String("fatal"))
        qFatal("%s", text.toUtf8().constData());
    else
        qDebug().noquote() << text;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 5)
        return 2;
    qInstallMessageHandler(logMessageHandler);
    const QString type = QString::fromUtf8(argv[1]);
    const int threads = QByteArray(argv[2]).toInt();
    const int lines = QByteArray(argv[3]).toInt();
    const QString text = QString::fromUtf8(argv[4]);
    if (type == QLatin1String("stepped")) {
        char input[16];
        for (int n = 0; n < lines; ++n) {
            if (n > 0 && !std::fgets(input, sizeof input, stdin))
                return 3;
            qDebug().noquote() << text + QStringLiteral(" %1").arg(n);
            std::printf("logged\n");
            std::fflush(stdout);
        }
        return 0;
    }
    if (threads * lines == 1) {
        logLine(type, text);
        return 0;
    }
    std::vector<std::unique_ptr<QThread>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back(QThread::create([=] {
            for (int n = 0; n < lines; ++n)
                logLine(type, text + QStringLiteral(" %1 %2").arg(t).arg(n));
        }));
    }
    for (auto &worker : workers)
        worker->start();
    for (auto &worker : workers)
        worker->wait();
    return 0;
}
