#include "exportchanges.h"

#include <QHash>

namespace {

// The library's status for a row whose signer is withheld because it is not trusted.
const int signerWithheld = 4;

QStringList fieldsWithValue(const PropertyCache::ExportRow &row)
{
    QStringList fields;
    for (const QString &field : ExportChanges::fieldNames())
        if (!ExportChanges::fieldValue(row, field).isEmpty())
            fields.append(field);
    return fields;
}

} // namespace

QStringList ExportChanges::fieldNames()
{
    return {QStringLiteral("signature"), QStringLiteral("product"),     QStringLiteral("process"),
            QStringLiteral("original"),  QStringLiteral("md5"),         QStringLiteral("description"),
            QStringLiteral("trust")};
}

QString ExportChanges::fieldValue(const PropertyCache::ExportRow &row, const QString &field)
{
    const SoftwareProperties &cells = row.cells;
    if (field == QLatin1String("signature"))
        return cells.qStrDigitalSign;
    if (field == QLatin1String("product"))
        return cells.qProductName;
    if (field == QLatin1String("process"))
        return cells.qProcessName;
    if (field == QLatin1String("original"))
        return cells.qOriginalFileName;
    if (field == QLatin1String("md5"))
        return cells.qFileCustomMd5;
    if (field == QLatin1String("description"))
        return cells.qFileDescription;
    // A withheld signer is a signature that is there but not trusted.
    if (row.status == signerWithheld)
        return QStringLiteral("untrusted");
    return cells.qStrDigitalSign.isEmpty() ? QString() : QStringLiteral("trusted");
}

QList<ExportChanges::Change> ExportChanges::compare(const QList<PropertyCache::ExportRow> &before,
                                                    const QList<PropertyCache::ExportRow> &after)
{
    QHash<QString, int> earlier;
    for (int i = 0; i < before.size(); ++i)
        earlier.insert(before.at(i).path, i);
    QList<Change> changes;
    QList<bool> matched;
    for (int i = 0; i < before.size(); ++i)
        matched.append(false);
    for (const PropertyCache::ExportRow &row : after) {
        const auto found = earlier.constFind(row.path);
        if (found == earlier.constEnd()) {
            changes.append({Added, row.path, fieldsWithValue(row), PropertyCache::ExportRow(), row});
            continue;
        }
        matched[found.value()] = true;
        const PropertyCache::ExportRow &old = before.at(found.value());
        QStringList differing;
        for (const QString &field : fieldNames())
            if (fieldValue(old, field) != fieldValue(row, field))
                differing.append(field);
        if (!differing.isEmpty())
            changes.append({Changed, row.path, differing, old, row});
    }
    for (int i = 0; i < before.size(); ++i)
        if (!matched.at(i))
            changes.append({Removed, before.at(i).path, fieldsWithValue(before.at(i)), before.at(i),
                            PropertyCache::ExportRow()});
    return changes;
}
