// Scans the folder given as argument with the real scanner thread and prints both
// lists, one entry a line, so a test can run a scan where it cannot run itself.
#include "threadscanfile.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    ThreadScanFile scanner;
    QObject::connect(&scanner, &ThreadScanFile::signal_scanPath_finish, &app,
                     [&app](QList<QString> fileName, QList<QString> file_fullName) {
                         QTextStream out(stdout);
                         for (const QString &name : fileName)
                             out << "name " << name << '\n';
                         for (const QString &path : file_fullName)
                             out << "path " << path << '\n';
                         out.flush();
                         app.quit();
                     },
                     Qt::BlockingQueuedConnection);
    scanner.scanPath(QString::fromLocal8Bit(argv[1]));
    const int code = app.exec();
    scanner.wait();
    return code;
}
