#ifndef WORKBOOKREADER_H
#define WORKBOOKREADER_H

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// Reads a workbook with openpyxl (an independent reader) through readxlsx.py. Returns
// an empty object when the file is not a readable workbook.
inline QJsonObject readWorkbook(const QString &path)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {qEnvironmentVariable("PELBROOK_SOURCE_DIR") + QStringLiteral("/tests/converter/readxlsx.py"), path});
    if (!python.waitForFinished(60000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

// The cell texts of the first sheet, row by row, without trailing empty cells.
inline QList<QStringList> workbookRows(const QJsonObject &workbook)
{
    QList<QStringList> rows;
    for (const QJsonValue &row : workbook.value(QStringLiteral("rows")).toArray()) {
        QStringList cells;
        for (const QJsonValue &cell : row.toArray())
            cells.append(cell.isString() ? cell.toString() : QStringLiteral("<not text>"));
        rows.append(cells);
    }
    return rows;
}

#endif
