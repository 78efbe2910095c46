// Authenticode signatures of PE images and installer databases: the signer of a
// signature that matches its file, none for one that does not, the same verdict as
// osslsigncode; and certificate tables whose bounds lie.

#include "readertest.h"

using namespace readertest;

class TestAuthenticode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void signatures_data();
    void signatures();
    void certificateTableBounds_data();
    void certificateTableBounds();

private:
    Reading reading;
};

void TestAuthenticode::initTestCase()
{
    QVERIFY2(fixturesMade(), "no fixtures: run through ctest, whose reader_fixtures step makes them");
    QVERIFY(reading.init());
}

void TestAuthenticode::signatures_data()
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
    QTest::newRow("tag after the signature in its entry") << "trust-tagged.exe" << signer << 0;
}

void TestAuthenticode::signatures()
{
    QFETCH(QString, file);
    QFETCH(QString, signer);
    QFETCH(int, status);
    checkSignature(reading, file, signer, status);
}

void TestAuthenticode::certificateTableBounds_data()
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

void TestAuthenticode::certificateTableBounds()
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
    const Values values = reading.read(reading.writeFile("certificates.exe", file));
    QCOMPARE(values.result, status);
    QCOMPARE(values.signature, intact ? QString::fromUtf8("测试签名者 Test Signer") : QString());
    QCOMPARE(values.productName, QString::fromUtf8("测试产品 Test"));
}

QTEST_GUILESS_MAIN(TestAuthenticode)
#include "tst_authenticode.moc"
