#include "csvreader.h"

#include <QIODevice>

namespace {

const int chunkSize = 64 * 1024;

} // namespace

CsvReader::CsvReader(QIODevice *device, char separator)
    : device(device)
    , separator(static_cast<unsigned char>(separator))
{
}

int CsvReader::peek()
{
    if (position >= buffer.size()) {
        buffer = device->read(chunkSize);
        position = 0;
        if (buffer.isEmpty())
            return -1;
    }
    return static_cast<unsigned char>(buffer.at(position));
}

void CsvReader::skip()
{
    if (buffer.at(position) == '\n')
        ++line;
    ++position;
}

bool CsvReader::fail(const QString &message)
{
    error = message;
    return false;
}

QString CsvReader::errorString() const
{
    return error;
}

qint64 CsvReader::recordLine() const
{
    return startLine;
}

bool CsvReader::readRecord(QList<QByteArray> *fields)
{
    fields->clear();
    if (!error.isEmpty())
        return false;

    if (atStart) {
        atStart = false;
        static const char bom[] = "\xEF\xBB\xBF";
        if (peek() != -1 && buffer.startsWith(bom))
            position += 3;
    }
    if (peek() == -1)
        return false;

    startLine = line;
    forever {
        if (fields->size() == maxFieldsPerRecord)
            return fail(QStringLiteral("line %1: more than %2 fields").arg(startLine).arg(maxFieldsPerRecord));
        QByteArray field;
        const bool ok = peek() == '"' ? readQuotedField(&field) : readPlainField(&field);
        if (!ok)
            return false;
        fields->append(field);

        const int c = peek();
        if (c == separator) {
            skip();
            continue;
        }
        if (c == '\r') {
            skip();
            if (peek() == '\n')
                skip();
        } else if (c == '\n') {
            skip();
        }
        return true;
    }
}

bool CsvReader::readQuotedField(QByteArray *field)
{
    skip();
    forever {
        const int c = peek();
        if (c == -1)
            return fail(QStringLiteral("line %1: quoted field not closed before the end of the file").arg(startLine));
        skip();
        if (c == '"') {
            if (peek() != '"') {
                const int next = peek();
                if (next == -1 || next == separator || next == '\r' || next == '\n')
                    return true;
                return fail(QStringLiteral("line %1: text after the closing quote of a field").arg(line));
            }
            skip();
        }
        if (field->size() == maxFieldBytes)
            return fail(QStringLiteral("line %1: field longer than %2 bytes").arg(startLine).arg(maxFieldBytes));
        field->append(static_cast<char>(c));
    }
}

bool CsvReader::readPlainField(QByteArray *field)
{
    forever {
        const int c = peek();
        if (c == -1 || c == separator || c == '\r' || c == '\n')
            return true;
        if (field->size() == maxFieldBytes)
            return fail(QStringLiteral("line %1: field longer than %2 bytes").arg(startLine).arg(maxFieldBytes));
        field->append(static_cast<char>(c));
        skip();
    }
}
