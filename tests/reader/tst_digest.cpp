// The file's MD5 and SHA-256 and its Authenticode SHA-256, computed in the one read,
// against md5sum, sha256sum, osslsigncode and the digest inside a signature.

#include "readertest.h"

#include <QRegularExpression>

using namespace readertest;

class TestDigest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void md5AndProcessName();
    void hashes_data();
    void hashes();
    void msiAuthenticodeHash();

private:
    Reading reading;
};

void TestDigest::initTestCase()
{
    QVERIFY2(fixturesMade(), "no fixtures: run through ctest, whose reader_fixtures step makes them");
    QVERIFY(reading.init());
}

void TestDigest::md5AndProcessName()
{
    const QStringList files = QDir(fixtureFolder()).entryList(QDir::Files);
    QVERIFY(files.size() > 20);
    for (const QString &file : files) {
        const Values values = reading.read(fixture(file));
        // 4 withholds only the signer; every other value is read.
        QVERIFY2(values.result == 0 || values.result == 4, qPrintable(file));
        QCOMPARE(values.processName, file);
        QCOMPARE(values.md5, checksum(QStringLiteral("md5sum"), fixture(file)));
    }
}

void TestDigest::hashes_data()
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
void TestDigest::hashes()
{
    QFETCH(QString, file);
    QFETCH(QString, signedCopy);
    const Values values = reading.read(fixture(file), true);
    QVERIFY2(values.result == 0 || values.result == 4, qPrintable(QString::number(values.result)));
    QCOMPARE(values.sha256, checksum(QStringLiteral("sha256sum"), fixture(file)));
    QCOMPARE(values.md5, checksum(QStringLiteral("md5sum"), fixture(file)));
    const QString verify = run(QStringLiteral("osslsigncode"), {"verify", "-in", fixture(signedCopy)});
    const QRegularExpressionMatch calculated =
        QRegularExpression(QStringLiteral("Calculated message digest\\s*:\\s*([0-9A-F]{64})")).match(verify);
    QVERIFY2(calculated.hasMatch(), qPrintable(verify));
    QCOMPARE(values.authenticodeSha256, calculated.captured(1).toLower());
}

// An installer database's Authenticode digest is the one its signature covers: the same
// for the unsigned database, its trusted copy (computed while verifying) and an untrusted
// one (computed on its own), and the one inside the signature.
void TestDigest::msiAuthenticodeHash()
{
    const Values unsignedDatabase = reading.read(fixture(QStringLiteral("product.msi")), true);
    const Values signedDatabase = reading.read(fixture(QStringLiteral("signed.msi")), true);
    const Values untrustedDatabase = reading.read(fixture(QStringLiteral("trust-untrusted.msi")), true);
    QCOMPARE(unsignedDatabase.result, 0);
    QCOMPARE(signedDatabase.result, 0);
    QCOMPARE(untrustedDatabase.result, 4);
    QCOMPARE(untrustedDatabase.authenticodeSha256, unsignedDatabase.authenticodeSha256);
    QCOMPARE(signedDatabase.sha256, checksum(QStringLiteral("sha256sum"), fixture(QStringLiteral("signed.msi"))));
    QCOMPARE(signedDatabase.authenticodeSha256, unsignedDatabase.authenticodeSha256);
    const QString der = reading.scratchPath(QStringLiteral("signed-msi.der"));
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

QTEST_GUILESS_MAIN(TestDigest)
#include "tst_digest.moc"
