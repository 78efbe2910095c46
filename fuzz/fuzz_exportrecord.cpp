// The export's text helpers on any text: the software name and the quoted CSV field.
// A quoted field must read back, through the converter's own CSV reader, as the value
// without its "?" characters.
#include "csvreader.h"
#include "exportrecord.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const QString name = ExportRecord::cleanName(text);
    if (name.contains(QLatin1Char(',')) || name.contains(QLatin1Char('"')) || name.contains(QLatin1Char('\n')))
        std::abort();

    QByteArray line = ExportRecord::quoteField(text).toUtf8();
    line.append("\r\n");
    QBuffer buffer(&line);
    buffer.open(QIODevice::ReadOnly);
    CsvReader reader(&buffer, ',');
    QList<QByteArray> fields;
    const QByteArray expected = QString(text).remove(QLatin1Char('?')).toUtf8();
    if (expected.size() <= CsvReader::maxFieldBytes
        && (!reader.readRecord(&fields) || fields.size() != 1 || fields.first() != expected))
        std::abort();
    return 0;
}
