// Installer databases: the product name and description from the Property table and
// the summary, in the database's code page, checked against msiinfo.

#include "readertest.h"

#include <QTextCodec>

using namespace readertest;

class TestMsi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void msiProperties_data();
    void msiProperties();

private:
    Reading reading;
};

void TestMsi::initTestCase()
{
    QVERIFY2(fixturesMade(), "no fixtures: run through ctest, whose reader_fixtures step makes them");
    QVERIFY(reading.init());
}

void TestMsi::msiProperties_data()
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

void TestMsi::msiProperties()
{
    QFETCH(QString, file);
    QFETCH(QString, productName);
    QFETCH(QString, description);
    QFETCH(QString, summaryCodec);

    const Values values = reading.read(fixture(file));
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

QTEST_GUILESS_MAIN(TestMsi)
#include "tst_msi.moc"
