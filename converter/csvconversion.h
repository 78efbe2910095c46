#ifndef CSVCONVERSION_H
#define CSVCONVERSION_H

#include <QString>

// Columns are sized from this many rows at the start of the sheet.
const int widthSampleRows = 20;
// Widest column, in character widths, so one long value cannot hide the others.
const int maxColumnWidth = 100;

// Display width of UTF-8 text in character widths: East Asian wide and full-width
// characters count double. The widest line of a multi-line text counts. Returns -1
// when the text is not valid UTF-8.
int displayWidth(const QByteArray &utf8);

// Sheet name for a CSV file: its base name without extension, with the characters a
// worksheet name may not hold replaced, at most 31 characters.
QString sheetNameFor(const QString &csvPath);

// Writes csvPath + ".xlsx": one worksheet, every field a text cell. The workbook is
// written under a temporary name and takes its real name only when complete, so a
// failure never leaves a partial workbook (nor touches an older one). On failure
// returns false with a message that names the cause.
bool convertCsvToXlsx(const QString &csvPath, char separator, QString *errorMessage);

#endif
