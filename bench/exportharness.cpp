// Runs whole exports without the window: scan the folder, export it to the destination,
// repeat RUNS times. Prints per-run seconds and the process's peak memory on stderr.
// Logs through the program's own handler (into log/ beside the harness), as the
// program does, unless BENCH_NO_LOG is set. BENCH_HASHES also computes every file's
// SHA-256 and Authenticode SHA-256, as pelbrook-export --hashes does.
#include "loghandler.h"
#include "threadscanfile.h"
#include "threadsoftwareinfo.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>

#include <cstdio>
#include <cstdlib>

class ExportReceiver : public QObject
{
    Q_OBJECT
public slots:
    void on_scanPath_finish(QList<QString>, QList<QString> file_fullName)
    {
        paths = file_fullName;
        emit done();
    }
    void on_pelbrook(int index, int count, QString, QString, QString, QString, QString, QString, QString, QString)
    {
        if (index == count)
            emit done();
    }
    void on_extractFailed(int reason, QString path)
    {
        std::fprintf(stderr, "export failed: reason=%d path=%s\n", reason, path.toUtf8().constData());
        failed = true;
        emit done();
    }

signals:
    void done();

public:
    QList<QString> paths;
    bool failed = false;
};

// A field of /proc/self/status in KiB: VmHWM is the peak, VmRSS the present size.
static long statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_export FOLDER DESTINATION.xlsx [RUNS]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString destination = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? std::atoi(argv[3]) : 1;
    qRegisterMetaType<QList<QString>>("QList<QString>");
    if (qEnvironmentVariableIsSet("BENCH_NO_LOG"))
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    else
        qInstallMessageHandler(logMessageHandler);

    ThreadScanFile scanner;
    ThreadSoftwareInfo worker;
    worker.setHashes(qEnvironmentVariableIsSet("BENCH_HASHES"));
    ExportReceiver receiver;
    QObject::connect(&scanner, SIGNAL(signal_scanPath_finish(QList<QString>,QList<QString>)), &receiver,
                     SLOT(on_scanPath_finish(QList<QString>,QList<QString>)), Qt::BlockingQueuedConnection);
    QObject::connect(&worker,
                     SIGNAL(signal_softwareInfoProgress(int,int,QString,QString,QString,QString,QString,QString,QString,QString)),
                     &receiver, SLOT(on_pelbrook(int,int,QString,QString,QString,QString,QString,QString,QString,QString)),
                     Qt::BlockingQueuedConnection);
    QObject::connect(&worker, SIGNAL(signal_extractFailed(int,QString)), &receiver,
                     SLOT(on_extractFailed(int,QString)), Qt::BlockingQueuedConnection);
    QEventLoop loop;
    QObject::connect(&receiver, &ExportReceiver::done, &loop, &QEventLoop::quit);

    scanner.scanPath(folder);
    loop.exec();
    scanner.wait();

    for (int run = 1; run <= runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        worker.startExtract(folder, destination, receiver.paths);
        loop.exec();
        worker.wait();
        if (receiver.failed)
            return 1;
        std::fprintf(stderr, "run=%d files=%d export_seconds=%.6f copied=%d peak_kib=%ld rss_kib=%ld\n", run,
                     receiver.paths.size(), timer.nsecsElapsed() / 1e9, worker.isCopySucceeded() ? 1 : 0,
                     statusKiB("VmHWM:"), statusKiB("VmRSS:"));
    }
    return 0;
}

#include "exportharness.moc"
