// The cache of answers between runs: when an answer may be given back, and what a
// broken, locked, unwritable or vanished database does to a run.
#include "propertycache.h"

#include "fileidentity.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <thread>

#include <unistd.h>

namespace {

const qint64 day = 24 * 3600;
// The moment the answers are first kept; files last changed well before it.
const qint64 start = 1700000000;

FileIdentity someFile()
{
    FileIdentity identity;
    identity.valid = true;
    identity.device = 2049;
    identity.inode = 1234567;
    identity.size = 4096;
    identity.modified = (start - day) * 1000000000 + 17;
    identity.changed = (start - day) * 1000000000 + 23;
    return identity;
}

PropertyCache::Entry someAnswer(int status = 0)
{
    PropertyCache::Entry entry;
    entry.status = status;
    entry.values.qStrDigitalSign = QStringLiteral("Example Signer");
    entry.values.qProductName = QStringLiteral("产品");
    // A name whose byte 0xB0 is not UTF-8 travels as the lone surrogate U+DCB0.
    entry.values.qProcessName = QStringLiteral("setup") + QChar(0xDCB0) + QStringLiteral(".exe");
    entry.values.qFileCustomMd5 = QStringLiteral("0123456789abcdef0123456789abcdef");
    entry.reason = QStringLiteral("PE32; signed by Example Signer");
    entry.validFrom = start - 10 * day;
    entry.validUntil = start + 30 * day;
    return entry;
}

const PropertyCache::Context context{QStringLiteral("sha256:aa OpenSSL 3"), QStringLiteral("ff00")};

} // namespace

class TestPropertyCache : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void invalidation_data();
    void invalidation();
    void faults_data();
    void faults();
    void plantedLinkRefused();
    void twoWritersAtOnce();
    void oldAndSurplusEntriesDropped();
    void kindAndHashes();
    void olderLayout();
    void lastExports();

private:
    QString databasePath() const { return folder->filePath(QStringLiteral("Pelbrook/cache.sqlite")); }
    QScopedPointer<QTemporaryDir> folder;
};

void TestPropertyCache::init()
{
    folder.reset(new QTemporaryDir);
    QVERIFY(folder->isValid());
}

// Which difference between the run that kept an answer and the run that looks for it
// makes the answer unusable. The file's content shows only through its times: a
// rewrite with size and modification time put back still moves the change time.
void TestPropertyCache::invalidation_data()
{
    QTest::addColumn<int>("status");      // the answer kept
    QTest::addColumn<qint64>("changedAt"); // the file's change time when it was kept, seconds
    QTest::addColumn<QString>("what");    // what differs at the look-up
    QTest::addColumn<bool>("found");

    const qint64 old = start - day;
    QTest::newRow("nothing changed") << 0 << old << "" << true;
    QTest::newRow("untrusted, nothing changed") << 4 << old << "" << true;
    QTest::newRow("content rewritten, times put back") << 0 << old << "changed" << false;
    QTest::newRow("size") << 0 << old << "size" << false;
    QTest::newRow("modification time") << 0 << old << "modified" << false;
    QTest::newRow("modification time by a nanosecond") << 0 << old << "modified+1ns" << false;
    QTest::newRow("inode: replaced by another file") << 0 << old << "inode" << false;
    QTest::newRow("device") << 0 << old << "device" << false;
    QTest::newRow("another path") << 0 << old << "path" << false;
    QTest::newRow("file gone") << 0 << old << "gone" << false;
    QTest::newRow("another library build") << 0 << old << "library" << false;
    QTest::newRow("trust anchors changed") << 0 << old << "anchors" << false;
    QTest::newRow("now still inside the verdict's span") << 0 << old << "later" << true;
    QTest::newRow("now past the verdict's span") << 4 << old << "past span" << false;
    QTest::newRow("now back before the verdict's span") << 4 << old << "before span" << false;
    QTest::newRow("not readable: never kept") << 1 << old << "" << false;
    QTest::newRow("cancelled: never kept") << 5 << old << "" << false;
    QTest::newRow("changed just before the read: not kept") << 0 << start - 1 << "" << false;
}

void TestPropertyCache::invalidation()
{
    QFETCH(int, status);
    QFETCH(qint64, changedAt);
    QFETCH(QString, what);
    QFETCH(bool, found);

    const QString path = QStringLiteral("/share/setup.exe");
    FileIdentity identity = someFile();
    identity.changed = changedAt * 1000000000;
    {
        PropertyCache cache(databasePath());
        cache.setClock([] { return start; });
        QVERIFY(cache.open(context));
        cache.store(path, identity, someAnswer(status));
        cache.finish();
    }

    PropertyCache::Context now = context;
    FileIdentity seen = identity;
    QString seenPath = path;
    qint64 moment = start + 3600;
    if (what == QLatin1String("changed"))
        seen.changed += 5000000;
    else if (what == QLatin1String("size"))
        seen.size += 1;
    else if (what == QLatin1String("modified"))
        seen.modified += 1000000000;
    else if (what == QLatin1String("modified+1ns"))
        seen.modified += 1;
    else if (what == QLatin1String("inode"))
        seen.inode += 1;
    else if (what == QLatin1String("device"))
        seen.device += 1;
    else if (what == QLatin1String("path"))
        seenPath = QStringLiteral("/share/Setup.exe");
    else if (what == QLatin1String("gone"))
        seen = FileIdentity();
    else if (what == QLatin1String("library"))
        now.library = QStringLiteral("sha256:bb OpenSSL 3");
    else if (what == QLatin1String("anchors"))
        now.anchors = QStringLiteral("ff01");
    else if (what == QLatin1String("later"))
        moment = start + 29 * day;
    else if (what == QLatin1String("past span"))
        moment = start + 30 * day;
    else if (what == QLatin1String("before span"))
        moment = start - 11 * day;

    PropertyCache cache(databasePath());
    cache.setClock([moment] { return moment; });
    QVERIFY(cache.open(now));
    PropertyCache::Entry entry;
    QCOMPARE(cache.find(seenPath, seen, entry), found);
    if (found) {
        const PropertyCache::Entry kept = someAnswer(status);
        QCOMPARE(entry.status, kept.status);
        QCOMPARE(entry.values.qStrDigitalSign, kept.values.qStrDigitalSign);
        QCOMPARE(entry.values.qProductName, kept.values.qProductName);
        QCOMPARE(entry.values.qProcessName, kept.values.qProcessName);
        QCOMPARE(entry.values.qFileCustomMd5, kept.values.qFileCustomMd5);
        QCOMPARE(entry.values.qOriginalFileName, QString());
        QCOMPARE(entry.reason, kept.reason);
    }
}

void TestPropertyCache::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("setAside"); // a new, working database replaces the old one
    QTest::newRow("garbage") << "garbage" << true;
    QTest::newRow("another program's database") << "foreign" << true;
    QTest::newRow("locked by another writer") << "locked" << false;
    QTest::newRow("folder not writable") << "unwritable" << false;
    QTest::newRow("a file where the folder should be") << "file for folder" << false;
    QTest::newRow("deleted during the run") << "deleted" << false;
}

// No fault fails the run or gives a wrong answer: at worst the cache finds nothing.
void TestPropertyCache::faults()
{
    QFETCH(QString, fault);
    QFETCH(bool, setAside);
    if (fault == QLatin1String("unwritable") && ::geteuid() == 0)
        QSKIP("root writes any folder");

    const QString path = QStringLiteral("/share/a.exe");
    const auto clock = [] { return start; };
    {
        PropertyCache cache(databasePath());
        cache.setClock(clock);
        QVERIFY(cache.open(context));
        cache.store(path, someFile(), someAnswer());
        cache.finish();
    }

    sqlite3 *other = nullptr;
    if (fault == QLatin1String("garbage")) {
        QFile file(databasePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, '\x5a'));
    } else if (fault == QLatin1String("foreign")) {
        QVERIFY(QFile::remove(databasePath()));
        QVERIFY(sqlite3_open(databasePath().toUtf8().constData(), &other) == SQLITE_OK);
        QVERIFY(sqlite3_exec(other, "CREATE TABLE files (path TEXT)", nullptr, nullptr, nullptr) == SQLITE_OK);
        sqlite3_close(other);
        other = nullptr;
    } else if (fault == QLatin1String("locked")) {
        QVERIFY(sqlite3_open(databasePath().toUtf8().constData(), &other) == SQLITE_OK);
        QVERIFY(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK);
    } else if (fault == QLatin1String("file for folder")) {
        const QString cacheFolder = QFileInfo(databasePath()).path();
        QVERIFY(QDir(cacheFolder).removeRecursively());
        QFile file(cacheFolder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (fault == QLatin1String("unwritable")) {
        QVERIFY(QFile::remove(databasePath()));
        QVERIFY(QFile::setPermissions(QFileInfo(databasePath()).path(), QFile::ReadOwner | QFile::ExeOwner));
    }

    PropertyCache cache(databasePath());
    cache.setClock(clock);
    cache.setBusyTimeout(50);
    const bool opened = cache.open(context);
    if (fault == QLatin1String("deleted")) {
        QVERIFY(opened);
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(databasePath() + QLatin1String(suffix));
    }
    PropertyCache::Entry entry;
    const bool found = cache.find(path, someFile(), entry);
    // Only the untouched database may still give its answer, and then the right one.
    if (found)
        QCOMPARE(entry.values.qStrDigitalSign, someAnswer().values.qStrDigitalSign);
    QVERIFY(!found || fault == QLatin1String("locked") || fault == QLatin1String("deleted"));
    cache.store(QStringLiteral("/share/b.exe"), someFile(), someAnswer());
    cache.finish();
    if (other) {
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
    }
    if (fault == QLatin1String("unwritable"))
        QFile::setPermissions(QFileInfo(databasePath()).path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QCOMPARE(QFile::exists(databasePath() + QStringLiteral(".broken")), setAside);
    if (setAside) {
        // The new database works from the same run on.
        QVERIFY(opened);
        PropertyCache next(databasePath());
        next.setClock(clock);
        QVERIFY(next.open(context));
        QVERIFY(next.find(QStringLiteral("/share/b.exe"), someFile(), entry));
    } else if (fault != QLatin1String("deleted")) {
        QVERIFY(!cache.failure().isEmpty());
    }
}

// The cache's folder is made private; a link planted in its place is not followed.
void TestPropertyCache::plantedLinkRefused()
{
    const QString elsewhere = folder->filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QFile::link(elsewhere, folder->filePath(QStringLiteral("Pelbrook"))));
    PropertyCache cache(databasePath());
    QVERIFY(!cache.open(context));
    QVERIFY(!cache.failure().isEmpty());
    QVERIFY(QDir(elsewhere).isEmpty());

    QVERIFY(QFile::remove(folder->filePath(QStringLiteral("Pelbrook"))));
    PropertyCache fresh(databasePath());
    QVERIFY(fresh.open(context));
    QCOMPARE(QFileInfo(QFileInfo(databasePath()).path()).permissions() & (QFile::WriteGroup | QFile::WriteOther),
             QFile::Permissions());
}

// The wizard and pelbrook-export keep and find answers in one database at the same time.
void TestPropertyCache::twoWritersAtOnce()
{
    const int files = 600;
    const auto writer = [this](QString name, bool *ok) {
        PropertyCache cache(databasePath());
        cache.setClock([] { return start; });
        *ok = cache.open(context);
        for (int i = 0; *ok && i < files; ++i) {
            FileIdentity identity = someFile();
            identity.inode = quint64(i);
            cache.store(QStringLiteral("/share/%1/%2.exe").arg(name).arg(i), identity, someAnswer());
        }
        cache.finish();
        *ok = *ok && cache.failure().isEmpty();
    };
    {
        // Created first, so that both threads open an existing database.
        PropertyCache cache(databasePath());
        QVERIFY(cache.open(context));
    }
    bool firstOk = false;
    bool secondOk = false;
    std::thread first(writer, QStringLiteral("wizard"), &firstOk);
    std::thread second(writer, QStringLiteral("export"), &secondOk);
    first.join();
    second.join();
    QVERIFY(firstOk);
    QVERIFY(secondOk);

    PropertyCache cache(databasePath());
    cache.setClock([] { return start; });
    QVERIFY(cache.open(context));
    for (const QString &name : {QStringLiteral("wizard"), QStringLiteral("export")}) {
        for (int i = 0; i < files; i += 97) {
            FileIdentity identity = someFile();
            identity.inode = quint64(i);
            PropertyCache::Entry entry;
            QVERIFY2(cache.find(QStringLiteral("/share/%1/%2.exe").arg(name).arg(i), identity, entry),
                     qPrintable(name + QString::number(i)));
        }
    }
}

// Entries not seen for 90 days go, and beyond the limit the least recently seen go first.
void TestPropertyCache::oldAndSurplusEntriesDropped()
{
    qint64 moment = start;
    const auto clock = [&moment] { return moment; };
    const auto keep = [&](const QString &path) {
        PropertyCache cache(databasePath());
        cache.setClock(clock);
        cache.setEntryLimit(2);
        QVERIFY(cache.open(context));
        PropertyCache::Entry entry = someAnswer();
        entry.validUntil = start + 1000 * day;
        cache.store(path, someFile(), entry);
        cache.finish();
    };
    const auto present = [&](const QString &path) {
        PropertyCache cache(databasePath());
        cache.setClock(clock);
        PropertyCache::Entry entry;
        return cache.open(context) && cache.find(path, someFile(), entry);
    };
    keep(QStringLiteral("/a.exe"));
    moment += day;
    keep(QStringLiteral("/b.exe"));
    moment += day;
    // Seen again: now the most recent of the two.
    QVERIFY(present(QStringLiteral("/a.exe")));
    {
        PropertyCache cache(databasePath());
        cache.setClock(clock);
        QVERIFY(cache.open(context));
        PropertyCache::Entry entry;
        QVERIFY(cache.find(QStringLiteral("/a.exe"), someFile(), entry));
        cache.finish();
    }
    moment += day;
    keep(QStringLiteral("/c.exe"));
    QVERIFY(present(QStringLiteral("/a.exe")));
    QVERIFY(!present(QStringLiteral("/b.exe")));
    QVERIFY(present(QStringLiteral("/c.exe")));

    // a was last seen a day before c: only a is past the age.
    moment += PropertyCache::maxAgeSeconds - day / 2;
    keep(QStringLiteral("/d.exe"));
    QVERIFY(!present(QStringLiteral("/a.exe")));
    QVERIFY(present(QStringLiteral("/c.exe")));
    QVERIFY(present(QStringLiteral("/d.exe")));
}

// An answer gives back the installer's kind and the hashes it was read with; one read
// without hashes does not serve a run that asks for them.
void TestPropertyCache::kindAndHashes()
{
    const auto clock = [] { return start; };
    PropertyCache::Entry entry = someAnswer();
    entry.installerKind = 2;
    {
        PropertyCache cache(databasePath());
        cache.setClock(clock);
        QVERIFY(cache.open(context));
        cache.store(QStringLiteral("/plain.exe"), someFile(), entry);
        entry.sha256 = QString(64, QLatin1Char('a'));
        entry.authenticodeSha256 = QString(64, QLatin1Char('b'));
        cache.store(QStringLiteral("/hashed.exe"), someFile(), entry);
        cache.finish();
    }
    PropertyCache cache(databasePath());
    cache.setClock(clock);
    QVERIFY(cache.open(context));
    PropertyCache::Entry found;
    QVERIFY(cache.find(QStringLiteral("/plain.exe"), someFile(), found));
    QCOMPARE(found.installerKind, 2);
    QCOMPARE(found.sha256, QString());
    QVERIFY(!cache.find(QStringLiteral("/plain.exe"), someFile(), found, true));
    QVERIFY(cache.find(QStringLiteral("/hashed.exe"), someFile(), found, true));
    QCOMPARE(found.sha256, entry.sha256);
    QCOMPARE(found.authenticodeSha256, entry.authenticodeSha256);
}

// A database of the first layout gains the new columns and tables as it is opened; its
// answers, which do not know the installer's kind, are read again.
void TestPropertyCache::olderLayout()
{
    const auto clock = [] { return start; };
    {
        PropertyCache cache(databasePath());
        cache.setClock(clock);
        QVERIFY(cache.open(context));
        cache.store(QStringLiteral("/a.exe"), someFile(), someAnswer());
        cache.finish();
    }
    sqlite3 *database = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(databasePath()).constData(), &database), SQLITE_OK);
    QCOMPARE(sqlite3_exec(database,
                          "ALTER TABLE files DROP COLUMN installer_kind; ALTER TABLE files DROP COLUMN sha256;"
                          " ALTER TABLE files DROP COLUMN authenticode_sha256; DROP TABLE export_rows;"
                          " DROP TABLE export_folders;",
                          nullptr, nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(database);

    PropertyCache cache(databasePath());
    cache.setClock(clock);
    QVERIFY(cache.open(context));
    PropertyCache::Entry found;
    QVERIFY(!cache.find(QStringLiteral("/a.exe"), someFile(), found));
    QList<PropertyCache::ExportRow> rows;
    QVERIFY(!cache.lastExport(QStringLiteral("/share"), rows));
    QVERIFY(cache.storeExport(QStringLiteral("/share"), {}));
    QVERIFY(cache.isOpen());
}

// The rows of each folder's last export, replaced by the next; a folder exported with no
// rows is known, one never exported is not.
void TestPropertyCache::lastExports()
{
    PropertyCache::ExportRow a;
    a.path = QStringLiteral("a.exe");
    a.status = 4;
    a.cells = someAnswer().values;
    PropertyCache::ExportRow b = a;
    b.path = QStringLiteral("sub/b.exe");
    b.status = 0;
    b.cells.qProductName.clear();
    {
        PropertyCache cache(databasePath());
        QVERIFY(cache.open(context));
        QVERIFY(cache.storeExport(QStringLiteral("/share"), {a, b}));
        QVERIFY(cache.storeExport(QStringLiteral("/other"), {b}));
        QVERIFY(cache.storeExport(QStringLiteral("/other"), {}));
    }
    PropertyCache cache(databasePath());
    QVERIFY(cache.open(context));
    QList<PropertyCache::ExportRow> rows;
    QVERIFY(cache.lastExport(QStringLiteral("/share"), rows));
    QCOMPARE(rows.size(), 2);
    std::sort(rows.begin(), rows.end(),
              [](const PropertyCache::ExportRow &x, const PropertyCache::ExportRow &y) { return x.path < y.path; });
    QCOMPARE(rows.at(0).path, a.path);
    QCOMPARE(rows.at(0).status, 4);
    QCOMPARE(rows.at(0).cells.qProcessName, a.cells.qProcessName);
    QCOMPARE(rows.at(1).path, b.path);
    QCOMPARE(rows.at(1).cells.qProductName, QString());
    QVERIFY(cache.lastExport(QStringLiteral("/other"), rows));
    QCOMPARE(rows.size(), 0);
    QVERIFY(!cache.lastExport(QStringLiteral("/never"), rows));
}

QTEST_GUILESS_MAIN(TestPropertyCache)
#include "tst_propertycache.moc"
