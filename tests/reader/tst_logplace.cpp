// Where the property-reader library writes its log when another user of the machine
// got to its shared place first. The test runs as root, as an administrator would;
// the other user (nobody) plants folders and links with setpriv. The library is
// loaded as the program loads it, and the program's own answer (the platform layer)
// must name the file that really got the line.

#include "platform.h"

#include <QtTest>

#include <QCryptographicHash>
#include <QLibrary>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Pelbrook = int (*)(const char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *);

constexpr int bufferUnits = 260;

QStringList callValues(Pelbrook pelbrook, const QString &path)
{
    std::vector<char16_t> buffers(7 * bufferUnits, u'\0');
    std::copy(path.utf16(), path.utf16() + path.size(), buffers.data());
    char16_t *out[6];
    for (int i = 0; i < 6; ++i)
        out[i] = buffers.data() + (i + 1) * bufferUnits;
    const int result = pelbrook(buffers.data(), out[0], out[1], out[2], out[3], out[4], out[5]);
    QStringList values{QString::number(result)};
    for (char16_t *value : out)
        values << QString::fromUtf16(value);
    return values;
}

QByteArray content(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

struct stat linkStatus(const QString &path)
{
    struct stat status = {};
    lstat(QFile::encodeName(path).constData(), &status);
    return status;
}

bool asNobody(const QString &script)
{
    return QProcess::execute(QStringLiteral("setpriv"), {"--reuid=65534", "--regid=65534", "--clear-groups",
                                                         "sh", "-ec", script}) == 0;
}

} // namespace

class TestLogPlace : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void plantedPlaces_data();
    void plantedPlaces();

private:
    QTemporaryDir base;
    std::unique_ptr<QTemporaryDir> run;
    QLibrary library;
    Pelbrook pelbrook = nullptr;
    QString installer;
    QByteArray originalTmpdir;
};

void TestLogPlace::initTestCase()
{
    if (geteuid() != 0)
        QSKIP("needs root to plant as another user");
    QVERIFY(base.isValid());
    // The other user must reach the shared folder below.
    QVERIFY(QFile::setPermissions(base.path(), QFile::permissions(base.path()) | QFile::ExeOther));
    originalTmpdir = qgetenv("TMPDIR");
    installer = qEnvironmentVariable("PELBROOK_SOURCE_DIR") + QStringLiteral("/fuzz/corpus/fuzz_pe/pe32-version.exe");
    QVERIFY(QFile::exists(installer));
    library.setFileName(QCoreApplication::applicationDirPath() + QStringLiteral("/Vantoril"));
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    pelbrook = reinterpret_cast<Pelbrook>(library.resolve("pelbrook"));
    QVERIFY(pelbrook);
}

void TestLogPlace::cleanupTestCase()
{
    qputenv("TMPDIR", originalTmpdir);
}

// A shared temporary folder like /tmp, a private runtime folder and home of root's,
// and a private folder of root's holding the file an attacker would aim at.
void TestLogPlace::init()
{
    run.reset(new QTemporaryDir(base.filePath(QStringLiteral("run-XXXXXX"))));
    QVERIFY(run->isValid());
    QVERIFY(chmod(QFile::encodeName(run->path()).constData(), 0755) == 0);
    for (const char *folder : {"shared", "runtime", "home", "root-private"})
        QVERIFY(QDir(run->path()).mkdir(QString::fromLatin1(folder)));
    QVERIFY(chmod(QFile::encodeName(run->filePath("shared")).constData(), 01777) == 0);
    for (const char *folder : {"runtime", "home", "root-private"})
        QVERIFY(chmod(QFile::encodeName(run->filePath(QString::fromLatin1(folder))).constData(), 0700) == 0);
    QFile target(run->filePath(QStringLiteral("root-private/Vantoril.log")));
    QVERIFY(target.open(QIODevice::WriteOnly));
    target.write("root's own file\n");
    target.close();
    qputenv("TMPDIR", QFile::encodeName(run->filePath(QStringLiteral("shared"))));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(run->filePath(QStringLiteral("runtime"))));
    qputenv("HOME", QFile::encodeName(run->filePath(QStringLiteral("home"))));
    qunsetenv("XDG_CACHE_HOME");
}

void TestLogPlace::plantedPlaces_data()
{
    QTest::addColumn<QString>("planting");      // run by nobody in the shared folder
    QTest::addColumn<bool>("rootMakesFolder");  // root made the folder first, open to everyone
    QTest::addColumn<bool>("withRuntimeFolder"); // else the fallback goes below the home folder
    QTest::addColumn<QString>("expectedLog");   // relative to the run's folder
    QTest::addColumn<QString>("refusal");       // what the program is told, after the folder's path

    QTest::newRow("nothing planted") << "" << false << true << "shared/tarsel/Vantoril.log" << "";
    QTest::newRow("link to a file, in a folder of another user's")
        << "mkdir tarsel; ln -s \"$TARGET\" tarsel/Vantoril.log" << false << true
        << "runtime/tarsel/Vantoril.log" << "belongs to user 65534";
    QTest::newRow("folder of another user's, open to everyone")
        << "mkdir -m 777 tarsel" << false << true << "runtime/tarsel/Vantoril.log" << "belongs to user 65534";
    QTest::newRow("folder others may write, link planted in it")
        << "ln -s \"$TARGET\" tarsel/Vantoril.log" << true << true << "runtime/tarsel/Vantoril.log"
        << "may be written by others";
    QTest::newRow("link in place of the folder, to a private folder of root's")
        << "ln -s \"$(dirname \"$TARGET\")\" tarsel" << false << true << "runtime/tarsel/Vantoril.log" << "is a link";
    QTest::newRow("link in place of the folder, no runtime folder")
        << "ln -s \"$(dirname \"$TARGET\")\" tarsel" << false << false << "home/.cache/tarsel/Vantoril.log"
        << "is a link";
}

void TestLogPlace::plantedPlaces()
{
    QFETCH(QString, planting);
    QFETCH(bool, rootMakesFolder);
    QFETCH(bool, withRuntimeFolder);
    QFETCH(QString, expectedLog);
    QFETCH(QString, refusal);
    const QString shared = run->filePath(QStringLiteral("shared"));
    const QString target = run->filePath(QStringLiteral("root-private/Vantoril.log"));
    if (rootMakesFolder) {
        QVERIFY(QDir(shared).mkdir(QStringLiteral("tarsel")));
        QVERIFY(chmod(QFile::encodeName(shared + QStringLiteral("/tarsel")).constData(), 0777) == 0);
    }
    if (!planting.isEmpty())
        QVERIFY(asNobody(QStringLiteral("cd '%1'; TARGET='%2'; %3").arg(shared, target, planting)));
    if (!withRuntimeFolder)
        qunsetenv("XDG_RUNTIME_DIR");
    const struct stat plantedBefore = linkStatus(shared + QStringLiteral("/tarsel"));
    const struct stat targetBefore = linkStatus(target);

    const QStringList values = callValues(pelbrook, installer);
    const QStringList again = callValues(pelbrook, installer);

    // The values never depend on where the log went.
    QCOMPARE(values.at(0), QStringLiteral("0"));
    QCOMPARE(values.at(5), QString::fromLatin1(QCryptographicHash::hash(content(installer), QCryptographicHash::Md5)
                                                   .toHex()));
    QCOMPARE(again, values);
    QVERIFY(!values.at(2).isEmpty());
    // Nothing planted was written through or changed.
    QCOMPARE(content(target), QByteArray("root's own file\n"));
    QCOMPARE(linkStatus(target).st_mtime, targetBefore.st_mtime);
    if (plantedBefore.st_ino != 0)
        QCOMPARE(linkStatus(shared + QStringLiteral("/tarsel")).st_ino, plantedBefore.st_ino);

    const QString log = run->filePath(expectedLog);
    const QList<QByteArray> lines = content(log).split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).endsWith(QFile::encodeName(installer) + "\tPE32; unsigned"), lines.at(0).constData());
    // Private to root: the folder it made, and the file.
    QCOMPARE(linkStatus(log).st_mode & 07777, mode_t(0600));
    QCOMPARE(linkStatus(log).st_uid, uid_t(0));
    QCOMPARE(linkStatus(QFileInfo(log).path()).st_mode & 07777, mode_t(0700));

    const Platform::ReaderLogPlace place = Platform::readerLogPlace();
    QCOMPARE(place.path, log);
    if (refusal.isEmpty())
        QCOMPARE(place.refusal, QString());
    else
        QCOMPARE(place.refusal, shared + QStringLiteral("/tarsel ") + refusal);
    QCOMPARE(place.fallbackPath, run->filePath(withRuntimeFolder ? "runtime/tarsel/Vantoril.log"
                                                                 : "home/.cache/tarsel/Vantoril.log"));
}

QTEST_GUILESS_MAIN(TestLogPlace)
#include "tst_logplace.moc"
