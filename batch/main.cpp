// pelbrook-export: the wizard's export from a script or a scheduled job.
#include "batchexport.h"
#include "commandline.h"
#include "consoleinterrupt.h"
#include "loghandler.h"
#include "platform.h"
#include "progressreport.h"
#include "terminal.h"
#include "threadsoftwareinfo.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const CommandLine commandLine(app.arguments().mid(1));
    if (commandLine.isHelp()) {
        Terminal::writeStdout(CommandLine::usage());
        return 0;
    }
    if (!commandLine.ok()) {
        Terminal::writeStderr(QStringLiteral("pelbrook-export: ") + commandLine.error() + QLatin1Char('\n')
                              + CommandLine::usage());
        return 2;
    }

    // The engine's own messages go to the program's log file, as in the wizard.
    qInstallMessageHandler(logMessageHandler);
    qDebug() << "pelbrook-export start";

    ConsoleInterrupt interrupt;
    ProgressReport report(commandLine.quiet());
    BatchExport batch(commandLine.sourceFolder(), commandLine.destination(), commandLine.jobs(), &report);
    if (commandLine.noCache())
        batch.setCacheMode(ThreadSoftwareInfo::CacheOff);
    else if (commandLine.rebuildCache())
        batch.setCacheMode(ThreadSoftwareInfo::CacheRebuild);
    batch.setReportFile(commandLine.reportFile());
    batch.setHashes(commandLine.hashes());
    batch.setChangesFile(commandLine.changesFile());
    QObject::connect(&interrupt, &ConsoleInterrupt::interrupted, &batch, &BatchExport::interrupt);
    QObject::connect(&batch, &BatchExport::ended, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    batch.start();
    const int code = app.exec();
    qDebug() << "pelbrook-export end" << code;
    // As the wizard does: the library's log of this run, wherever the library kept it.
    const Platform::ReaderLogPlace readerLog = Platform::readerLogPlace();
    for (const QString &path : {readerLog.path, readerLog.fallbackPath}) {
        if (!path.isEmpty() && QFile::exists(path))
            QFile::remove(path);
    }
    if (batch.interruptSignal() != 0)
        ConsoleInterrupt::endProcess(batch.interruptSignal());
    return code;
}
