#ifndef EXPORTCHANGES_H
#define EXPORTCHANGES_H

#include "propertycache.h"

#include <QList>
#include <QString>
#include <QStringList>

// What changed in a folder's file rows since its last export: the rows are matched by
// the file's path, and a row counts as changed when a cell of it or the trust of its
// signature differs.
class ExportChanges
{
public:
    enum Kind { Added, Changed, Removed };

    struct Change
    {
        Kind kind = Changed;
        QString path;
        // Names of the fields that differ (fieldNames order); every field with a value
        // for an added or removed row.
        QStringList fields;
        // The row before and after; the missing side of an added or removed row is empty.
        PropertyCache::ExportRow before;
        PropertyCache::ExportRow after;
    };

    // In the order of the current rows, then the removed ones in their old order.
    static QList<Change> compare(const QList<PropertyCache::ExportRow> &before,
                                 const QList<PropertyCache::ExportRow> &after);

    // The names used in the change list: signature, product, process, original, md5,
    // description, trust.
    static QStringList fieldNames();
    // A row's value of one field; trust is "trusted", "untrusted" or empty (unsigned).
    static QString fieldValue(const PropertyCache::ExportRow &row, const QString &field);
};

#endif
