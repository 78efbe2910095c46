#ifndef CSVREADER_H
#define CSVREADER_H

#include <QByteArray>
#include <QList>
#include <QString>

class QIODevice;

// Reads CSV records as RFC 4180 defines them: quoted fields lose their quotes, a
// doubled quote inside them is one quote, separators and line breaks inside quotes
// belong to the field, and records end in CR LF or LF. A UTF-8 byte-order mark at the
// start is skipped. Fields come back as the input's bytes; no encoding is assumed.
class CsvReader
{
public:
    // Caps that keep memory bounded whatever the input; both are above what a
    // worksheet cell or row can hold, so no valid workbook is refused.
    static const int maxFieldBytes = 256 * 1024;
    static const int maxFieldsPerRecord = 16384;

    CsvReader(QIODevice *device, char separator);

    // The next record, or false at the end of the input or on malformed input
    // (errorString() is then not empty). A device that fails to read looks like its
    // end, so the caller checks the device afterwards.
    bool readRecord(QList<QByteArray> *fields);
    QString errorString() const;
    // Line of the input on which the last record read (or the failing one) began, from 1.
    qint64 recordLine() const;

private:
    // The next byte without consuming it, or -1 at the end of the input.
    int peek();
    void skip();
    bool fail(const QString &message);
    bool readQuotedField(QByteArray *field);
    bool readPlainField(QByteArray *field);

    QIODevice *device;
    int separator;
    QByteArray buffer;
    int position = 0;
    bool atStart = true;
    qint64 line = 1;
    qint64 startLine = 1;
    QString error;
};

#endif
