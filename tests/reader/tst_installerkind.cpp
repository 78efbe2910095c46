// Which maker's installer a file is, from its own markers: files the real tools made
// and published files of known kinds.

#include "readertest.h"

using namespace readertest;

class TestInstallerKind : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installerKinds_data();
    void installerKinds();

private:
    Reading reading;
};

void TestInstallerKind::initTestCase()
{
    QVERIFY2(fixturesMade(), "no fixtures: run through ctest, whose reader_fixtures step makes them");
    QVERIFY(reading.init());
}

void TestInstallerKind::installerKinds_data()
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

void TestInstallerKind::installerKinds()
{
    QFETCH(QString, source);
    QFETCH(QString, file);
    QFETCH(int, kind);
    const QString path = fixture(source.isEmpty() ? file : source + QLatin1Char('/') + file);
    if (!source.isEmpty() && !QFileInfo::exists(path))
        QSKIP("not downloaded: the package registry cannot be reached, or no longer has the pinned version");
    const Values values = reading.read(path);
    QVERIFY2(values.result == 0 || values.result == 4, qPrintable(QString::number(values.result)));
    QCOMPARE(values.kind, kind);
    // Without being asked for, no hash is computed.
    QCOMPARE(values.sha256, QString());
    QCOMPARE(values.authenticodeSha256, QString());
}

QTEST_GUILESS_MAIN(TestInstallerKind)
#include "tst_installerkind.moc"
