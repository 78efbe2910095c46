// The real window (controller, pages, workers, library, converter) exporting FOLDER to
// DESTINATION the way a user does it: the two paths as the file dialogs leave them, a scan
// of the folder, then a click on 提取 on the list page. Prints on stdout the seconds from
// the click to the moment the result message shows, the processor time spent meanwhile
// (user and system, all threads and the converter), and the message's text.
#include "btncolor.h"
#include "framemain.h"
#include "loghandler.h"
#include "platform.h"
#include "producemain.h"
#include "threadsoftwareinfo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include <sys/resource.h>

namespace {

// User and system seconds of this process and of the children it has waited for.
double processorSeconds()
{
    double seconds = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage usage;
        if (getrusage(who, &usage) == 0)
            seconds += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
                + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return seconds;
}

// Stops the clock when the message dialog shows, then closes it as a user would.
class MessageWatch : public QObject
{
public:
    QElapsedTimer clock;
    double processorAtClick = 0;
    double seconds = -1;
    double processor = 0;
    QString text;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Show && seconds < 0 && clock.isValid()
            && object->objectName() == QLatin1String("msgDialog")) {
            seconds = clock.nsecsElapsed() / 1e9;
            processor = processorSeconds() - processorAtClick;
            auto *label = object->findChild<QLabel *>(QStringLiteral("label_msg"));
            text = label ? label->text() : QString();
            QTimer::singleShot(0, object, [object] { QMetaObject::invokeMethod(object, "on_ok"); });
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: bench_wizard FOLDER DESTINATION.xlsx\n");
        return 2;
    }
    const QString folder = arguments.at(1);
    const QString destination = arguments.at(2);
    // As the program starts: its own log, its fonts.
    qInstallMessageHandler(logMessageHandler);
    Platform::substituteFonts();

    auto *controller = new ProduceMain(nullptr);
    FrameMain *window = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *frame = qobject_cast<FrameMain *>(widget))
            window = frame;
    auto *stack = window ? window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget")) : nullptr;
    auto *worker = controller->findChild<ThreadSoftwareInfo *>();
    QWidget *listPage = stack ? stack->widget(4) : nullptr;
    auto *sourceEdit = stack ? stack->widget(2)->findChild<QLineEdit *>(QStringLiteral("lineEdit_path")) : nullptr;
    auto *destinationEdit = stack ? stack->widget(3)->findChild<QLineEdit *>(QStringLiteral("lineEdit_file")) : nullptr;
    auto *loading = listPage ? listPage->findChild<QLabel *>(QStringLiteral("label_loading")) : nullptr;
    auto *extract = listPage ? listPage->findChild<BtnColor *>(QStringLiteral("btnColor_software")) : nullptr;
    if (!worker || !sourceEdit || !destinationEdit || !loading || !extract) {
        std::fprintf(stderr, "the program's objects were not found\n");
        return 1;
    }

    MessageWatch watch;
    app.installEventFilter(&watch);
    controller->showMainWindow();
    // What the two file dialogs leave behind; the folder page then asks for the scan.
    sourceEdit->setText(folder);
    destinationEdit->setText(destination);
    QMetaObject::invokeMethod(window, "on_scanPath", Q_ARG(QString, folder));
    stack->setCurrentIndex(4);

    QTimer listed;
    listed.setInterval(10);
    QObject::connect(&listed, &QTimer::timeout, [&] {
        if (loading->isVisible())
            return;
        listed.stop();
        watch.processorAtClick = processorSeconds();
        watch.clock.start();
        QTest::mouseClick(extract, Qt::LeftButton);
    });
    QObject::connect(worker, &QThread::finished, window, [&] { window->close(); });
    listed.start();
    const int code = app.exec();
    controller->stopWorkers();
    delete controller;
    if (watch.seconds < 0) {
        std::fprintf(stderr, "no message was shown\n");
        return 1;
    }
    std::printf("wizard_s=%.3f cpu_s=%.3f message=%s\n", watch.seconds, watch.processor,
                watch.text.simplified().toUtf8().constData());
    return code;
}
