#include "propertycache.h"

#include "platform.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sqlite3.h>

namespace {

// "Pelb": tells our database from any other SQLite file left at the same name.
const int applicationId = 0x50656c62;
const int schemaVersion = 1;
// Answers written per transaction while a run goes on, so that a stopped run keeps most of them.
const int pendingLimit = 256;
// A hit is written back as seen only when its mark is older than this: an unchanged
// re-export then writes nothing.
const qint64 seenResolution = 24 * 3600;

const char schema[] =
    "PRAGMA auto_vacuum = INCREMENTAL;"
    "CREATE TABLE files ("
    " path BLOB PRIMARY KEY, device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,"
    " modified INTEGER NOT NULL, changed INTEGER NOT NULL, library TEXT NOT NULL, anchors TEXT NOT NULL,"
    " valid_from INTEGER NOT NULL, valid_until INTEGER NOT NULL, status INTEGER NOT NULL,"
    " signature BLOB, product BLOB, process BLOB, original BLOB, md5 BLOB, description BLOB, reason BLOB,"
    " last_seen INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE INDEX files_last_seen ON files (last_seen);";

// Added to databases of the first layout as they are opened: older builds name their
// columns, so they still read and write the same file.
const char *const addedColumns[] = {"installer_kind INTEGER", "sha256 TEXT", "authenticode_sha256 TEXT"};
const char exportsSchema[] =
    "CREATE TABLE IF NOT EXISTS export_folders (folder BLOB PRIMARY KEY, exported INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS export_rows (folder BLOB NOT NULL, path BLOB NOT NULL, status INTEGER NOT NULL,"
    " signature BLOB, product BLOB, process BLOB, original BLOB, md5 BLOB, description BLOB,"
    " PRIMARY KEY (folder, path)) WITHOUT ROWID;";

// Text goes in as its UTF-16 units: file names may hold lone surrogates (bytes that are
// not UTF-8), which SQLite's own text conversion would not give back unchanged.
void bindText(sqlite3_stmt *statement, int column, const QString &text)
{
    sqlite3_bind_blob(statement, column, text.utf16(), text.size() * int(sizeof(ushort)), SQLITE_TRANSIENT);
}

QString columnText(sqlite3_stmt *statement, int column)
{
    const void *data = sqlite3_column_blob(statement, column);
    const int bytes = sqlite3_column_bytes(statement, column);
    if (!data || bytes <= 0)
        return QString();
    return QString(reinterpret_cast<const QChar *>(data), bytes / int(sizeof(QChar)));
}

QString columnAscii(sqlite3_stmt *statement, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)));
}

bool isGarbage(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

struct Statement
{
    sqlite3_stmt *statement = nullptr;
    ~Statement() { sqlite3_finalize(statement); }
};

} // namespace

PropertyCache::PropertyCache(const QString &databasePath)
    : databasePath(databasePath),
      clock([] { return QDateTime::currentSecsSinceEpoch(); })
{
}

PropertyCache::~PropertyCache()
{
    close();
}

QString PropertyCache::defaultPath()
{
    // $XDG_DATA_HOME (~/.local/share) here, %LOCALAPPDATA% on Windows: the same for both front ends.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Pelbrook/cache.sqlite");
}

void PropertyCache::setClock(std::function<qint64()> clock)
{
    this->clock = std::move(clock);
}

void PropertyCache::setEntryLimit(int limit)
{
    entryLimit = qMax(1, limit);
}

void PropertyCache::setBusyTimeout(int milliseconds)
{
    busyTimeoutMs = milliseconds;
}

qint64 PropertyCache::now() const
{
    return clock();
}

bool PropertyCache::open(const Context &context)
{
    this->context = context;
    const QString refusal = Platform::preparePrivateFolder(QFileInfo(databasePath).absolutePath());
    if (!refusal.isEmpty()) {
        failureText = refusal;
        qDebug() << "PropertyCache::open=not used:" << databasePath << refusal;
        return false;
    }
    if (openFile())
        return true;
    // Set aside once: the new database is tried, a second fault only turns the cache off.
    if (setAsideOnce && openFile())
        return true;
    return false;
}

bool PropertyCache::openFile()
{
    close();
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    const int opened = sqlite3_open_v2(Platform::encodeFileName(databasePath).constData(), &database, flags, nullptr);
    if (opened != SQLITE_OK) {
        fail(QStringLiteral("cannot open"), opened);
        return false;
    }
    sqlite3_extended_result_codes(database, 1);
    sqlite3_busy_timeout(database, busyTimeoutMs);
    return prepareSchema();
}

bool PropertyCache::prepareSchema()
{
    int foundApplication = -1;
    int foundVersion = -1;
    int tables = -1;
    const struct
    {
        const char *sql;
        int *value;
    } questions[] = {{"PRAGMA application_id", &foundApplication},
                     {"PRAGMA user_version", &foundVersion},
                     {"SELECT count(*) FROM sqlite_master", &tables}};
    for (const auto &question : questions) {
        Statement query;
        int code = sqlite3_prepare_v2(database, question.sql, -1, &query.statement, nullptr);
        if (code == SQLITE_OK && (code = sqlite3_step(query.statement)) == SQLITE_ROW) {
            *question.value = sqlite3_column_int(query.statement, 0);
            continue;
        }
        fail(QStringLiteral("cannot read"), code);
        return false;
    }
    // A cache may lose its last answers in a power cut, never its consistency: no wait
    // for the disk at every commit.
    if (!execute("PRAGMA synchronous = NORMAL"))
        return false;
    if (foundApplication == 0 && foundVersion == 0 && tables == 0) {
        if (!execute("PRAGMA journal_mode = WAL") || !execute("BEGIN IMMEDIATE") || !execute(schema)
            || !execute(qPrintable(QStringLiteral("PRAGMA application_id = %1").arg(applicationId)))
            || !execute(qPrintable(QStringLiteral("PRAGMA user_version = %1").arg(schemaVersion)))
            || !execute("COMMIT"))
            return false;
    } else if (foundApplication != applicationId || foundVersion != schemaVersion) {
        // Another program's database, or one of another version of ours: not read, set aside.
        fail(QStringLiteral("not a cache of this version"), SQLITE_NOTADB);
        return false;
    } else if (!execute("PRAGMA journal_mode = WAL")) {
        return false;
    }
    if (!addLaterColumns())
        return false;
    const char select[] =
        "SELECT device, inode, size, modified, changed, library, anchors, valid_from, valid_until, status,"
        " signature, product, process, original, md5, description, reason, last_seen, installer_kind, sha256,"
        " authenticode_sha256 FROM files WHERE path = ?";
    const int code = sqlite3_prepare_v2(database, select, -1, &selectStatement, nullptr);
    if (code != SQLITE_OK) {
        fail(QStringLiteral("cannot read"), code);
        return false;
    }
    return true;
}

bool PropertyCache::addLaterColumns()
{
    QList<QByteArray> present;
    {
        Statement columns;
        int code = sqlite3_prepare_v2(database, "PRAGMA table_info(files)", -1, &columns.statement, nullptr);
        while (code == SQLITE_OK && (code = sqlite3_step(columns.statement)) == SQLITE_ROW) {
            present.append(reinterpret_cast<const char *>(sqlite3_column_text(columns.statement, 1)));
            code = SQLITE_OK;
        }
        if (code != SQLITE_DONE) {
            fail(QStringLiteral("cannot read"), code);
            return false;
        }
    }
    QByteArray sql = "BEGIN IMMEDIATE;";
    for (const char *column : addedColumns) {
        const QByteArray definition(column);
        if (!present.contains(definition.left(definition.indexOf(' '))))
            sql += "ALTER TABLE files ADD COLUMN " + definition + ";";
    }
    sql += exportsSchema;
    sql += "COMMIT;";
    return execute(sql.constData());
}

bool PropertyCache::execute(const char *sql)
{
    const int code = sqlite3_exec(database, sql, nullptr, nullptr, nullptr);
    if (code == SQLITE_OK)
        return true;
    fail(QStringLiteral("cannot write"), code);
    return false;
}

void PropertyCache::fail(const QString &what, int code)
{
    const QString detail = what + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errstr(code));
    const bool garbage = isGarbage(code);
    close();
    pending.clear();
    seen.clear();
    if (garbage && !setAsideOnce) {
        setAsideOnce = true;
        setAside();
        qDebug() << "PropertyCache=set aside" << databasePath << detail;
        return;
    }
    if (failureText.isEmpty()) {
        failureText = detail;
        qDebug() << "PropertyCache=not used:" << databasePath << detail;
    }
}

void PropertyCache::setAside()
{
    // Kept for a look, one at a time; its journal files belong to it alone.
    const QString brokenPath = databasePath + QStringLiteral(".broken");
    QFile::remove(brokenPath);
    if (!QFile::rename(databasePath, brokenPath))
        QFile::remove(databasePath);
    QFile::remove(databasePath + QStringLiteral("-wal"));
    QFile::remove(databasePath + QStringLiteral("-shm"));
}

void PropertyCache::close()
{
    sqlite3_finalize(selectStatement);
    selectStatement = nullptr;
    if (database)
        sqlite3_close_v2(database);
    database = nullptr;
}

bool PropertyCache::find(const QString &path, const FileIdentity &identity, Entry &entry, bool withHashes)
{
    if (!database || !identity.valid)
        return false;
    sqlite3_reset(selectStatement);
    bindText(selectStatement, 1, path);
    const int code = sqlite3_step(selectStatement);
    if (code == SQLITE_DONE)
        return false;
    if (code != SQLITE_ROW) {
        fail(QStringLiteral("cannot read"), code);
        return false;
    }
    sqlite3_stmt *row = selectStatement;
    FileIdentity kept;
    kept.valid = true;
    kept.device = quint64(sqlite3_column_int64(row, 0));
    kept.inode = quint64(sqlite3_column_int64(row, 1));
    kept.size = sqlite3_column_int64(row, 2);
    kept.modified = sqlite3_column_int64(row, 3);
    kept.changed = sqlite3_column_int64(row, 4);
    const qint64 validFrom = sqlite3_column_int64(row, 7);
    const qint64 validUntil = sqlite3_column_int64(row, 8);
    const int status = sqlite3_column_int(row, 9);
    const qint64 moment = now();
    // An answer of an older build does not know the kind; one read without hashes has none.
    const bool complete = sqlite3_column_type(row, 18) != SQLITE_NULL
        && (!withHashes || sqlite3_column_type(row, 19) != SQLITE_NULL);
    if (kept != identity || columnAscii(row, 5) != context.library || columnAscii(row, 6) != context.anchors
        || moment < validFrom || moment >= validUntil || (status != 0 && status != 4) || !complete) {
        sqlite3_reset(selectStatement);
        return false;
    }
    entry.status = status;
    entry.validFrom = validFrom;
    entry.validUntil = validUntil;
    entry.values.qStrDigitalSign = columnText(row, 10);
    entry.values.qProductName = columnText(row, 11);
    entry.values.qProcessName = columnText(row, 12);
    entry.values.qOriginalFileName = columnText(row, 13);
    entry.values.qFileCustomMd5 = columnText(row, 14);
    entry.values.qFileDescription = columnText(row, 15);
    entry.reason = columnText(row, 16);
    entry.installerKind = sqlite3_column_int(row, 18);
    entry.sha256 = columnAscii(row, 19);
    entry.authenticodeSha256 = columnAscii(row, 20);
    if (sqlite3_column_int64(row, 17) < moment - seenResolution)
        seen.append(path);
    sqlite3_reset(selectStatement);
    return true;
}

void PropertyCache::store(const QString &path, const FileIdentity &identity, const Entry &entry)
{
    if (!database || !identity.valid || (entry.status != 0 && entry.status != 4))
        return;
    const qint64 moment = now();
    if (moment < entry.validFrom || moment >= entry.validUntil)
        return;
    if (identity.changed / 1000000000 >= moment - racySeconds)
        return;
    pending.append({path, identity, entry});
    if (pending.size() >= pendingLimit)
        flush();
}

bool PropertyCache::flush()
{
    if (!database)
        return false;
    if (pending.isEmpty() && seen.isEmpty())
        return true;
    if (!execute("BEGIN IMMEDIATE"))
        return false;
    Statement insert;
    Statement touch;
    int code = sqlite3_prepare_v2(database,
                                  "INSERT OR REPLACE INTO files (path, device, inode, size, modified, changed,"
                                  " library, anchors, valid_from, valid_until, status, signature, product, process,"
                                  " original, md5, description, reason, last_seen, installer_kind, sha256,"
                                  " authenticode_sha256)"
                                  " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                                  -1, &insert.statement, nullptr);
    if (code == SQLITE_OK)
        code = sqlite3_prepare_v2(database, "UPDATE files SET last_seen = ? WHERE path = ?", -1, &touch.statement,
                                  nullptr);
    const qint64 moment = now();
    const QByteArray library = context.library.toUtf8();
    const QByteArray anchors = context.anchors.toUtf8();
    for (int i = 0; code == SQLITE_OK && i < pending.size(); ++i) {
        const Pending &item = pending.at(i);
        sqlite3_stmt *s = insert.statement;
        sqlite3_reset(s);
        bindText(s, 1, item.path);
        sqlite3_bind_int64(s, 2, sqlite3_int64(item.identity.device));
        sqlite3_bind_int64(s, 3, sqlite3_int64(item.identity.inode));
        sqlite3_bind_int64(s, 4, item.identity.size);
        sqlite3_bind_int64(s, 5, item.identity.modified);
        sqlite3_bind_int64(s, 6, item.identity.changed);
        sqlite3_bind_text(s, 7, library.constData(), library.size(), SQLITE_STATIC);
        sqlite3_bind_text(s, 8, anchors.constData(), anchors.size(), SQLITE_STATIC);
        sqlite3_bind_int64(s, 9, item.entry.validFrom);
        sqlite3_bind_int64(s, 10, item.entry.validUntil);
        sqlite3_bind_int(s, 11, item.entry.status);
        bindText(s, 12, item.entry.values.qStrDigitalSign);
        bindText(s, 13, item.entry.values.qProductName);
        bindText(s, 14, item.entry.values.qProcessName);
        bindText(s, 15, item.entry.values.qOriginalFileName);
        bindText(s, 16, item.entry.values.qFileCustomMd5);
        bindText(s, 17, item.entry.values.qFileDescription);
        bindText(s, 18, item.entry.reason);
        sqlite3_bind_int64(s, 19, moment);
        // -1 (the library did not say) is kept as such; NULL marks an answer of an older build.
        sqlite3_bind_int(s, 20, item.entry.installerKind);
        // A read without hashes keeps none: NULL, not an empty text, tells them apart.
        if (item.entry.sha256.isEmpty()) {
            sqlite3_bind_null(s, 21);
            sqlite3_bind_null(s, 22);
        } else {
            const QByteArray sha256 = item.entry.sha256.toLatin1();
            const QByteArray authenticode = item.entry.authenticodeSha256.toLatin1();
            sqlite3_bind_text(s, 21, sha256.constData(), sha256.size(), SQLITE_TRANSIENT);
            sqlite3_bind_text(s, 22, authenticode.constData(), authenticode.size(), SQLITE_TRANSIENT);
        }
        code = sqlite3_step(s);
        code = code == SQLITE_DONE ? SQLITE_OK : code;
    }
    for (int i = 0; code == SQLITE_OK && i < seen.size(); ++i) {
        sqlite3_reset(touch.statement);
        sqlite3_bind_int64(touch.statement, 1, moment);
        bindText(touch.statement, 2, seen.at(i));
        code = sqlite3_step(touch.statement);
        code = code == SQLITE_DONE ? SQLITE_OK : code;
    }
    if (code != SQLITE_OK) {
        sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
        fail(QStringLiteral("cannot write"), code);
        return false;
    }
    pending.clear();
    seen.clear();
    return execute("COMMIT");
}

void PropertyCache::finish()
{
    if (!flush())
        return;
    const QString prune =
        QStringLiteral("BEGIN IMMEDIATE;"
                       "DELETE FROM files WHERE last_seen < %1;"
                       "DELETE FROM files WHERE path IN (SELECT path FROM files ORDER BY last_seen"
                       " LIMIT max(0, (SELECT count(*) FROM files) - %2));"
                       "DELETE FROM export_rows WHERE folder IN (SELECT folder FROM export_folders WHERE exported < %1);"
                       "DELETE FROM export_folders WHERE exported < %1;"
                       "COMMIT;"
                       "PRAGMA incremental_vacuum;")
            .arg(now() - maxAgeSeconds)
            .arg(entryLimit);
    // On a failure the connection is closed, which also rolls the transaction back.
    execute(qPrintable(prune));
}

bool PropertyCache::lastExport(const QString &folder, QList<ExportRow> &rows)
{
    rows.clear();
    if (!database)
        return false;
    {
        Statement known;
        int code = sqlite3_prepare_v2(database, "SELECT 1 FROM export_folders WHERE folder = ?", -1, &known.statement,
                                      nullptr);
        if (code == SQLITE_OK) {
            bindText(known.statement, 1, folder);
            code = sqlite3_step(known.statement);
        }
        if (code == SQLITE_DONE)
            return false;
        if (code != SQLITE_ROW) {
            fail(QStringLiteral("cannot read"), code);
            return false;
        }
    }
    Statement query;
    int code = sqlite3_prepare_v2(database,
                                  "SELECT path, status, signature, product, process, original, md5, description"
                                  " FROM export_rows WHERE folder = ?",
                                  -1, &query.statement, nullptr);
    if (code == SQLITE_OK)
        bindText(query.statement, 1, folder);
    while (code == SQLITE_OK && (code = sqlite3_step(query.statement)) == SQLITE_ROW) {
        sqlite3_stmt *row = query.statement;
        ExportRow item;
        item.path = columnText(row, 0);
        item.status = sqlite3_column_int(row, 1);
        item.cells = {columnText(row, 2), columnText(row, 3), columnText(row, 4),
                      columnText(row, 5), columnText(row, 6), columnText(row, 7)};
        rows.append(item);
        code = SQLITE_OK;
    }
    if (code != SQLITE_DONE) {
        rows.clear();
        fail(QStringLiteral("cannot read"), code);
        return false;
    }
    return true;
}

bool PropertyCache::storeExport(const QString &folder, const QList<ExportRow> &rows)
{
    if (!database || !execute("BEGIN IMMEDIATE"))
        return false;
    Statement removal;
    Statement folderMark;
    Statement insert;
    int code = sqlite3_prepare_v2(database, "DELETE FROM export_rows WHERE folder = ?", -1, &removal.statement,
                                  nullptr);
    if (code == SQLITE_OK) {
        bindText(removal.statement, 1, folder);
        code = sqlite3_step(removal.statement);
        code = code == SQLITE_DONE ? SQLITE_OK : code;
    }
    if (code == SQLITE_OK)
        code = sqlite3_prepare_v2(database, "INSERT OR REPLACE INTO export_folders (folder, exported) VALUES (?, ?)",
                                  -1, &folderMark.statement, nullptr);
    if (code == SQLITE_OK) {
        bindText(folderMark.statement, 1, folder);
        sqlite3_bind_int64(folderMark.statement, 2, now());
        code = sqlite3_step(folderMark.statement);
        code = code == SQLITE_DONE ? SQLITE_OK : code;
    }
    if (code == SQLITE_OK)
        code = sqlite3_prepare_v2(database,
                                  "INSERT OR REPLACE INTO export_rows (folder, path, status, signature, product,"
                                  " process, original, md5, description) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                                  -1, &insert.statement, nullptr);
    for (int i = 0; code == SQLITE_OK && i < rows.size(); ++i) {
        const ExportRow &row = rows.at(i);
        sqlite3_stmt *s = insert.statement;
        sqlite3_reset(s);
        bindText(s, 1, folder);
        bindText(s, 2, row.path);
        sqlite3_bind_int(s, 3, row.status);
        bindText(s, 4, row.cells.qStrDigitalSign);
        bindText(s, 5, row.cells.qProductName);
        bindText(s, 6, row.cells.qProcessName);
        bindText(s, 7, row.cells.qOriginalFileName);
        bindText(s, 8, row.cells.qFileCustomMd5);
        bindText(s, 9, row.cells.qFileDescription);
        code = sqlite3_step(s);
        code = code == SQLITE_DONE ? SQLITE_OK : code;
    }
    if (code != SQLITE_OK) {
        sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
        fail(QStringLiteral("cannot write"), code);
        return false;
    }
    return execute("COMMIT");
}
