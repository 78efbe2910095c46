// Timestamps: a signature is judged at its timestamp's time when the timestamp chains to
// an anchor, so an expired leaf stays trusted; without one, or under no anchor, it is
// judged now.

#include "readertest.h"

using namespace readertest;

class TestTimestamp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void timestamps_data();
    void timestamps();

private:
    Reading reading;
};

void TestTimestamp::initTestCase()
{
    QVERIFY2(fixturesMade(), "no fixtures: run through ctest, whose reader_fixtures step makes them");
    QVERIFY(reading.init());
}

void TestTimestamp::timestamps_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("signer");
    QTest::addColumn<int>("status");
    QTest::newRow("chain to an anchor, timestamped")
        << "trust-anchored.exe" << QString::fromUtf8("测试签名者 Test Signer") << 0;
    QTest::newRow("expired leaf, timestamp inside its validity")
        << "trust-expired-ts.exe" << "Tarsel Expired Signer" << 0;
    QTest::newRow("expired leaf without a timestamp") << "trust-expired.exe" << "" << 4;
    QTest::newRow("expired leaf, timestamp under no anchor") << "trust-bad-ts.exe" << "" << 4;
}

void TestTimestamp::timestamps()
{
    QFETCH(QString, file);
    QFETCH(QString, signer);
    QFETCH(int, status);
    checkSignature(reading, file, signer, status);
}

QTEST_GUILESS_MAIN(TestTimestamp)
#include "tst_timestamp.moc"
