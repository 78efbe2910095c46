// The program's run with its real controller, window and workers, driven without a user:
// scan SRC, export it to DST, print each message shown ("MESSAGE <text>" on stdout, the
// text percent-encoded, so that its line breaks stay in it), then
// close the window and shut down as main does. --close-on-record closes the window at the
// first progress record, --close-while-converting once the converter has the temporary CSV,
// --close-on-scan right after the scan was asked for.
#include "exportfixtures.h"
#include "framemain.h"
#include "messagecatcher.h"
#include "platform.h"
#include "producemain.h"
#include "threadscanfile.h"
#include "threadsoftwareinfo.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr,
                     "usage: exportrun SRC DST [--close-on-record | --close-while-converting | --close-on-scan]\n");
        return 2;
    }
    const QString src = arguments.at(1);
    const QString dst = arguments.at(2);
    const QString option = arguments.value(3);

    ProduceMain *controller = new ProduceMain(nullptr);
    FrameMain *window = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *frame = qobject_cast<FrameMain *>(widget))
            window = frame;
    }
    // The destination as the user would have chosen it on its page, which the messages name.
    window->findChild<QLineEdit *>(QStringLiteral("lineEdit_file"))->setText(dst);
    auto *scanner = controller->findChild<ThreadScanFile *>();
    auto *worker = controller->findChild<ThreadSoftwareInfo *>();
    MessageCatcher catcher([](const QString &text) {
        std::printf("MESSAGE %s\n", text.toUtf8().toPercentEncoding().constData());
        std::fflush(stdout);
    });

    if (option != QLatin1String("--close-on-scan"))
        QObject::connect(scanner, &QThread::finished, window, [&] { emit window->signal_export_software(src, dst); });
    QObject::connect(worker, &QThread::finished, window, [&] { window->close(); });
    if (option == QLatin1String("--close-on-record"))
        QObject::connect(worker, &ThreadSoftwareInfo::signal_softwareInfoProgress, window, [&] { window->close(); },
                         Qt::QueuedConnection);
    QTimer converting;
    if (option == QLatin1String("--close-while-converting")) {
        const QString data = Platform::writableDataFolder();
        QObject::connect(&converting, &QTimer::timeout, window, [&, data] {
            if (!runningExportCsv(data).isEmpty())
                window->close();
        });
        converting.start(10);
    }
    QTimer::singleShot(0, window, [&] {
        emit window->signal_scanPath(src);
        if (option == QLatin1String("--close-on-scan"))
            window->close();
    });

    controller->showMainWindow();
    const int code = app.exec();
    if (!controller->stopWorkers())
        std::_Exit(code);
    delete controller;
    return code;
}
