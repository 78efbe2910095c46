#ifndef EXPORTOUTCOME_H
#define EXPORTOUTCOME_H

#include "exportchanges.h"

#include <QList>
#include <QString>

// What one export run came to, as the worker leaves it for the front ends: how each
// installer fared, the counts they report, the comparison with the folder's last
// export, and why a run ended early. The texts both front ends show for these live
// here too, so that the wizard and pelbrook-export word a failure the same way.
class ExportOutcome
{
public:
    // Why an export ended, or was refused, before its workbook was written.
    enum Reason {
        NoFailure = 0,
        SourceFolderMissing = 1,
        ReaderNotLoadable = 2,
        TempFileNotWritable = 3,
        // Another export (the other front end) is using the temporary files.
        TempFilesInUse = 4,
        // The lock of the temporary files is not this user's plain file: planted, not another export's.
        TempFilesLockNotOurs = 5,
        // The destination is another user's link or file; nothing was written.
        DestinationRefused = 6,
        DestinationIsFolder = 7,
        DestinationNotWritable = 8,
        // The workbook is committed through a new file beside the destination.
        DestinationFolderNotWritable = 9,
        ConverterMissing = 10,
    };

    // A reason and the path it concerns (what was missing, refused or unwritable).
    struct Failure
    {
        Failure() = default;
        Failure(Reason reason, const QString &path, const QString &detail = QString())
            : reason(reason), path(path), detail(detail)
        {
        }

        Reason reason = NoFailure;
        QString path;
        // Why, in a few words, for the log.
        QString detail;

        bool failed() const { return reason != NoFailure; }
        QString text() const { return failureText(reason, path); }
    };

    // What became of one installer.
    struct File
    {
        QString path;
        int status; // the library's status (ReaderLibrary::Status), PathTooLong or Unstable
        QString reason;
        bool cached; // the answer came from the cache
        // The installer's kind as the library numbers it, -1 when not known.
        int installerKind = -1;
        // Only when the run asked for them.
        QString sha256;
        QString authenticodeSha256;
        // Its row has neither product name nor original file name: the console can
        // match it by its MD5 alone, which the next version of the file changes.
        bool md5Only = false;
    };
    // Left out because its path does not fit the library's buffer.
    static const int PathTooLong = -1;
    // Its size or times changed during each of two reads: no row, counted as unreadable.
    static const int Unstable = -2;

    // The destination the run wrote, or would have written.
    QString destination;
    // The workbook replaced the destination.
    bool copySucceeded = false;
    // Set when the run ended before its final progress record.
    Failure failure;
    // Every installer, in scan order, and every folder the scan could not list.
    QList<File> files;
    // Installers left out because their path is too long.
    int tooLong = 0;
    // Installers the library could not read, those that changed while read and folders
    // that could not be listed; they get no row.
    int unreadable = 0;
    // Installers whose signature is not trusted; their signer is left empty.
    int untrusted = 0;
    // Rows written: one per installer read, one per green-software folder holding one.
    int installerRows = 0;
    int folderRows = 0;
    // Installers whose answer came from the cache of earlier runs.
    int cached = 0;
    // Whether the rows were compared with the folder's last export: only with the
    // cache, after a written workbook.
    bool changesCompared = false;
    // Whether the folder had been exported before, when the rows were compared.
    bool exportedBefore = false;
    // The rows new, changed or gone since the folder's last export.
    QList<ExportChanges::Change> changes;

    // How many of the changes are of kind.
    int changeCount(ExportChanges::Kind kind) const;

    // "提取失败，" and what failed, then path.
    static QString failureText(int reason, const QString &path);
    // A workbook not written at the end of the run: for the wizard's message, which names
    // the file only, and for the console, which names the whole path.
    static QString workbookFailureMessage(const QString &destination);
    static QString workbookFailureLine(const QString &destination);
    // What an installer without values, or with its signer withheld, is listed as.
    static QString statusText(int status);
    // What a row with File::md5Only means for the console's rule.
    static QString md5OnlyNote();
};

#endif
