#ifndef EXPORTRECORD_H
#define EXPORTRECORD_H

#include <QString>

#include <functional>

class QFileInfo;

// The six values the property-reader library gives for one installer, in its output order.
struct SoftwareProperties
{
    QString qStrDigitalSign;
    QString qProductName;
    QString qProcessName;
    QString qOriginalFileName;
    QString qFileCustomMd5;
    QString qFileDescription;
};

// The console's 23-column import record, built as CSV text, and the workbook made from it.
namespace ExportRecord {

QString headerLine();

// The software-name text: letters, digits, "_-@." and common ideographs; spaces become "_".
QString cleanName(const QString &text);
// A library value as a CSV field: "?" removed (the library's stand-in for what it could
// not convert), quotes doubled, the whole enclosed in quotes.
QString quoteField(const QString &value);
// 32 lower-case hex digits of the MD5 of the folder path in UTF-8 (its own bytes where
// they are not UTF-8).
QString folderId(const QString &folderPath);

// The one blacklist column (20, 22 or 23) of a file row that says "是", from quoted values.
int blacklistColumn(const QString &quotedProductName, const QString &quotedOriginalFileName);

// 23 fields; the properties are already quoted, parentId is empty for a top-level file.
QString fileRow(const QString &name, const SoftwareProperties &quoted, const QString &parentId);
// 18 fields for a green-software folder.
QString folderRow(const QFileInfo &folder);

enum class WorkbookOutcome {
    TempFileNotWritable,
    CopyFailed,
    CopySucceeded,
    Stopped,
};

// The lock a run holds for as long as it may use the temporary files: their names are
// fixed, and the wizard and pelbrook-export may share the data folder.
QString temporaryFilesLockPath();

// Whether the file at path is a whole ZIP archive holding a workbook's sheet.
bool isWorkbook(const QString &path);

// The converter beside the program, which makes the workbook from the CSV.
QString converterPath();

// Writes csvText as "temp.csv" in a folder of this run's own in the data folder,
// converts it to "temp.csv.xlsx" and, when that is a workbook, puts it in place of
// dstPath (never through another user's link, see Platform::saveFile); the old
// destination stays until the new one is complete. Temporary files are removed in every outcome. stopRequested is polled
// while the converter runs; when it turns true nothing is committed. tempFilePath
// receives the CSV's path.
WorkbookOutcome writeWorkbook(const QString &csvText, const QString &dstPath,
                              const std::function<bool()> &stopRequested, QString *tempFilePath);

} // namespace ExportRecord

#endif
