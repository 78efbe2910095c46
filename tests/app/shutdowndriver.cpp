// Runs the program's own start-up and plays a user who closes the window at a
// chosen moment: it prints "window FrameMain" once the window shows, then, as
// PELBROOK_CLOSE says, closes it ("closing" on stdout) at once ("shown"), while the
// scan of PELBROOK_SOURCE lists ("listing"), or after "提取" to PELBROOK_DESTINATION
// while the reader library has the source's one installer open ("reading") or while
// the converter runs ("converting"), or never ("exporting"). Each moment is taken from
// the process's state.
#include "exportfixtures.h"
#include "wizardmain.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

enum class Step { WaitForWindow, WaitForList, WaitForMoment, Closed };

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

QWidget *mainWindow()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->inherits("FrameMain"))
            return window;
    }
    return nullptr;
}

// True while this process holds a file below folder open.
bool holdsFileBelow(const QString &folder)
{
    const QString prefix = QFileInfo(folder).canonicalFilePath() + QLatin1Char('/');
    const QFileInfoList descriptors = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::Files | QDir::System);
    for (const QFileInfo &descriptor : descriptors) {
        if (descriptor.symLinkTarget().startsWith(prefix))
            return true;
    }
    return false;
}

void drive()
{
    static Step step = Step::WaitForWindow;
    static QElapsedTimer sinceScan;
    const QString mode = qEnvironmentVariable("PELBROOK_CLOSE");
    const QString source = qEnvironmentVariable("PELBROOK_SOURCE");
    QWidget *window = mainWindow();
    if (!window || !window->isVisible() || step == Step::Closed)
        return;

    bool close = false;
    switch (step) {
    case Step::WaitForWindow:
        say("window FrameMain");
        if (mode == QLatin1String("shown")) {
            close = true;
            break;
        }
        // The two paths as the user would have chosen them on their pages.
        window->findChild<QLineEdit *>(QStringLiteral("lineEdit_path"))->setText(source);
        window->findChild<QLineEdit *>(QStringLiteral("lineEdit_file"))
            ->setText(qEnvironmentVariable("PELBROOK_DESTINATION"));
        QMetaObject::invokeMethod(window->findChild<QWidget *>(QStringLiteral("frameTwo")), "signal_scanPath",
                                  Q_ARG(QString, source));
        sinceScan.start();
        step = Step::WaitForList;
        break;
    case Step::WaitForList: {
        if (mode == QLatin1String("listing")) {
            // The listing has no end of its own; give it time to be deep inside.
            close = sinceScan.elapsed() > 500;
            break;
        }
        QWidget *extract = window->findChild<QWidget *>(QStringLiteral("frameFour"))
                               ->findChild<QWidget *>(QStringLiteral("btnColor_software"));
        if (!extract->isEnabled())
            break;
        say("extracting");
        QTest::mouseClick(extract, Qt::LeftButton);
        step = Step::WaitForMoment;
        break;
    }
    case Step::WaitForMoment:
        if (mode == QLatin1String("reading"))
            close = holdsFileBelow(source);
        else if (mode != QLatin1String("exporting"))
            close = !runningExportCsv(QCoreApplication::applicationDirPath()).isEmpty();
        break;
    case Step::Closed:
        break;
    }
    if (close) {
        say("closing");
        step = Step::Closed;
        window->close();
    }
}

// The main window has no owner and lives until the process ends; deleting it as the
// application goes lets a leak checker tell it from real leaks.
void deleteMainWindow()
{
    delete mainWindow();
}

void startDriver()
{
    qAddPostRoutine(deleteMainWindow);
    QTimer *timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, drive);
    timer->start(10);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)

int main(int argc, char *argv[])
{
    return wizardMain(argc, argv);
}
