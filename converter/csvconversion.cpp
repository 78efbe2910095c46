#include "csvconversion.h"

#include "csvreader.h"
#include "platform.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <xlsxwriter.h>

namespace {

bool isWide(uint codePoint)
{
    return (codePoint >= 0x1100 && codePoint <= 0x115F) || (codePoint >= 0x2E80 && codePoint <= 0xA4CF && codePoint != 0x303F)
        || (codePoint >= 0xAC00 && codePoint <= 0xD7A3) || (codePoint >= 0xF900 && codePoint <= 0xFAFF)
        || (codePoint >= 0xFE30 && codePoint <= 0xFE4F) || (codePoint >= 0xFF00 && codePoint <= 0xFF60)
        || (codePoint >= 0xFFE0 && codePoint <= 0xFFE6) || (codePoint >= 0x20000 && codePoint <= 0x3FFFD);
}

// A worksheet shows "_xHHHH_" as the character HHHH, so a literal one keeps its
// underscore by writing that as "_x005F_".
QByteArray protectEscapePatterns(const QByteArray &text)
{
    if (!text.contains("_x"))
        return text;
    QByteArray result;
    result.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        bool pattern = text.at(i) == '_' && i + 6 < text.size() && text.at(i + 1) == 'x' && text.at(i + 6) == '_';
        for (int k = 2; pattern && k < 6; ++k)
            pattern = isxdigit(static_cast<unsigned char>(text.at(i + k)));
        if (pattern)
            result.append("_x005F_");
        else
            result.append(text.at(i));
    }
    return result;
}

QString libraryError(lxw_error error)
{
    return QString::fromUtf8(lxw_strerror(error));
}

class Conversion
{
public:
    Conversion(const QString &csvPath, char separator)
        : csvPath(csvPath)
        , separator(separator)
        , partialPath(csvPath + QStringLiteral(".xlsx.part"))
    {
    }

    ~Conversion()
    {
        if (workbook)
            lxw_workbook_free(workbook);
        if (!complete)
            QFile::remove(partialPath);
    }

    bool run(QString *errorMessage);

private:
    bool writeRecord(const QList<QByteArray> &fields, QString *errorMessage);

    QString csvPath;
    char separator;
    QString partialPath;
    lxw_workbook *workbook = nullptr;
    lxw_worksheet *worksheet = nullptr;
    lxw_row_t row = 0;
    bool complete = false;
};

bool Conversion::writeRecord(const QList<QByteArray> &fields, QString *errorMessage)
{
    if (row >= LXW_ROW_MAX) {
        *errorMessage = QStringLiteral("more than %1 rows").arg(LXW_ROW_MAX);
        return false;
    }
    for (int column = 0; column < fields.size(); ++column) {
        const QByteArray &field = fields.at(column);
        if (field.isEmpty())
            continue;
        if (displayWidth(field) < 0) {
            *errorMessage = QStringLiteral("row %1, column %2: text is not UTF-8").arg(row + 1).arg(column + 1);
            return false;
        }
        const lxw_error error = worksheet_write_string(worksheet, row, static_cast<lxw_col_t>(column),
                                                       protectEscapePatterns(field).constData(), nullptr);
        if (error != LXW_NO_ERROR) {
            *errorMessage = QStringLiteral("row %1, column %2: %3").arg(row + 1).arg(column + 1).arg(libraryError(error));
            return false;
        }
    }
    ++row;
    return true;
}

bool Conversion::run(QString *errorMessage)
{
    QFile csv(csvPath);
    if (!csv.open(QIODevice::ReadOnly)) {
        *errorMessage = QStringLiteral("cannot open %1: %2").arg(csvPath, csv.errorString());
        return false;
    }

    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    workbook = workbook_new_opt(Platform::encodeFileName(partialPath).constData(), &options);
    if (!workbook) {
        *errorMessage = QStringLiteral("cannot start a workbook for %1").arg(csvPath);
        return false;
    }
    const QString sheetName = sheetNameFor(csvPath);
    worksheet = workbook_add_worksheet(workbook, sheetName.toUtf8().constData());
    if (!worksheet) {
        *errorMessage = QStringLiteral("cannot add the worksheet \"%1\"").arg(sheetName);
        return false;
    }

    CsvReader reader(&csv, separator);
    QList<QByteArray> fields;
    QList<QList<QByteArray>> sample;
    QList<int> widths;
    bool more = true;
    while (sample.size() < widthSampleRows && (more = reader.readRecord(&fields))) {
        sample.append(fields);
        for (int column = 0; column < fields.size(); ++column) {
            if (column >= widths.size())
                widths.append(0);
            widths[column] = qMax(widths.at(column), displayWidth(fields.at(column)));
        }
    }
    for (int column = 0; column < widths.size(); ++column) {
        if (widths.at(column) > 0)
            worksheet_set_column(worksheet, static_cast<lxw_col_t>(column), static_cast<lxw_col_t>(column),
                                 qMin(widths.at(column) + 1, maxColumnWidth), nullptr);
    }
    for (const QList<QByteArray> &record : qAsConst(sample)) {
        if (!writeRecord(record, errorMessage))
            return false;
    }
    while (more && reader.readRecord(&fields)) {
        if (!writeRecord(fields, errorMessage))
            return false;
    }
    if (!reader.errorString().isEmpty()) {
        *errorMessage = csvPath + QStringLiteral(": ") + reader.errorString();
        return false;
    }
    if (csv.error() != QFileDevice::NoError) {
        *errorMessage = QStringLiteral("cannot read %1: %2").arg(csvPath, csv.errorString());
        return false;
    }

    const lxw_error closed = workbook_close(workbook);
    workbook = nullptr;
    if (closed != LXW_NO_ERROR) {
        *errorMessage = QStringLiteral("cannot write %1: %2").arg(partialPath, libraryError(closed));
        return false;
    }

    const QString target = csvPath + QStringLiteral(".xlsx");
    if (QFile::exists(target) && !QFile::remove(target)) {
        *errorMessage = QStringLiteral("cannot replace %1").arg(target);
        return false;
    }
    QFile partial(partialPath);
    if (!partial.rename(target)) {
        *errorMessage = QStringLiteral("cannot rename %1 to %2: %3").arg(partialPath, target, partial.errorString());
        return false;
    }
    complete = true;
    return true;
}

} // namespace

int displayWidth(const QByteArray &utf8)
{
    int longest = 0;
    int current = 0;
    const int size = utf8.size();
    for (int i = 0; i < size;) {
        const uint lead = static_cast<unsigned char>(utf8.at(i));
        int length;
        uint codePoint;
        uint minimum;
        if (lead < 0x80) {
            length = 1;
            codePoint = lead;
            minimum = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            codePoint = lead & 0x1F;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            codePoint = lead & 0x0F;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            codePoint = lead & 0x07;
            minimum = 0x10000;
        } else {
            return -1;
        }
        if (i + length > size)
            return -1;
        for (int k = 1; k < length; ++k) {
            const uint next = static_cast<unsigned char>(utf8.at(i + k));
            if ((next & 0xC0) != 0x80)
                return -1;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return -1;
        i += length;

        if (codePoint == '\n' || codePoint == '\r') {
            current = 0;
            continue;
        }
        current += isWide(codePoint) ? 2 : 1;
        longest = qMax(longest, current);
    }
    return longest;
}

QString sheetNameFor(const QString &csvPath)
{
    QString name = QFileInfo(csvPath).completeBaseName();
    for (QChar &c : name) {
        if (QStringLiteral("[]:*?/\\").contains(c))
            c = QLatin1Char('_');
    }
    const QVector<uint> codePoints = name.toUcs4();
    if (codePoints.size() > LXW_SHEETNAME_MAX)
        name = QString::fromUcs4(codePoints.constData(), LXW_SHEETNAME_MAX);
    while (name.startsWith(QLatin1Char('\'')))
        name.remove(0, 1);
    while (name.endsWith(QLatin1Char('\'')))
        name.chop(1);
    return name.isEmpty() ? QStringLiteral("Sheet1") : name;
}

bool convertCsvToXlsx(const QString &csvPath, char separator, QString *errorMessage)
{
    Conversion conversion(csvPath, separator);
    return conversion.run(errorMessage);
}
