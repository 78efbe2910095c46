#include "wizardmain.h"

#include "crashhandler.h"
#include "displayscaling.h"
#include "loghandler.h"
#include "platform.h"
#include "producemain.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QSharedMemory>

#include <cstdlib>

int wizardMain(int &argc, char *argv[])
{
    DisplayScaling::enable();
    QApplication app(argc, argv);
    qInstallMessageHandler(logMessageHandler);
    qDebug() << "Mark=2022-06-15";
    installCrashHandler();
    const QString sharedFolder = Platform::sharedProgramFolderReason();
    if (!sharedFolder.isEmpty())
        qDebug() << "main=program folder" << QCoreApplication::applicationDirPath() << sharedFolder
                 << ": data kept in" << Platform::writableDataFolder() << ", its trust folder not used";
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
    const bool workersEnded = controller->stopWorkers();
    if (guard->isAttached())
        guard->detach();
    delete guard;
    // A thread still inside a library call cannot be destroyed; the system ends it with the process.
    if (!workersEnded)
        std::_Exit(code);
    delete controller;

    // The library may have logged into either file this run: its usual place was
    // refused from some moment on, or stopped being refused.
    const Platform::ReaderLogPlace readerLog = Platform::readerLogPlace();
    for (const QString &path : {readerLog.path, readerLog.fallbackPath}) {
        if (!path.isEmpty() && QFile::exists(path))
            QFile::remove(path);
    }
    return code;
}
