// Runs the program's own start-up and drives it like a user: it reports on stdout
// the windows the program shows ("window FrameMain", "modal <texts>") and, once a file
// named "close-request" appears in the current folder, closes the modal dialog or else
// every window, then deletes the request.
#include "wizardmain.h"

#include <QApplication>
#include <QFile>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

void report(QSet<QString> &reported, const QString &line)
{
    if (reported.contains(line))
        return;
    reported.insert(line);
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

QString widgetTexts(QWidget *dialog)
{
    QStringList texts;
    for (QWidget *child : dialog->findChildren<QWidget *>()) {
        const QString text = child->property("text").toString();
        if (!text.isEmpty())
            texts.append(text);
    }
    return texts.join(QLatin1Char('|'));
}

void watch()
{
    static QSet<QString> reported;
    QWidget *modal = QApplication::activeModalWidget();
    if (modal)
        report(reported, QStringLiteral("modal ") + widgetTexts(modal));
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->inherits("FrameMain"))
            report(reported, QStringLiteral("window FrameMain"));
    }
    if (!QFile::exists(QStringLiteral("close-request")))
        return;
    QFile::remove(QStringLiteral("close-request"));
    if (modal) {
        modal->close();
        return;
    }
    for (QWidget *window : QApplication::topLevelWidgets())
        window->close();
}

// The main window has no owner and lives until the process ends; deleting it (it
// deletes its dialog) as the application goes lets a leak checker tell it from real leaks.
void deleteMainWindow()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        // The list still holds the dialog after its deletion, so stop here.
        if (window->inherits("FrameMain")) {
            delete window;
            return;
        }
    }
}

void startDriver()
{
    qAddPostRoutine(deleteMainWindow);
    QTimer *timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, watch);
    timer->start(20);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)

int main(int argc, char *argv[])
{
    return wizardMain(argc, argv);
}
