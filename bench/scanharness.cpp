// Runs one scanner pass over a folder without the window and prints the full paths
// of the installers found, one a line, then the pass time on stderr.
#include "threadscanfile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <cstdio>

class ScanReceiver : public QObject
{
    Q_OBJECT
public slots:
    void on_scanPath_finish(QList<QString> fileName, QList<QString> file_fullName)
    {
        names = fileName;
        paths = file_fullName;
        QCoreApplication::quit();
    }

public:
    QList<QString> names;
    QList<QString> paths;
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_scan FOLDER\n");
        return 2;
    }
    qRegisterMetaType<QList<QString>>("QList<QString>");

    ThreadScanFile scanner;
    ScanReceiver receiver;
    QObject::connect(&scanner, SIGNAL(signal_scanPath_finish(QList<QString>,QList<QString>)),
                     &receiver, SLOT(on_scanPath_finish(QList<QString>,QList<QString>)),
                     Qt::BlockingQueuedConnection);

    // Keep the scanner's own log lines off the measured output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    QElapsedTimer timer;
    timer.start();
    scanner.scanPath(QString::fromLocal8Bit(argv[1]));
    app.exec();
    scanner.wait();
    const qint64 elapsed = timer.nsecsElapsed();

    QTextStream out(stdout);
    out.setCodec("UTF-8");
    for (const QString &path : qAsConst(receiver.paths))
        out << path << '\n';
    out.flush();
    std::fprintf(stderr, "scan_seconds=%.6f names=%d paths=%d\n", elapsed / 1e9, receiver.names.size(),
                 receiver.paths.size());
    return 0;
}

#include "scanharness.moc"
