#include "exportchecks.h"

#include "exportrecord.h"

#include "writetarget.h"

#include <QFileInfo>
#include <QTemporaryFile>

ExportOutcome::Failure ExportChecks::source(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return {ExportOutcome::SourceFolderMissing, folder, QStringLiteral("not a folder")};
    return {};
}

ExportOutcome::Failure ExportChecks::converter()
{
    const QString converter = ExportRecord::converterPath();
    if (!QFileInfo(converter).isExecutable())
        return {ExportOutcome::ConverterMissing, converter, QStringLiteral("not an executable file")};
    return {};
}

ExportOutcome::Failure ExportChecks::destination(const QString &path)
{
    // Another user's link or file is never written, whatever else holds.
    const QString refusal = Platform::writeRefusal(path);
    if (!refusal.isEmpty())
        return {ExportOutcome::DestinationRefused, path, refusal};
    const QFileInfo target(path);
    if (target.isDir())
        return {ExportOutcome::DestinationIsFolder, path, QStringLiteral("it is a folder")};
    if (target.exists() && !target.isWritable())
        return {ExportOutcome::DestinationNotWritable, path, QStringLiteral("it may not be written")};
    // The workbook is committed through a temporary file beside the destination.
    const QString folder = target.absolutePath();
    if (!QFileInfo(folder).isDir() || !canCreateFileIn(folder))
        return {ExportOutcome::DestinationFolderNotWritable, folder, QStringLiteral("its folder takes no new file")};
    return {};
}

bool ExportChecks::canCreateFileIn(const QString &folder)
{
    QTemporaryFile probe(folder + QStringLiteral("/.pelbrook-export-XXXXXX"));
    return probe.open();
}
