// Whether a signer is shown: chains to the anchors (the system's, the bundled roots, the
// `trust` folder beside the program, refused when others may write it), verdicts that
// end with a certificate's validity, and published files signed by real vendors.

#include "readertest.h"

#include <QDateTime>
#include <QThread>

#include <sys/stat.h>

using namespace readertest;

class TestTrust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void chains_data();
    void chains();
    void trustEndsWithValidity();
    void trustFolder_data();
    void trustFolder();
    void trustFolderOthersMayWrite_data();
    void trustFolderOthersMayWrite();
    void realSigners_data();
    void realSigners();

private:
    Reading reading;
};

void TestTrust::initTestCase()
{
    QVERIFY2(fixturesMade(), "no fixtures: run through ctest, whose reader_fixtures step makes them");
    QVERIFY(reading.init());
}

void TestTrust::chains_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("signer");
    QTest::addColumn<int>("status");
    QTest::newRow("self-signed, forged vendor name") << "trust-selfsigned.exe" << "" << 4;
    QTest::newRow("root that is no anchor") << "trust-stray-root.exe" << "" << 4;
    QTest::newRow("leaf without code-signing usage") << "trust-no-usage.exe" << "" << 4;
    QTest::newRow("intermediate left out of the signature") << "trust-no-intermediate.exe" << "" << 4;
    QTest::newRow("MSI, self-signed, forged vendor name") << "trust-untrusted.msi" << "" << 4;
}

void TestTrust::chains()
{
    QFETCH(QString, file);
    QFETCH(QString, signer);
    QFETCH(int, status);
    checkSignature(reading, file, signer, status);
}

// A verdict made at the current time holds only while the certificates stay valid: the
// same signature, asked about again after its leaf expired, is no longer trusted.
void TestTrust::trustEndsWithValidity()
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
    const QString signedFile = reading.scratchPath("expiring.exe");
    output = run(QStringLiteral("osslsigncode"), {"sign", "-certs", chain.fileName(), "-key", folder.filePath("key.pem"),
                                                  "-h", "sha256", "-in", fixture("pe64-version.exe"), "-out", signedFile},
                 &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(output));

    const Values valid = reading.read(signedFile);
    if (QDateTime::currentSecsSinceEpoch() >= notAfter)
        QSKIP("the leaf expired before it could be checked while valid");
    QCOMPARE(valid.result, 0);
    QCOMPARE(valid.signature, QStringLiteral("Brief Signer"));
    while (QDateTime::currentSecsSinceEpoch() <= notAfter + 1)
        QThread::msleep(200);
    const Values expired = reading.read(signedFile);
    QCOMPARE(expired.result, 4);
    QCOMPARE(expired.signature, QString());
    // The expired verdict holds from the second after the leaf's last valid one.
    QCOMPARE(expired.validFrom, notAfter + 1);
    QVERIFY2(expired.outcome.contains(QStringLiteral("expired without a timestamp")), qPrintable(expired.outcome));
}

void TestTrust::trustFolder_data()
{
    QTest::addColumn<QString>("anchorFile");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("PEM") << "root.pem" << "PEM" << true;
    QTest::newRow("DER under another extension") << "root.cer" << "DER" << true;
    QTest::newRow("no anchor, only clutter") << "" << "" << false;
}

void TestTrust::trustFolder()
{
    QFETCH(QString, anchorFile);
    QFETCH(QString, format);
    QFETCH(bool, trusted);

    QTemporaryDir folder;
    const QString trust = folder.filePath(QStringLiteral("trust"));
    QVERIFY(QDir(trust).mkpath(QStringLiteral("subfolder")));
    QFile notes(trust + "/notes.txt");
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("not a certificate") > 0);
    notes.close();
    if (!anchorFile.isEmpty()) {
        int exitCode = -1;
        run(QStringLiteral("openssl"), {"x509", "-in", fixture("trust/root.pem"), "-outform", format, "-out",
                                        trust + "/" + anchorFile}, &exitCode);
        QCOMPARE(exitCode, 0);
    }
    const vantoril::Anchors anchors(QFile::encodeName(trust).toStdString());
    vantoril::SignatureCache signatures;
    const Values values = Reading::readWith(anchors, signatures, fixture("signed-sha256.exe"));
    QCOMPARE(values.signature, trusted ? QString::fromUtf8("测试签名者 Test Signer") : QString());
}

void TestTrust::trustFolderOthersMayWrite_data()
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
void TestTrust::trustFolderOthersMayWrite()
{
    QFETCH(int, programMode);
    QFETCH(int, trustMode);
    QFETCH(bool, trusted);

    QTemporaryDir folder;
    const QString trust = folder.filePath(QStringLiteral("trust"));
    QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("trust")));
    QVERIFY(QFile::copy(fixture("trust/root.pem"), trust + "/root.pem"));
    QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), mode_t(programMode)) == 0);
    QVERIFY(::chmod(QFile::encodeName(trust).constData(), mode_t(trustMode)) == 0);
    const vantoril::Anchors anchors(QFile::encodeName(trust).toStdString());
    vantoril::SignatureCache signatures;
    const Values values = Reading::readWith(anchors, signatures, fixture("signed-sha256.exe"));
    QCOMPARE(values.signature, trusted ? QString::fromUtf8("测试签名者 Test Signer") : QString());
    if (!trusted) {
        QStringList notes;
        for (const std::string &note : anchors.notes())
            notes << QString::fromStdString(note);
        QVERIFY2(notes.join('\n').contains("not used: " + trust), qPrintable(notes.join('\n')));
    }
}

void TestTrust::realSigners_data()
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

void TestTrust::realSigners()
{
    QFETCH(QString, file);
    QFETCH(QString, signer);
    QFETCH(int, status);
    QFETCH(QString, productName);
    const QString path = fixture(QStringLiteral("real/") + file);
    if (!QFileInfo::exists(path))
        QSKIP("not downloaded: the package registry cannot be reached, or no longer has the pinned version");
    const Values values = reading.read(path);
    QCOMPARE(values.result, status);
    QCOMPARE(values.signature, signer);
    QCOMPARE(values.productName, productName);
}

QTEST_GUILESS_MAIN(TestTrust)
#include "tst_trust.moc"
