#include "crashhandler.h"
#include "displayscaling.h"
#include "loghandler.h"
#include "platform.h"
#include "producemain.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QSharedMemory>

int main(int argc, char *argv[])
{
    DisplayScaling::enable();
    QApplication app(argc, argv);
    qInstallMessageHandler(logMessageHandler);
    qDebug() << "Mark=2022-06-15";
    installCrashHandler();
    Platform::substituteFonts();
    Platform::loadQtTranslations();
    if (Platform::isWindowsXp())
        QCoreApplication::setAttribute(Qt::AA_UseSoftwareOpenGL, true);

    QSharedMemory *guard = new QSharedMemory(QStringLiteral("Pelbrook_v1.0"));
    // A copy that was killed leaves its segment behind; the last detach removes it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (guard->attach(QSharedMemory::ReadOnly))
            guard->detach();
    }

    ProduceMain *controller = new ProduceMain(nullptr);
    if (!guard->create(1, QSharedMemory::ReadWrite)) {
        qDebug() << "Has running";
        controller->showMessage(QStringLiteral("程序已启动"), 0, false, QStringLiteral("关闭"));
        delete guard;
        delete controller;
        return 0;
    }

    controller->showMainWindow();
    const int code = app.exec();
    // Still holding the guard, so no new copy starts while the workers wind down.
    controller->stopWorkers();
    if (guard->isAttached())
        guard->detach();
    delete guard;
    delete controller;

    QFile readerLog(Platform::readerLogPath());
    if (readerLog.exists())
        readerLog.remove();
    return code;
}
