// The property-reader library as the program uses it: loaded through QLibrary from a
// copy of the output folder whose `trust` folder holds the test root, and called through
// its C entry points. What is read is tested by concern beside this file, on the parsers
// themselves; here the interface: buffers, statuses, the log, cancelling, the extra entry
// points and readprops.

#include "readertest.h"

#include <QElapsedTimer>
#include <QLibrary>
#include <QThread>

#include <atomic>
#include <limits>
#include <thread>

using namespace readertest;

namespace {

using Pelbrook = int (*)(const char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *);
using PelbrookRead = int (*)(const char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *,
                             char *, std::size_t, long long *, long long *);
using PelbrookReadMore = int (*)(std::intptr_t, const char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *,
                                 char16_t *, char *, std::size_t, long long *, long long *, unsigned, int *, char *,
                                 char *);

// What pelbrook_read_more adds to the six values.
struct More
{
    int status = -1;
    int kind = -2;
    QString md5, sha256, authenticodeSha256;
};

constexpr int bufferUnits = 260;

} // namespace

class TestPelbrook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void verdictSpan_data();
    void verdictSpan();
    void readMore_data();
    void readMore();
    void staleValuesCleared();
    void outputCutAtCodePoint_data();
    void outputCutAtCodePoint();

    void logLinePerCall();
    void cancelEndsRunningCall();
    void unwritableLogFolder();
    void readpropsPrintsValues();
    void cryptoConfigurationIgnored();
    void readpropsExplains();

private:
    More callMore(const QString &path, unsigned flags);
    Values call(const QString &path);
    // pelbrook_read: the status, its reason and the times [from, until) in which the answer holds.
    int callRead(const QString &path, QString *reason, long long *from, long long *until);
    QString writeFile(const QString &name, const QByteArray &data);
    QStringList logLines() const;

    // The library and readprops copied beside a `trust` folder with the test root,
    // so that no result depends on the machine's own store.
    QTemporaryDir program;
    QTemporaryDir scratch;
    QTemporaryDir logTemp;
    QLibrary library;
    Pelbrook pelbrook = nullptr;
};

void TestPelbrook::initTestCase()
{
    QVERIFY2(fixturesMade(), "no fixtures: run through ctest, whose reader_fixtures step makes them");
    QVERIFY(scratch.isValid() && logTemp.isValid() && program.isValid());

    // The library logs under $TMPDIR; keep that inside the test.
    qputenv("TMPDIR", logTemp.path().toUtf8());

    const QDir output(QCoreApplication::applicationDirPath());
    QStringList files = output.entryList({QStringLiteral("libVantoril.so*")}, QDir::Files);
    files << QStringLiteral("readprops");
    for (const QString &file : files)
        QVERIFY(QFile::copy(output.filePath(file), program.filePath(file)));
    QVERIFY(QDir(program.path()).mkpath(QStringLiteral("trust")));
    QVERIFY(QFile::copy(fixture("trust/root.pem"), program.filePath("trust/root.pem")));
    library.setFileName(program.filePath(QStringLiteral("Vantoril")));
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    pelbrook = reinterpret_cast<Pelbrook>(library.resolve("pelbrook"));
    QVERIFY2(pelbrook, qPrintable(library.errorString()));
}

Values TestPelbrook::call(const QString &path)
{
    // Filled with a marker so that a missing terminator or a stale value shows.
    std::vector<char16_t> buffers(7 * bufferUnits, u'#');
    std::copy(path.utf16(), path.utf16() + path.size() + 1, buffers.data());
    char16_t *out[6];
    for (int i = 0; i < 6; ++i) {
        out[i] = buffers.data() + (i + 1) * bufferUnits;
        out[i][bufferUnits - 1] = u'\0';
    }
    Values values;
    values.result = pelbrook(buffers.data(), out[0], out[1], out[2], out[3], out[4], out[5]);
    values.signature = QString::fromUtf16(out[0]);
    values.productName = QString::fromUtf16(out[1]);
    values.processName = QString::fromUtf16(out[2]);
    values.originalFileName = QString::fromUtf16(out[3]);
    values.md5 = QString::fromUtf16(out[4]);
    values.description = QString::fromUtf16(out[5]);
    return values;
}

int TestPelbrook::callRead(const QString &path, QString *reason, long long *from, long long *until)
{
    const auto read = reinterpret_cast<PelbrookRead>(library.resolve("pelbrook_read"));
    if (!read)
        return -1;
    std::vector<char16_t> buffers(7 * bufferUnits, u'\0');
    std::copy(path.utf16(), path.utf16() + path.size() + 1, buffers.data());
    char text[1024];
    const int status = read(buffers.data(), buffers.data() + bufferUnits, buffers.data() + 2 * bufferUnits,
                            buffers.data() + 3 * bufferUnits, buffers.data() + 4 * bufferUnits,
                            buffers.data() + 5 * bufferUnits, buffers.data() + 6 * bufferUnits, text, sizeof text,
                            from, until);
    *reason = QString::fromUtf8(text);
    return status;
}

More TestPelbrook::callMore(const QString &path, unsigned flags)
{
    More more;
    const auto read = reinterpret_cast<PelbrookReadMore>(library.resolve("pelbrook_read_more"));
    if (!read)
        return more;
    std::vector<char16_t> buffers(7 * bufferUnits, u'\0');
    std::copy(path.utf16(), path.utf16() + path.size() + 1, buffers.data());
    char reason[1024];
    char sha256[65];
    char authenticode[65];
    long long from = 0;
    long long until = 0;
    more.status = read(-1, buffers.data(), buffers.data() + bufferUnits, buffers.data() + 2 * bufferUnits,
                       buffers.data() + 3 * bufferUnits, buffers.data() + 4 * bufferUnits,
                       buffers.data() + 5 * bufferUnits, buffers.data() + 6 * bufferUnits, reason, sizeof reason,
                       &from, &until, flags, &more.kind, sha256, authenticode);
    more.md5 = QString::fromUtf16(buffers.data() + 5 * bufferUnits);
    more.sha256 = QString::fromLatin1(sha256);
    more.authenticodeSha256 = QString::fromLatin1(authenticode);
    return more;
}

QString TestPelbrook::writeFile(const QString &name, const QByteArray &data)
{
    const QString path = scratch.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    return path;
}

QStringList TestPelbrook::logLines() const
{
    QFile file(logTemp.filePath(QStringLiteral("tarsel/Vantoril.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestPelbrook::verdictSpan_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("span"); // "always", "now" (bounded around the present) or "none"
    QTest::addColumn<QString>("reason");

    QTest::newRow("unsigned") << "pe64-version.exe" << 0 << "always" << "PE32+; unsigned";
    QTest::newRow("timestamped: judged at the timestamp's time") << "trust-anchored.exe" << 0 << "always" << "signed by";
    QTest::newRow("expired without a timestamp") << "trust-expired.exe" << 4 << "now" << "expired without a timestamp";
    QTest::newRow("not readable") << "no such file.exe" << 1 << "none" << "cannot open";
}

// What an answer depends on in time: one judged at the current time holds only while
// no certificate's validity begins or ends; a file that gave nothing holds for no time.
void TestPelbrook::verdictSpan()
{
    QFETCH(QString, file);
    QFETCH(int, status);
    QFETCH(QString, span);
    QFETCH(QString, reason);

    long long from = 0;
    long long until = 0;
    QString said;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QCOMPARE(callRead(fixture(file), &said, &from, &until), status);
    QVERIFY2(said.contains(reason), qPrintable(said));
    if (span == QLatin1String("always")) {
        QCOMPARE(from, std::numeric_limits<long long>::min());
        QCOMPARE(until, std::numeric_limits<long long>::max());
    } else if (span == QLatin1String("now")) {
        QVERIFY(from > 0 && from <= now && now < until);
        QVERIFY(from != std::numeric_limits<long long>::min() || until != std::numeric_limits<long long>::max());
    } else {
        QVERIFY(from >= until);
    }
}

void TestPelbrook::readMore_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("kind");
    QTest::newRow("hashes asked for") << "signed.msi" << 1u << 0 << 1;
    QTest::newRow("hashes not asked for") << "signed.msi" << 0u << 0 << 1;
    QTest::newRow("not readable: no kind, no hashes") << "no such file.msi" << 1u << 1 << -1;
}

// The installer kind's number and the two SHA-256 texts of pelbrook_read_more: present
// only when asked for and when the file was read.
void TestPelbrook::readMore()
{
    QFETCH(QString, file);
    QFETCH(unsigned, flags);
    QFETCH(int, status);
    QFETCH(int, kind);
    const More more = callMore(fixture(file), flags);
    QCOMPARE(more.status, status);
    QCOMPARE(more.kind, kind);
    const bool hashes = status == 0 && flags == 1;
    QCOMPARE(more.sha256, hashes ? checksum(QStringLiteral("sha256sum"), fixture(file)) : QString());
    QCOMPARE(more.authenticodeSha256.size(), hashes ? 64 : 0);
    QCOMPARE(more.md5, status == 0 ? checksum(QStringLiteral("md5sum"), fixture(file)) : QString());
}

void TestPelbrook::staleValuesCleared()
{
    // The program fills its buffers once per run; a later file must not inherit
    // values, not even one whose path is refused before it is opened.
    std::vector<char16_t> buffers(7 * bufferUnits, u'\0');
    char16_t *out[6];
    for (int i = 0; i < 6; ++i)
        out[i] = buffers.data() + (i + 1) * bufferUnits;
    const QString path = fixture("signed-sha256.exe");
    std::copy(path.utf16(), path.utf16() + path.size() + 1, buffers.data());
    QCOMPARE(pelbrook(buffers.data(), out[0], out[1], out[2], out[3], out[4], out[5]), 0);
    QVERIFY(out[0][0] != u'\0');

    // A path that fills its whole buffer without a terminator.
    std::fill(buffers.data(), buffers.data() + bufferUnits, u'a');
    QVERIFY(pelbrook(buffers.data(), out[0], out[1], out[2], out[3], out[4], out[5]) != 0);
    for (char16_t *output : out)
        QCOMPARE(QString::fromUtf16(output), QString());
}

void TestPelbrook::outputCutAtCodePoint_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("expected");
    const QString pair = QString::fromUcs4(U"\U0001F600");
    QTest::newRow("259 units fit") << QString(259, 'a') << QString(259, 'a');
    QTest::newRow("260 units are cut to 259") << QString(260, 'a') << QString(259, 'a');
    QTest::newRow("pair ends at unit 259") << QString(257, 'a') + pair << QString(257, 'a') + pair;
    QTest::newRow("pair would be split") << QString(258, 'a') + pair << QString(258, 'a');
}

void TestPelbrook::outputCutAtCodePoint()
{
    QFETCH(QString, product);
    QFETCH(QString, expected);
    const QByteArray version = versionResource(product);
    const Values values = call(writeFile("long.exe", peWithVersion(version, quint32(version.size()))));
    QCOMPARE(values.productName, expected);
}

void TestPelbrook::logLinePerCall()
{
    const int before = logLines().size();
    call(fixture("signed-tampered.exe"));
    call(fixture("signed-sha256.exe"));
    call(fixture("trust-selfsigned.exe"));
    call(fixture("trust-expired.exe"));
    const QStringList lines = logLines();
    QCOMPARE(lines.size(), before + 4);
    QVERIFY(lines.at(before).contains(fixture("signed-tampered.exe")));
    QVERIFY(lines.at(before).contains("signature digest mismatch"));
    QVERIFY(lines.at(before + 1).contains(QString::fromUtf8("signed by 测试签名者 Test Signer")));
    // The claimed signer and the reason it was withheld.
    QVERIFY(lines.at(before + 2).contains("untrusted signature by Microsoft Corporation: self-signed"));
    QVERIFY(lines.at(before + 3).contains("untrusted signature by Tarsel Expired Signer: expired without a timestamp"));
}

void TestPelbrook::cancelEndsRunningCall()
{
    using Cancel = void (*)();
    const auto cancel = reinterpret_cast<Cancel>(library.resolve("pelbrook_cancel"));
    QVERIFY2(cancel, qPrintable(library.errorString()));
    // Sparse: no disk used, yet read to its end it would take minutes.
    const QString huge = scratch.filePath("huge.exe");
    QFile file(huge);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(Q_INT64_C(64) << 30));
    file.close();

    Values values;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        values = call(huge);
        done = true;
    });
    // Repeated, since a request made before the call has begun does not reach it.
    QElapsedTimer timer;
    timer.start();
    while (!done && timer.elapsed() < 30000) {
        cancel();
        QThread::msleep(10);
    }
    reader.join();
    QFile::remove(huge);
    QCOMPARE(values.result, 5);
    QCOMPARE(values.md5, QString());
    QVERIFY(logLines().last().endsWith("\tcancelled"));
    // A call that starts after the request is not affected.
    const Values later = call(fixture("signed-sha256.exe"));
    QCOMPARE(later.result, 0);
    QCOMPARE(later.signature, QStringLiteral("测试签名者 Test Signer"));
}

void TestPelbrook::unwritableLogFolder()
{
    // A temporary folder below a regular file cannot be created, even by root.
    const QString blocker = writeFile("blocker", "x");
    qputenv("TMPDIR", (blocker + "/tmp").toUtf8());
    const Values values = call(fixture("signed-sha256.exe"));
    qputenv("TMPDIR", logTemp.path().toUtf8());
    QCOMPARE(values.result, 0);
    QCOMPARE(values.signature, QString::fromUtf8("测试签名者 Test Signer"));
}

void TestPelbrook::readpropsPrintsValues()
{
    QProcess readprops;
    readprops.start(program.filePath("readprops"),
                    {fixture("signed-sha256.exe"), fixture("product.msi")});
    QVERIFY(readprops.waitForFinished());
    QCOMPARE(readprops.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(readprops.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const Values exe = call(fixture("signed-sha256.exe"));
    QCOMPARE(lines.at(0), QStringList({exe.signature, exe.productName, exe.processName, exe.originalFileName, exe.md5,
                                       exe.description}).join('\t'));
    QCOMPARE(lines.at(1).split('\t').value(1), QStringLiteral("Tarsel Sample Product"));
}

// A configuration that activates only the null provider leaves no digest at all; were
// it read, the MD5 would be empty and the signature unverifiable.
void TestPelbrook::cryptoConfigurationIgnored()
{
    const QString config = writeFile(QStringLiteral("null-provider.cnf"),
                                     "openssl_conf = init\n[init]\nproviders = providers\n"
                                     "[providers]\nnull = null\n[null]\nactivate = 1\n");
    QVERIFY(!config.isEmpty());
    QProcess readprops;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OPENSSL_CONF"), config);
    readprops.setProcessEnvironment(environment);
    readprops.start(program.filePath("readprops"), {fixture("signed-sha256.exe")});
    QVERIFY(readprops.waitForFinished());
    const Values exe = call(fixture("signed-sha256.exe"));
    QVERIFY(!exe.md5.isEmpty());
    QCOMPARE(QString::fromUtf8(readprops.readAllStandardOutput()).trimmed().split('\t'),
             QStringList({exe.signature, exe.productName, exe.processName, exe.originalFileName, exe.md5,
                          exe.description}));
}

void TestPelbrook::readpropsExplains()
{
    int exitCode = -1;
    const QStringList lines =
        run(program.filePath("readprops"), {"--explain", fixture("trust-expired-ts.exe"), fixture("trust-selfsigned.exe"),
                                            fixture("pe-resource-langs.exe")},
            &exitCode)
            .split('\n', Qt::SkipEmptyParts);
    QCOMPARE(exitCode, 0);
    // The tab-separated line stays first and unchanged; the reasons follow indented.
    const Values expired = call(fixture("trust-expired-ts.exe"));
    QCOMPARE(lines.value(0), QStringList({expired.signature, expired.productName, expired.processName,
                                          expired.originalFileName, expired.md5, expired.description})
                                 .join('\t'));
    const QString text = lines.join('\n');
    for (const char *expected :
         {"  trust\ttrusted", "  chain\tCN = Tarsel Expired Signer, O = Tarsel Test",
          "  chain\tCN = Tarsel Test CA, O = Tarsel Test", "  chain\tCN = Tarsel Test Root, O = Tarsel Test",
          "  timestamp\t2020-06-01 00:00:00 UTC (RFC 3161)", "  timestamp chain\tCN = Tarsel Test TSA, O = Tarsel Test",
          "  claimed signer\tMicrosoft Corporation", "  trust\tnot trusted: self-signed",
          "  version language\t0x0804", "  version table\t080404B0"})
        QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
}

QTEST_GUILESS_MAIN(TestPelbrook)
#include "tst_pelbrook.moc"
