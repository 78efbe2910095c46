// The property-reader library as the program uses it: loaded through QLibrary
// from the output folder, fed with files made by the real tools, and compared
// with independent readers where one exists.

#include <QtTest>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextCodec>

#include <sys/stat.h>

#include <atomic>
#include <limits>
#include <thread>

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

struct Values
{
    int result = -1;
    QString signature, productName, processName, originalFileName, md5, description;
};

// Little-endian writers for files built in code.
void put16(QByteArray &data, int offset, quint16 value)
{
    data[offset] = char(value & 0xFF);
    data[offset + 1] = char(value >> 8);
}

void put32(QByteArray &data, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        data[offset + i] = char((value >> (8 * i)) & 0xFF);
}

quint32 get32(const QByteArray &data, int offset)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(data[offset + i]);
    return value;
}

QByteArray utf16z(const QString &text, bool terminated = true)
{
    QByteArray bytes;
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    if (terminated)
        bytes.append(2, '\0');
    return bytes;
}

void pad4(QByteArray &data)
{
    while (data.size() % 4)
        data.append('\0');
}

// One version-information block: wLength, wValueLength, wType, key, value, children.
QByteArray versionBlock(const QString &key, const QByteArray &value, const QList<QByteArray> &children,
                        quint16 valueLength, quint16 type = 1)
{
    QByteArray block(6, '\0');
    block += utf16z(key);
    pad4(block);
    block += value;
    for (const QByteArray &child : children) {
        pad4(block);
        block += child;
    }
    put16(block, 0, quint16(block.size()));
    put16(block, 2, valueLength);
    put16(block, 4, type);
    return block;
}

// A version resource with one US English table whose last string is ProductName.
QByteArray versionResource(const QString &product, bool terminated = true)
{
    const QByteArray value = utf16z(product, terminated);
    const QByteArray productString = versionBlock("ProductName", value, {}, quint16(value.size() / 2));
    const QByteArray table = versionBlock("040904B0", {}, {productString}, 0);
    const QByteArray stringInfo = versionBlock("StringFileInfo", {}, {table}, 0);
    QByteArray fixed(52, '\0');
    put32(fixed, 0, 0xFEEF04BD);
    return versionBlock("VS_VERSION_INFO", fixed, {stringInfo}, 52, 0);
}

// Microsoft PE format offsets of the minimal PE32 image built below.
constexpr int peHeader = 0x40;
constexpr int optionalHeader = peHeader + 24;
constexpr int sectionTable = optionalHeader + 0xE0;
constexpr int rawData = 0x200;
constexpr quint32 sectionRva = 0x1000;
constexpr int resourceData = 0x58;

// A PE32 image with one .rsrc section holding the version resource as the last bytes of the file.
QByteArray peWithVersion(const QByteArray &version, quint32 declaredSize)
{
    QByteArray file(rawData, '\0');
    file[0] = 'M';
    file[1] = 'Z';
    put32(file, 0x3C, peHeader);
    put32(file, peHeader, 0x00004550);
    put16(file, peHeader + 4, 0x14C);
    put16(file, peHeader + 6, 1);
    put16(file, peHeader + 20, 0xE0);
    put16(file, optionalHeader, 0x10B);
    put32(file, optionalHeader + 60, rawData);
    put32(file, optionalHeader + 92, 16);
    put32(file, optionalHeader + 96 + 2 * 8, sectionRva);
    put32(file, optionalHeader + 96 + 2 * 8 + 4, resourceData + quint32(version.size()));

    QByteArray tree(resourceData, '\0');
    put16(tree, 0x00 + 14, 1);
    put32(tree, 0x10, 16);
    put32(tree, 0x14, 0x80000000u | 0x18);
    put16(tree, 0x18 + 14, 1);
    put32(tree, 0x28, 1);
    put32(tree, 0x2C, 0x80000000u | 0x30);
    put16(tree, 0x30 + 14, 1);
    put32(tree, 0x40, 0x0409);
    put32(tree, 0x44, 0x48);
    put32(tree, 0x48, sectionRva + resourceData);
    put32(tree, 0x4C, declaredSize);
    const QByteArray section = tree + version;

    const quint32 sectionSize = quint32(section.size());
    memcpy(file.data() + sectionTable, ".rsrc", 5);
    put32(file, sectionTable + 8, sectionSize);
    put32(file, sectionTable + 12, sectionRva);
    put32(file, sectionTable + 16, sectionSize);
    put32(file, sectionTable + 20, rawData);
    return file + section;
}

} // namespace

class TestPelbrook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void versionStrings_data();
    void versionStrings();
    void versionResourceLanguage_data();
    void versionResourceLanguage();
    void signatures_data();
    void signatures();
    void trustEndsWithValidity();
    void verdictSpan_data();
    void verdictSpan();
    void trustFolder_data();
    void trustFolder();
    void trustFolderOthersMayWrite_data();
    void trustFolderOthersMayWrite();
    void realSigners_data();
    void realSigners();
    void msiProperties_data();
    void msiProperties();
    void md5AndProcessName();
    void unreadableInputs_data();
    void unreadableInputs();
    void staleValuesCleared();

    void versionValueAtEndOfFile_data();
    void versionValueAtEndOfFile();
    void sectionTableBounds_data();
    void sectionTableBounds();
    void certificateTableBounds_data();
    void certificateTableBounds();
    void resourceCycle();
    void hostileHeaders_data();
    void hostileHeaders();
    void truncatedFiles_data();
    void truncatedFiles();
    void outputCutAtCodePoint_data();
    void outputCutAtCodePoint();

    void logLinePerCall();
    void cancelEndsRunningCall();
    void unwritableLogFolder();
    void readpropsPrintsValues();
    void cryptoConfigurationIgnored();
    void readpropsExplains();

    void installerKinds_data();
    void installerKinds();
    void hashes_data();
    void hashes();
    void msiAuthenticodeHash();

private:
    More callMore(const QString &path, unsigned flags = 1);
    Values call(const QString &path);
    // pelbrook_read: the status, its reason and the times [from, until) in which the answer holds.
    int callRead(const QString &path, QString *reason, long long *from, long long *until);
    QString fixture(const QString &name) const { return fixtures.filePath(name); }
    QString writeFile(const QString &name, const QByteArray &data);
    QStringList logLines() const;
    static QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                       int timeout = 60000);

    QString copyProgramFolder(const QString &folder) const;

    QTemporaryDir fixtures;
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
    QVERIFY(fixtures.isValid() && scratch.isValid() && logTemp.isValid() && program.isValid());
    int exitCode = -1;
    const QString source = qEnvironmentVariable("PELBROOK_SOURCE_DIR");
    QVERIFY2(!source.isEmpty(), "PELBROOK_SOURCE_DIR is not set");
    const QString output =
        run(QStringLiteral("bash"),
            {source + QStringLiteral("/tests/fixtures/make-fixtures.sh"), fixtures.path(), QStringLiteral("--real")},
            &exitCode, 900000);
    QVERIFY2(exitCode == 0, qPrintable(output));

    // The library logs under $TMPDIR; keep that inside the test.
    qputenv("TMPDIR", logTemp.path().toUtf8());

    QVERIFY(!copyProgramFolder(program.path()).isEmpty());
    QVERIFY(QFile::copy(fixture("trust/root.pem"), program.filePath("trust/root.pem")));
    library.setFileName(program.filePath(QStringLiteral("Vantoril")));
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    pelbrook = reinterpret_cast<Pelbrook>(library.resolve("pelbrook"));
    QVERIFY2(pelbrook, qPrintable(library.errorString()));
}

// Copies the library and readprops into folder, with an empty `trust` folder; returns readprops' path.
QString TestPelbrook::copyProgramFolder(const QString &folder) const
{
    const QDir output(QCoreApplication::applicationDirPath());
    QStringList files = output.entryList({QStringLiteral("libVantoril.so*")}, QDir::Files);
    files << QStringLiteral("readprops");
    for (const QString &file : files)
        if (!QFile::copy(output.filePath(file), folder + QLatin1Char('/') + file))
            return {};
    if (!QDir(folder).mkpath(QStringLiteral("trust")))
        return {};
    return folder + QStringLiteral("/readprops");
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

QString TestPelbrook::run(const QString &program, const QStringList &arguments, int *exitCode, int timeout)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(timeout);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
}

void TestPelbrook::versionStrings_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("productName");
    QTest::addColumn<QString>("originalFileName");
    QTest::addColumn<QString>("description");
    // exiftool reads the first table only, so it can only confirm single-table files.
    QTest::addColumn<bool>("exiftoolAgrees");

    QTest::newRow("64-bit, Chinese, VarFileInfo first, spaces trimmed")
        << "pe64-version.exe" << QString::fromUtf8("测试产品 Test") << QString::fromUtf8("原始名.exe")
        << QString::fromUtf8("中文描述") << true;
    QTest::newRow("32-bit") << "pe32-version.exe" << "Sample Product" << "sample32.exe" << "Sample description" << true;
    QTest::newRow("Translation matches the second table")
        << "pe-multilang.exe" << QString::fromUtf8("中文产品") << "chinese.exe" << QString::fromUtf8("中文说明") << false;
    QTest::newRow("exact Translation match over same language")
        << "pe-exact.exe" << "Unicode Table" << "" << "" << false;
    QTest::newRow("same language, other code page")
        << "pe-samelang.exe" << QString::fromUtf8("同语言产品") << "" << "" << false;
    QTest::newRow("Translation names a missing table: US English")
        << "pe-missing.exe" << "US Product" << "" << "" << false;
    QTest::newRow("Translation of language 0: first table") << "pe-lang0.exe" << "First Table" << "" << "" << true;
    QTest::newRow("zero-length value before the others")
        << "pe-emptyvalue.exe" << "After Empty" << "empty.exe" << "" << true;
    QTest::newRow("no version resource") << "pe-noversion.exe" << "" << "" << "" << true;
    QTest::newRow("no imports, no resources") << "pe-minimal.exe" << "" << "" << "" << true;
    QTest::newRow("signed keeps its strings")
        << "signed-sha1.exe" << "Sample Product" << "sample32.exe" << "Sample description" << true;
}

void TestPelbrook::versionStrings()
{
    QFETCH(QString, file);
    QFETCH(QString, productName);
    QFETCH(QString, originalFileName);
    QFETCH(QString, description);
    QFETCH(bool, exiftoolAgrees);

    const Values values = call(fixture(file));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.productName, productName);
    QCOMPARE(values.originalFileName, originalFileName);
    QCOMPARE(values.description, description);

    if (exiftoolAgrees) {
        const QString json = run(QStringLiteral("exiftool"),
                                 {"-j", "-charset", "UTF8", "-ProductName", "-OriginalFileName", "-FileDescription",
                                  fixture(file)});
        const QJsonObject tags = QJsonDocument::fromJson(json.toUtf8()).array().at(0).toObject();
        QCOMPARE(values.productName, tags.value("ProductName").toVariant().toString().trimmed());
        QCOMPARE(values.originalFileName, tags.value("OriginalFileName").toVariant().toString().trimmed());
        QCOMPARE(values.description, tags.value("FileDescription").toVariant().toString().trimmed());
    }
}

void TestPelbrook::versionResourceLanguage_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("productName");
    // As the resource loader of a Simplified Chinese system picks: neutral, 0x0804, 0x0409, the first.
    QTest::newRow("Chinese over English and Japanese") << "pe-resource-langs.exe" << "Chinese Resource";
    QTest::newRow("neutral over Chinese") << "pe-resource-neutral.exe" << "Neutral Resource";
    QTest::newRow("English over Japanese") << "pe-resource-english.exe" << "English Resource";
    QTest::newRow("none of them: the directory's first") << "pe-resource-other.exe" << "French Resource";
}

void TestPelbrook::versionResourceLanguage()
{
    QFETCH(QString, file);
    QFETCH(QString, productName);
    const Values values = call(fixture(file));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.productName, productName);
}

void TestPelbrook::signatures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("signer");
    QTest::addColumn<int>("status");

    const QString signer = QString::fromUtf8("测试签名者 Test Signer");
    QTest::newRow("PE, SHA-256") << "signed-sha256.exe" << signer << 0;
    QTest::newRow("PE, SHA-1") << "signed-sha1.exe" << signer << 0;
    QTest::newRow("PE, certificate without CN") << "signed-org.exe" << "Tarsel Org Only" << 0;
    QTest::newRow("PE, nested second signature") << "signed-nested.exe" << signer << 0;
    // A signature that no longer matches its file withholds the signer like an untrusted one.
    QTest::newRow("PE, one byte changed") << "signed-tampered.exe" << "" << 4;
    QTest::newRow("PE, data appended") << "signed-trailing.exe" << "" << 0;
    QTest::newRow("PE, truncated") << "signed-truncated.exe" << "" << 0;
    QTest::newRow("PE of several read blocks, image digest on its own thread") << "signed-large.exe" << signer << 0;
    QTest::newRow("the same, one byte near its end changed") << "signed-large-tampered.exe" << "" << 4;
    QTest::newRow("PE, unsigned") << "pe64-version.exe" << "" << 0;
    QTest::newRow("MSI, SHA-256") << "signed.msi" << signer << 0;
    QTest::newRow("MSI, SHA-1 with MsiDigitalSignatureEx") << "signed-dse.msi" << signer << 0;
    QTest::newRow("MSI, certificate without CN") << "signed-org.msi" << "Tarsel Org Only" << 0;
    QTest::newRow("MSI, Comments changed") << "tampered.msi" << "" << 4;
    QTest::newRow("MSI, unsigned") << "product.msi" << "" << 0;
    QTest::newRow("MSI, stream names AB and ABC: the shorter hashed first") << "signed-prefix.msi" << signer << 0;
    QTest::newRow("MSI, the same with MsiDigitalSignatureEx") << "signed-prefix-dse.msi" << signer << 0;

    QTest::newRow("chain to an anchor, timestamped") << "trust-anchored.exe" << signer << 0;
    QTest::newRow("expired leaf, timestamp inside its validity")
        << "trust-expired-ts.exe" << "Tarsel Expired Signer" << 0;
    QTest::newRow("expired leaf without a timestamp") << "trust-expired.exe" << "" << 4;
    QTest::newRow("expired leaf, timestamp under no anchor") << "trust-bad-ts.exe" << "" << 4;
    QTest::newRow("self-signed, forged vendor name") << "trust-selfsigned.exe" << "" << 4;
    QTest::newRow("root that is no anchor") << "trust-stray-root.exe" << "" << 4;
    QTest::newRow("leaf without code-signing usage") << "trust-no-usage.exe" << "" << 4;
    QTest::newRow("intermediate left out of the signature") << "trust-no-intermediate.exe" << "" << 4;
    QTest::newRow("tag after the signature in its entry") << "trust-tagged.exe" << signer << 0;
    QTest::newRow("MSI, self-signed, forged vendor name") << "trust-untrusted.msi" << "" << 4;
}

void TestPelbrook::signatures()
{
    QFETCH(QString, file);
    QFETCH(QString, signer);
    QFETCH(int, status);

    // The second call finds the signature judged already; it must come to the same verdict.
    for (int pass = 0; pass < 2; ++pass) {
        const Values values = call(fixture(file));
        QCOMPARE(values.result, status);
        QCOMPARE(values.signature, signer);
    }

    // With the same anchor for signatures and timestamps, osslsigncode must come to the same verdict.
    int exitCode = -1;
    run(QStringLiteral("osslsigncode"),
        {"verify", "-CAfile", fixture("test-certs.pem"), "-TSA-CAfile", fixture("test-certs.pem"), "-in",
         fixture(file)},
        &exitCode);
    QCOMPARE(exitCode == 0, !signer.isEmpty());
}

// A verdict made at the current time holds only while the certificates stay valid: the
// same signature, asked about again after its leaf expired, is no longer trusted.
void TestPelbrook::trustEndsWithValidity()
{
    QTemporaryDir ca;
    QVERIFY(ca.isValid());
    QDir folder(ca.path());
    QVERIFY(folder.mkpath(QStringLiteral("issued")));
    const QByteArray config = "[ca]\ndefault_ca = test\n[test]\ndir = .\ndatabase = index.txt\nnew_certs_dir = issued\n"
                              "serial = serial\ndefault_md = sha256\npolicy = anything\nunique_subject = no\n"
                              "[anything]\ncommonName = optional\n[codesign]\nbasicConstraints = CA:FALSE\n"
                              "keyUsage = critical,digitalSignature\nextendedKeyUsage = codeSigning\n";
    for (const auto &file : {std::make_pair("ca.cnf", config), std::make_pair("index.txt", QByteArray()),
                             std::make_pair("serial", QByteArray("2000\n"))}) {
        QFile out(folder.filePath(QString::fromLatin1(file.first)));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file.second) == file.second.size());
    }
    int exitCode = -1;
    QString output = run(QStringLiteral("openssl"), {"req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj",
                                                    "/CN=Brief Signer", "-keyout", folder.filePath("key.pem"),
                                                    "-out", folder.filePath("leaf.csr")},
                         &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(output));
    const qint64 notAfter = QDateTime::currentSecsSinceEpoch() + 6;
    const QString end = QDateTime::fromSecsSinceEpoch(notAfter, Qt::UTC).toString("yyyyMMddHHmmss") + "Z";
    QProcess issue;
    issue.setWorkingDirectory(folder.path());
    issue.setProcessChannelMode(QProcess::MergedChannels);
    issue.start(QStringLiteral("openssl"),
                {"ca", "-batch", "-config", "ca.cnf", "-cert", fixture("ca-cert.pem"), "-keyfile", fixture("ca-key.pem"),
                 "-extensions", "codesign", "-in", "leaf.csr", "-out", "leaf.pem", "-notext", "-startdate",
                 "20200101000000Z", "-enddate", end});
    QVERIFY(issue.waitForFinished(60000));
    QVERIFY2(issue.exitCode() == 0, issue.readAll().constData());
    QFile chain(folder.filePath("chain.pem"));
    QFile leaf(folder.filePath("leaf.pem"));
    QFile intermediate(fixture("ca-cert.pem"));
    QVERIFY(chain.open(QIODevice::WriteOnly) && leaf.open(QIODevice::ReadOnly) && intermediate.open(QIODevice::ReadOnly));
    chain.write(leaf.readAll() + intermediate.readAll());
    chain.close();
    const QString signedFile = scratch.filePath("expiring.exe");
    output = run(QStringLiteral("osslsigncode"), {"sign", "-certs", chain.fileName(), "-key", folder.filePath("key.pem"),
                                                  "-h", "sha256", "-in", fixture("pe64-version.exe"), "-out", signedFile},
                 &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(output));

    const Values valid = call(signedFile);
    if (QDateTime::currentSecsSinceEpoch() >= notAfter)
        QSKIP("the leaf expired before it could be checked while valid");
    QCOMPARE(valid.result, 0);
    QCOMPARE(valid.signature, QStringLiteral("Brief Signer"));
    while (QDateTime::currentSecsSinceEpoch() <= notAfter + 1)
        QThread::msleep(200);
    const Values expired = call(signedFile);
    QCOMPARE(expired.result, 4);
    QCOMPARE(expired.signature, QString());
    // The expired verdict holds from the second after the leaf's last valid one.
    long long from = 0;
    long long until = 0;
    QString reason;
    QCOMPARE(callRead(signedFile, &reason, &from, &until), 4);
    QCOMPARE(from, notAfter + 1);
    QVERIFY2(reason.contains(QStringLiteral("expired without a timestamp")), qPrintable(reason));
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

void TestPelbrook::trustFolder_data()
{
    QTest::addColumn<QString>("anchorFile");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("PEM") << "root.pem" << "PEM" << true;
    QTest::newRow("DER under another extension") << "root.cer" << "DER" << true;
    QTest::newRow("no anchor, only clutter") << "" << "" << false;
}

void TestPelbrook::trustFolder()
{
    QFETCH(QString, anchorFile);
    QFETCH(QString, format);
    QFETCH(bool, trusted);

    // Anchors are read once per process, so each folder gets its own readprops run.
    QTemporaryDir folder;
    const QString readprops = copyProgramFolder(folder.path());
    QVERIFY(!readprops.isEmpty());
    const QString trust = folder.filePath(QStringLiteral("trust"));
    QVERIFY(QDir(trust).mkpath(QStringLiteral("subfolder")));
    QVERIFY(!writeFile("notes.txt", "not a certificate").isEmpty());
    QVERIFY(QFile::copy(scratch.filePath("notes.txt"), trust + "/notes.txt"));
    if (!anchorFile.isEmpty()) {
        int exitCode = -1;
        run(QStringLiteral("openssl"), {"x509", "-in", fixture("trust/root.pem"), "-outform", format, "-out",
                                        trust + "/" + anchorFile}, &exitCode);
        QCOMPARE(exitCode, 0);
    }
    int exitCode = -1;
    const QString line = run(readprops, {fixture("signed-sha256.exe")}, &exitCode);
    QCOMPARE(exitCode, 0);
    QCOMPARE(line.section(QLatin1Char('\t'), 0, 0), trusted ? QString::fromUtf8("测试签名者 Test Signer") : QString());
}

void TestPelbrook::trustFolderOthersMayWrite_data()
{
    QTest::addColumn<int>("programMode");
    QTest::addColumn<int>("trustMode");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("only the owner writes") << 0755 << 0755 << true;
    QTest::newRow("group writes the program folder") << 0775 << 0755 << false;
    QTest::newRow("everyone writes the program folder") << 01777 << 0755 << false;
    QTest::newRow("everyone writes the trust folder") << 0755 << 0777 << false;
}

// Whoever may write the program folder or its `trust` folder could plant a root there
// and have their own signer shown as a vendor, so such a folder anchors nothing.
void TestPelbrook::trustFolderOthersMayWrite()
{
    QFETCH(int, programMode);
    QFETCH(int, trustMode);
    QFETCH(bool, trusted);

    QTemporaryDir folder;
    const QString readprops = copyProgramFolder(folder.path());
    QVERIFY(!readprops.isEmpty());
    const QString trust = folder.filePath(QStringLiteral("trust"));
    QVERIFY(QFile::copy(fixture("trust/root.pem"), trust + "/root.pem"));
    QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), mode_t(programMode)) == 0);
    QVERIFY(::chmod(QFile::encodeName(trust).constData(), mode_t(trustMode)) == 0);
    int exitCode = -1;
    const QString line = run(readprops, {fixture("signed-sha256.exe")}, &exitCode);
    QCOMPARE(exitCode, 0);
    QCOMPARE(line.section(QLatin1Char('\t'), 0, 0), trusted ? QString::fromUtf8("测试签名者 Test Signer") : QString());
    if (!trusted) {
        const QString explained = run(readprops, {"--explain", fixture("signed-sha256.exe")}, &exitCode);
        QVERIFY2(explained.contains("anchors\tnot used: " + trust), qPrintable(explained));
    }
}

void TestPelbrook::realSigners_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("signer");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("productName");
    // Published files nobody here made (the fixture script pins each package's version and
    // SHA-256); the signer is the one Windows' file properties show, or none.
    const QString microsoft = QStringLiteral("Microsoft Corporation");
    QTest::newRow("nested signatures, SHA-1 then SHA-256: the first one's signer")
        << "nested-isbzip.dll" << "Open Source Developer, Martijn Laan" << 0 << "";
    QTest::newRow("expired leaf, kept by its RFC 3161 timestamp")
        << "expired-ts-snoretoast-x64.exe" << "K Desktop Environment e.V." << 0 << "";
    QTest::newRow("Microsoft, 1997 root without basic constraints, legacy countersignature")
        << "ms1997-signtool.exe" << microsoft << 0 << QString::fromUtf8("Microsoft® Windows® Operating System");
    QTest::newRow("Microsoft, 2011 root, CMS version 3 timestamp token")
        << "ms2011-conpty.dll" << microsoft << 0 << "Windows Terminal";
    QTest::newRow("identity-verified signing: three-day leaf, kept by its timestamp")
        << "short-leaf-node.exe" << "OpenJS Foundation" << 0 << "Node.js";
    QTest::newRow("unsigned installer with a version resource")
        << "unsigned-win32-loader.exe" << "" << 0 << "win32-loader";
    QTest::newRow("Secure Boot, Microsoft UEFI CA: no Windows anchor") << "uefi-ca-shimx64.efi" << "" << 4 << "";
    QTest::newRow("Secure Boot, Debian's own CA: no Windows anchor") << "debian-ca-grubx64.efi" << "" << 4 << "";
}

void TestPelbrook::realSigners()
{
    QFETCH(QString, file);
    QFETCH(QString, signer);
    QFETCH(int, status);
    QFETCH(QString, productName);
    const QString path = fixture(QStringLiteral("real/") + file);
    if (!QFileInfo::exists(path))
        QSKIP("not downloaded: the package registry cannot be reached, or no longer has the pinned version");
    const Values values = call(path);
    QCOMPARE(values.result, status);
    QCOMPARE(values.signature, signer);
    QCOMPARE(values.productName, productName);
}

void TestPelbrook::msiProperties_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("productName");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("summaryCodec");

    QTest::newRow("Comments") << "product.msi" << "Tarsel Sample Product" << "Sample comments text" << "Windows-1252";
    QTest::newRow("empty Comments: Subject") << "subject.msi" << "Subject Only Product" << "Only the subject"
                                             << "Windows-1252";
    QTest::newRow("GBK database and summary") << "chinese.msi" << QString::fromUtf8("示例中文产品安装程序包X") << QString::fromUtf8("中文注释说明")
                                 << "GBK";
    QTest::newRow("signed") << "signed.msi" << "Tarsel Sample Product" << "Sample comments text" << "Windows-1252";
}

void TestPelbrook::msiProperties()
{
    QFETCH(QString, file);
    QFETCH(QString, productName);
    QFETCH(QString, description);
    QFETCH(QString, summaryCodec);

    const Values values = call(fixture(file));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.productName, productName);
    QCOMPARE(values.description, description);
    QCOMPARE(values.originalFileName, QString());

    QProcess msiinfo;
    msiinfo.start(QStringLiteral("msiinfo"), {"export", fixture(file), "Property"});
    QVERIFY(msiinfo.waitForFinished());
    const QStringList rows = QString::fromUtf8(msiinfo.readAllStandardOutput()).split(QStringLiteral("\r\n"));
    QVERIFY(rows.contains(QStringLiteral("ProductName\t") + productName));

    msiinfo.start(QStringLiteral("msiinfo"), {"suminfo", fixture(file)});
    QVERIFY(msiinfo.waitForFinished());
    const QString summary = QTextCodec::codecForName(summaryCodec.toLatin1())->toUnicode(msiinfo.readAllStandardOutput());
    const QString comments = summary.section(QStringLiteral("Comments: "), 1).section(QLatin1Char('\n'), 0, 0);
    const QString subject = summary.section(QStringLiteral("Subject: "), 1).section(QLatin1Char('\n'), 0, 0);
    QCOMPARE(values.description, comments.isEmpty() ? subject : comments);
}

void TestPelbrook::md5AndProcessName()
{
    const QStringList files = QDir(fixtures.path()).entryList(QDir::Files);
    QVERIFY(files.size() > 20);
    for (const QString &file : files) {
        const Values values = call(fixture(file));
        // 4 withholds only the signer; every other value is read.
        QVERIFY2(values.result == 0 || values.result == 4, qPrintable(file));
        QCOMPARE(values.processName, file);
        const QString md5sum = run(QStringLiteral("md5sum"), {fixture(file)}).section(QLatin1Char(' '), 0, 0);
        QCOMPARE(values.md5, md5sum);
    }
}

void TestPelbrook::unreadableInputs_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder") << "folder";
    QTest::newRow("missing") << "missing";
    QTest::newRow("pipe") << "pipe";
}

void TestPelbrook::unreadableInputs()
{
    QFETCH(QString, kind);
    QString path;
    if (kind == "folder") {
        path = fixture("folder.exe");
    } else if (kind == "missing") {
        path = scratch.filePath("missing.exe");
    } else {
        path = scratch.filePath("pipe.exe");
        QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    }
    // A pipe with no writer would block a plain open; the call must come back.
    const Values values = call(path);
    QVERIFY(values.result != 0);
    QCOMPARE(values.md5, QString());
    QCOMPARE(values.signature, QString());
    QCOMPARE(values.processName, QFileInfo(path).fileName());
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

void TestPelbrook::versionValueAtEndOfFile_data()
{
    QTest::addColumn<int>("extraLength");
    QTest::addColumn<bool>("overflow");
    // The value has no terminator, so it ends where the file does.
    QTest::newRow("ends exactly at the end of the file") << 0 << false;
    QTest::newRow("one byte over") << 1 << false;
    QTest::newRow("sizes that overflow") << 0xFFFF << true;
}

void TestPelbrook::versionValueAtEndOfFile()
{
    QFETCH(int, extraLength);
    QFETCH(bool, overflow);

    QByteArray version = versionResource(QStringLiteral("Edge Product"), false);
    const int actual = version.size();
    // Every enclosing block claims the extra length. Each starts after its parent's
    // header, key and padding: root at 0, StringFileInfo after the 52-byte fixed
    // info at 92, the table at 128, the string at 152.
    for (int offset : {0, 92, 128, 152}) {
        const quint32 claimed = quint32(quint16(version[offset]) | (quint8(version[offset + 1]) << 8)) + quint32(extraLength);
        put16(version, offset, quint16(std::min<quint32>(claimed, 0xFFFF)));
    }
    const quint32 declaredSize = overflow ? 0xFFFFFFFFu : quint32(actual + extraLength);
    const QString path = writeFile("edge.exe", peWithVersion(version, declaredSize));
    const Values values = call(path);
    QCOMPARE(values.result, 0);
    QCOMPARE(values.productName, QStringLiteral("Edge Product"));
}

void TestPelbrook::sectionTableBounds_data()
{
    QTest::addColumn<int>("cut");
    QTest::addColumn<quint16>("sectionCount");
    QTest::addColumn<bool>("parsed");
    QTest::newRow("table ends exactly at the end of the file") << 0 << quint16(1) << true;
    QTest::newRow("one byte over") << 1 << quint16(1) << false;
    QTest::newRow("count far beyond the file") << 0 << quint16(0xFFFF) << false;
}

void TestPelbrook::sectionTableBounds()
{
    QFETCH(int, cut);
    QFETCH(quint16, sectionCount);
    QFETCH(bool, parsed);

    QByteArray file = peWithVersion(versionResource("Unused"), 0).left(sectionTable + 40 - cut);
    put16(file, peHeader + 6, sectionCount);
    // Without its section the resource directory has nowhere to point.
    put32(file, optionalHeader + 96 + 2 * 8, 0);
    const Values values = call(writeFile("sections.exe", file));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.md5, QString(QCryptographicHash::hash(file, QCryptographicHash::Md5).toHex()));
    const QString outcome = logLines().last();
    QCOMPARE(outcome.contains("PE32;"), parsed);
    QCOMPARE(outcome.contains("truncated section table"), !parsed);
}

void TestPelbrook::certificateTableBounds_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("intact");
    // 4 when the signature itself was read and the signer withheld; a signature that
    // cannot be located or does not verify at all counts as none.
    QTest::addColumn<int>("status");
    QTest::newRow("table ends exactly at the end of the file") << "none" << true << 0;
    QTest::newRow("size one byte over") << "size+1" << false << 0;
    QTest::newRow("size overflows the offset") << "size-overflow" << false << 0;
    QTest::newRow("offset overflows") << "offset-overflow" << false << 0;
    QTest::newRow("a tag after the PKCS#7 blob in the last entry") << "tag" << true << 0;
    QTest::newRow("bytes after the PKCS#7 blob in an entry that is not the last") << "hidden" << false << 4;
    QTest::newRow("signature value changed") << "signature-byte" << false << 0;
}

void TestPelbrook::certificateTableBounds()
{
    QFETCH(QString, change);
    QFETCH(bool, intact);
    QFETCH(int, status);

    QFile original(fixture("signed-sha256.exe"));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QByteArray file = original.readAll();
    const int pe = int(get32(file, 0x3C));
    const int entry = pe + 24 + 112 + 4 * 8; // PE32+ security directory entry
    const quint32 offset = get32(file, entry);
    const quint32 size = get32(file, entry + 4);
    QCOMPARE(quint64(offset) + size, quint64(file.size()));

    if (change == "size+1") {
        put32(file, entry + 4, size + 1);
    } else if (change == "size-overflow") {
        put32(file, entry + 4, 0xFFFFFFF8u);
    } else if (change == "offset-overflow") {
        put32(file, entry, 0xFFFFFFF0u);
    } else if (change == "tag") {
        // The entry and the table grow by 8 bytes that the signature does not cover.
        put32(file, entry + 4, size + 8);
        put32(file, int(offset), get32(file, int(offset)) + 8);
        file.append(8, char(0xAB));
    } else if (change == "hidden") {
        // The same, followed by a second, empty entry (revision 2, type X.509).
        put32(file, entry + 4, size + 16);
        put32(file, int(offset), get32(file, int(offset)) + 8);
        file.append(8, char(0xAB));
        file.append(QByteArray::fromHex("0800000000020100"));
    } else if (change == "signature-byte") {
        file[file.size() - 16] = char(file[file.size() - 16] ^ 0x01);
    }
    const Values values = call(writeFile("certificates.exe", file));
    QCOMPARE(values.result, status);
    QCOMPARE(values.signature, intact ? QString::fromUtf8("测试签名者 Test Signer") : QString());
    QCOMPARE(values.productName, QString::fromUtf8("测试产品 Test"));
}

void TestPelbrook::resourceCycle()
{
    QByteArray file = peWithVersion(versionResource("Looped"), 0);
    // The name-level entry points back at the root directory.
    put32(file, rawData + 0x2C, 0x80000000u);
    QElapsedTimer timer;
    timer.start();
    const Values values = call(writeFile("cycle.exe", file));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.productName, QString());
    QVERIFY(logLines().last().contains("resource directory"));
    QVERIFY(timer.elapsed() < 5000);
}

void TestPelbrook::hostileHeaders_data()
{
    // Up to two 32-bit fields overwritten in an otherwise sound image.
    QTest::addColumn<int>("offset");
    QTest::addColumn<quint32>("value");
    QTest::addColumn<int>("secondOffset");
    QTest::addColumn<quint32>("secondValue");
    QTest::addColumn<QString>("productName");

    const int fileSize = peWithVersion(versionResource("Hostile"), 0).size();
    const int directories = optionalHeader + 96;
    // Rewriting the MZ signature as built leaves the image unchanged.
    const quint32 mz = 0x00005A4D;
    QTest::newRow("untouched") << 0 << mz << 0 << mz << "Hostile";
    QTest::newRow("PE header offset far beyond the file") << 0x3C << 0xFFFFFFF0u << 0 << mz << "";
    QTest::newRow("PE header in the last two bytes") << 0x3C << quint32(fileSize - 2) << 0 << mz << "";
    QTest::newRow("optional header larger than the file") << peHeader + 20 << 0xFFFFu << 0 << mz << "";
    QTest::newRow("directory count beyond the optional header")
        << optionalHeader + 92 << 0xFFFFFFFFu << 0 << mz << "Hostile";
    QTest::newRow("resource RVA in no section") << directories + 2 * 8 << 0x7FFF0000u << 0 << mz << "";
    QTest::newRow("65535 named resource entries") << rawData + 12 << 0x0001FFFFu << 0 << mz << "Hostile";
    QTest::newRow("section raw data beyond the file") << sectionTable + 20 << 0xFFFFFF00u << 0 << mz << "";
    QTest::newRow("certificate table inside the headers")
        << directories + 4 * 8 << 0x10u << directories + 4 * 8 + 4 << 0x100u << "Hostile";
}

void TestPelbrook::hostileHeaders()
{
    QFETCH(int, offset);
    QFETCH(quint32, value);
    QFETCH(int, secondOffset);
    QFETCH(quint32, secondValue);
    QFETCH(QString, productName);

    const QByteArray version = versionResource("Hostile");
    QByteArray file = peWithVersion(version, quint32(version.size()));
    put32(file, offset, value);
    put32(file, secondOffset, secondValue);
    const Values values = call(writeFile("hostile.exe", file));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.productName, productName);
    QCOMPARE(values.signature, QString());
    QCOMPARE(values.md5, QString(QCryptographicHash::hash(file, QCryptographicHash::Md5).toHex()));
}

void TestPelbrook::truncatedFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("fraction");
    for (const char *file : {"signed-sha256.exe", "signed.msi"}) {
        for (double fraction : {0.0, 0.002, 0.01, 0.05, 0.5, 0.9, 0.999}) {
            QTest::addRow("%s at %g", file, fraction) << QString::fromLatin1(file) << fraction;
        }
    }
}

void TestPelbrook::truncatedFiles()
{
    QFETCH(QString, file);
    QFETCH(double, fraction);

    QFile original(fixture(file));
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray whole = original.readAll();
    const QByteArray part = whole.left(int(whole.size() * fraction));
    const Values values = call(writeFile("cut-" + file, part));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.signature, QString());
    QCOMPARE(values.md5, QString(QCryptographicHash::hash(part, QCryptographicHash::Md5).toHex()));
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

void TestPelbrook::installerKinds_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("kind");
    // 0 other, 1 MSI, 2 NSIS, 3 Inno Setup, 4 WiX bundle, 5 InstallShield, 6 Squirrel, 7 self-extracting archive.
    QTest::newRow("makensis") << "" << "nsis-setup.exe" << 2;
    QTest::newRow("zip self-extractor") << "" << "sfx-zip.exe" << 7;
    QTest::newRow("wixl database") << "" << "product.msi" << 1;
    QTest::newRow("signed database") << "" << "signed.msi" << 1;
    QTest::newRow("plain program") << "" << "pe64-version.exe" << 0;
    // 6 MiB of random bytes after the image, then a signature: no marker by chance.
    QTest::newRow("program with data after it") << "" << "signed-large.exe" << 0;
    QTest::newRow("not a program") << "" << "junk.exe" << 0;
    // Real files from a published package: see the fixture script's downloads.
    QTest::newRow("Squirrel setup stub") << "real" << "squirrel-setup.exe" << 6;
    QTest::newRow("Squirrel's updater is no installer") << "real" << "squirrel-updater.exe" << 0;
    QTest::newRow("an archiver, not an archive") << "real" << "archiver-7z-x64.exe" << 0;
    QTest::newRow("unsigned NSIS installer") << "real" << "unsigned-win32-loader.exe" << 2;
}

void TestPelbrook::installerKinds()
{
    QFETCH(QString, source);
    QFETCH(QString, file);
    QFETCH(int, kind);
    const QString path = fixture(source.isEmpty() ? file : source + QLatin1Char('/') + file);
    if (!source.isEmpty() && !QFileInfo::exists(path))
        QSKIP("not downloaded: the package registry cannot be reached, or no longer has the pinned version");
    const More more = callMore(path, 0);
    QVERIFY2(more.status == 0 || more.status == 4, qPrintable(QString::number(more.status)));
    QCOMPARE(more.kind, kind);
    // Without the flag no hash is computed.
    QCOMPARE(more.sha256, QString());
    QCOMPARE(more.authenticodeSha256, QString());
}

void TestPelbrook::hashes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("signedCopy");
    // Every PE fixture signed with SHA-256, and unsigned ones whose signed copy carries their image hash.
    for (const char *file : {"signed-sha256.exe", "signed-org.exe", "signed-nested.exe", "signed-large.exe",
                             "trust-anchored.exe", "trust-tagged.exe", "trust-expired-ts.exe", "trust-selfsigned.exe"})
        QTest::newRow(file) << file << file;
    QTest::newRow("unsigned, as signed-sha256.exe") << "pe64-version.exe" << "signed-sha256.exe";
    QTest::newRow("unsigned, as signed-org.exe") << "pe32-version.exe" << "signed-org.exe";
}

// The Authenticode SHA-256 is what osslsigncode calculates for the image, the file's
// SHA-256 what sha256sum says.
void TestPelbrook::hashes()
{
    QFETCH(QString, file);
    QFETCH(QString, signedCopy);
    const More more = callMore(fixture(file));
    QVERIFY2(more.status == 0 || more.status == 4, qPrintable(QString::number(more.status)));
    QCOMPARE(more.sha256, run(QStringLiteral("sha256sum"), {fixture(file)}).section(QLatin1Char(' '), 0, 0));
    QCOMPARE(more.md5, run(QStringLiteral("md5sum"), {fixture(file)}).section(QLatin1Char(' '), 0, 0));
    const QString verify = run(QStringLiteral("osslsigncode"), {"verify", "-in", fixture(signedCopy)});
    const QRegularExpressionMatch calculated =
        QRegularExpression(QStringLiteral("Calculated message digest\\s*:\\s*([0-9A-F]{64})")).match(verify);
    QVERIFY2(calculated.hasMatch(), qPrintable(verify));
    QCOMPARE(more.authenticodeSha256, calculated.captured(1).toLower());
}

// An installer database's Authenticode digest is the one its signature covers: the same
// for the unsigned database, its trusted copy (computed while verifying) and an untrusted
// one (computed on its own), and the one inside the signature.
void TestPelbrook::msiAuthenticodeHash()
{
    const More unsignedDatabase = callMore(fixture(QStringLiteral("product.msi")));
    const More signedDatabase = callMore(fixture(QStringLiteral("signed.msi")));
    const More untrustedDatabase = callMore(fixture(QStringLiteral("trust-untrusted.msi")));
    QCOMPARE(unsignedDatabase.status, 0);
    QCOMPARE(signedDatabase.status, 0);
    QCOMPARE(untrustedDatabase.status, 4);
    QCOMPARE(untrustedDatabase.authenticodeSha256, unsignedDatabase.authenticodeSha256);
    QCOMPARE(signedDatabase.sha256,
             run(QStringLiteral("sha256sum"), {fixture(QStringLiteral("signed.msi"))}).section(QLatin1Char(' '), 0, 0));
    QCOMPARE(signedDatabase.authenticodeSha256, unsignedDatabase.authenticodeSha256);
    const QString der = scratch.filePath(QStringLiteral("signed-msi.der"));
    QFile::remove(der);
    int exitCode = -1;
    run(QStringLiteral("osslsigncode"), {"extract-signature", "-in", fixture(QStringLiteral("signed.msi")), "-out", der},
        &exitCode);
    QCOMPARE(exitCode, 0);
    // SpcIndirectDataContent's digest is the signature's first 32-byte OCTET STRING.
    const QString dump = run(QStringLiteral("openssl"), {"asn1parse", "-inform", "DER", "-in", der});
    const QRegularExpressionMatch digest =
        QRegularExpression(QStringLiteral("OCTET STRING\\s*\\[HEX DUMP\\]:([0-9A-F]{64})\\b")).match(dump);
    QVERIFY2(digest.hasMatch(), qPrintable(dump.left(2000)));
    QCOMPARE(signedDatabase.authenticodeSha256, digest.captured(1).toLower());
}

QTEST_GUILESS_MAIN(TestPelbrook)
#include "tst_pelbrook.moc"
