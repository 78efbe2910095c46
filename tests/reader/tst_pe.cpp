// The PE parser on images whose headers, section table and resource tree lie: every
// offset and count is checked, and what can still be read is read.

#include "readertest.h"

#include <QCryptographicHash>
#include <QElapsedTimer>

using namespace readertest;

class TestPe : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sectionTableBounds_data();
    void sectionTableBounds();
    void resourceCycle();
    void hostileHeaders_data();
    void hostileHeaders();

private:
    Reading reading;
};

void TestPe::initTestCase()
{
    QVERIFY2(fixturesMade(), "no fixtures: run through ctest, whose reader_fixtures step makes them");
    QVERIFY(reading.init());
}

void TestPe::sectionTableBounds_data()
{
    QTest::addColumn<int>("cut");
    QTest::addColumn<quint16>("sectionCount");
    QTest::addColumn<bool>("parsed");
    QTest::newRow("table ends exactly at the end of the file") << 0 << quint16(1) << true;
    QTest::newRow("one byte over") << 1 << quint16(1) << false;
    QTest::newRow("count far beyond the file") << 0 << quint16(0xFFFF) << false;
}

void TestPe::sectionTableBounds()
{
    QFETCH(int, cut);
    QFETCH(quint16, sectionCount);
    QFETCH(bool, parsed);

    QByteArray file = peWithVersion(versionResource("Unused"), 0).left(sectionTable + 40 - cut);
    put16(file, peHeader + 6, sectionCount);
    // Without its section the resource directory has nowhere to point.
    put32(file, optionalHeader + 96 + 2 * 8, 0);
    const Values values = reading.read(reading.writeFile("sections.exe", file));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.md5, QString(QCryptographicHash::hash(file, QCryptographicHash::Md5).toHex()));
    QCOMPARE(values.outcome.contains("PE32;"), parsed);
    QCOMPARE(values.outcome.contains("truncated section table"), !parsed);
}

void TestPe::resourceCycle()
{
    QByteArray file = peWithVersion(versionResource("Looped"), 0);
    // The name-level entry points back at the root directory.
    put32(file, rawData + 0x2C, 0x80000000u);
    QElapsedTimer timer;
    timer.start();
    const Values values = reading.read(reading.writeFile("cycle.exe", file));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.productName, QString());
    QVERIFY2(values.outcome.contains("resource directory"), qPrintable(values.outcome));
    QVERIFY(timer.elapsed() < 5000);
}

void TestPe::hostileHeaders_data()
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

void TestPe::hostileHeaders()
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
    const Values values = reading.read(reading.writeFile("hostile.exe", file));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.productName, productName);
    QCOMPARE(values.signature, QString());
    QCOMPARE(values.md5, QString(QCryptographicHash::hash(file, QCryptographicHash::Md5).toHex()));
}

QTEST_GUILESS_MAIN(TestPe)
#include "tst_pe.moc"
