#ifndef PROPERTYCACHE_H
#define PROPERTYCACHE_H

#include "exportrecord.h"
#include "fileidentity.h"

#include <QList>
#include <QString>

#include <functional>

struct sqlite3;
struct sqlite3_stmt;

// What the reader library gave for each file, kept between runs in a per-user SQLite
// database so that an unchanged file is not read again. An answer is given back only
// for the same path and the same file unchanged (FileIdentity), read by the same build
// of the library against the same trust anchors, while now lies in the span its trust
// verdict holds for. Any fault of the database (garbage, locked too long, unwritable,
// gone) only turns the cache off for the run: it then finds nothing and keeps nothing,
// and says why once in the log. Used from one thread; processes may share the file.
class PropertyCache
{
public:
    // What every answer of a run depends on besides the file.
    struct Context
    {
        QString library; // the library's build id
        QString anchors; // the fingerprint of its trust anchors
    };

    struct Entry
    {
        int status = 0; // the library's status: only 0 (read) and 4 (signer withheld) are kept
        SoftwareProperties values;
        QString reason;
        // Seconds since 1970: the answer holds while validFrom <= now < validUntil.
        qint64 validFrom = 0;
        qint64 validUntil = 0;
        // The installer's kind as the library numbers it, -1 when it did not say.
        int installerKind = -1;
        // Empty unless the read computed them.
        QString sha256;
        QString authenticodeSha256;
    };

    // One file row of an export, with the cells as the workbook holds them (unquoted).
    struct ExportRow
    {
        QString path;
        int status = 0; // 0 read, 4 signer withheld
        SoftwareProperties cells;
    };

    explicit PropertyCache(const QString &databasePath);
    ~PropertyCache();
    PropertyCache(const PropertyCache &) = delete;
    PropertyCache &operator=(const PropertyCache &) = delete;

    // The file both front ends share, in the user's local data folder.
    static QString defaultPath();

    // Seconds since 1970 for the verdicts' spans and the entries' age; the system clock unless set.
    void setClock(std::function<qint64()> clock);
    // Entries kept at most; the least recently seen beyond it are dropped.
    void setEntryLimit(int limit);
    // How long to wait for the other front end's writes before giving up on the cache.
    void setBusyTimeout(int milliseconds);

    // Opens or creates the database; a file that is not ours or is broken is set aside
    // and a new one made. False when the cache cannot be used this run (failure() says why).
    bool open(const Context &context);
    bool isOpen() const { return database != nullptr; }
    QString failure() const { return failureText; }

    // The answer kept for path, when it still holds for the file as identity describes it
    // and tells all that is asked: the installer's kind always, the hashes when withHashes.
    bool find(const QString &path, const FileIdentity &identity, Entry &entry, bool withHashes = false);
    // Keeps an answer for the file as it was before it was read (identity). Answers that
    // cannot be told apart from a later change of the file are not kept.
    void store(const QString &path, const FileIdentity &identity, const Entry &entry);
    // Writes what is pending, marks the entries found as seen, drops old and surplus ones.
    void finish();

    // The file rows of the last successful export of folder; false when it was never
    // exported (or the cache cannot say).
    bool lastExport(const QString &folder, QList<ExportRow> &rows);
    // Replaces what lastExport gives for folder.
    bool storeExport(const QString &folder, const QList<ExportRow> &rows);

    // Entries not seen for this long are dropped.
    static const qint64 maxAgeSeconds = 90 * 24 * 3600;
    // A file changed this recently may change again within the file system's time
    // granularity without its times showing it; its answer is not kept.
    static const qint64 racySeconds = 2;

private:
    struct Pending
    {
        QString path;
        FileIdentity identity;
        Entry entry;
    };

    bool openFile();
    bool prepareSchema();
    bool addLaterColumns();
    // Turns the cache off for the run after an SQLite error, setting a broken file aside.
    void fail(const QString &what, int code);
    void setAside();
    void close();
    bool flush();
    bool execute(const char *sql);
    qint64 now() const;

    QString databasePath;
    Context context;
    std::function<qint64()> clock;
    int entryLimit = 200000;
    int busyTimeoutMs = 5000;
    sqlite3 *database = nullptr;
    sqlite3_stmt *selectStatement = nullptr;
    QList<Pending> pending;
    QList<QString> seen;
    QString failureText;
    bool setAsideOnce = false;
};

#endif
