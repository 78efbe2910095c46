// pelbrook-export: the wizard's export from a script or a scheduled job.
#include "batchexport.h"
#include "commandline.h"
#include "consoleinterrupt.h"
#include "loghandler.h"
#include "progressreport.h"
#include "threadsoftwareinfo.h"

#include <QCoreApplication>
#include <QDebug>

#include <cstdio>

namespace {

void writeError(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const CommandLine commandLine(app.arguments().mid(1));
    if (commandLine.isHelp()) {
        const QByteArray usage = CommandLine::usage().toUtf8();
        std::fwrite(usage.constData(), 1, size_t(usage.size()), stdout);
        return 0;
    }
    if (!commandLine.ok()) {
        writeError(QStringLiteral("pelbrook-export: ") + commandLine.error() + QLatin1Char('\n') + CommandLine::usage());
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
    if (batch.interruptSignal() != 0)
        ConsoleInterrupt::endProcess(batch.interruptSignal());
    return code;
}
