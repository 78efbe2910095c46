// The converter's CSV reader over a whole input, record by record.
#include "csvreader.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    CsvReader reader(&buffer, ',');
    QList<QByteArray> fields;
    while (reader.readRecord(&fields)) {
    }
    return 0;
}
