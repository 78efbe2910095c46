// The version resource: which language's resource and which string table hold the
// strings, checked against exiftool where it reads the same table, and blocks whose
// lengths run to or past the end of the file.

#include "readertest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

using namespace readertest;

class TestVersionInfo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void versionStrings_data();
    void versionStrings();
    void versionResourceLanguage_data();
    void versionResourceLanguage();
    void versionValueAtEndOfFile_data();
    void versionValueAtEndOfFile();

private:
    Reading reading;
};

void TestVersionInfo::initTestCase()
{
    QVERIFY2(fixturesMade(), "no fixtures: run through ctest, whose reader_fixtures step makes them");
    QVERIFY(reading.init());
}

void TestVersionInfo::versionStrings_data()
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

void TestVersionInfo::versionStrings()
{
    QFETCH(QString, file);
    QFETCH(QString, productName);
    QFETCH(QString, originalFileName);
    QFETCH(QString, description);
    QFETCH(bool, exiftoolAgrees);

    const Values values = reading.read(fixture(file));
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

void TestVersionInfo::versionResourceLanguage_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("productName");
    // As the resource loader of a Simplified Chinese system picks: neutral, 0x0804, 0x0409, the first.
    QTest::newRow("Chinese over English and Japanese") << "pe-resource-langs.exe" << "Chinese Resource";
    QTest::newRow("neutral over Chinese") << "pe-resource-neutral.exe" << "Neutral Resource";
    QTest::newRow("English over Japanese") << "pe-resource-english.exe" << "English Resource";
    QTest::newRow("none of them: the directory's first") << "pe-resource-other.exe" << "French Resource";
}

void TestVersionInfo::versionResourceLanguage()
{
    QFETCH(QString, file);
    QFETCH(QString, productName);
    const Values values = reading.read(fixture(file));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.productName, productName);
}

void TestVersionInfo::versionValueAtEndOfFile_data()
{
    QTest::addColumn<int>("extraLength");
    QTest::addColumn<bool>("overflow");
    // The value has no terminator, so it ends where the file does.
    QTest::newRow("ends exactly at the end of the file") << 0 << false;
    QTest::newRow("one byte over") << 1 << false;
    QTest::newRow("sizes that overflow") << 0xFFFF << true;
}

void TestVersionInfo::versionValueAtEndOfFile()
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
    const Values values = reading.read(reading.writeFile("edge.exe", peWithVersion(version, declaredSize)));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.productName, QStringLiteral("Edge Product"));
}

QTEST_GUILESS_MAIN(TestVersionInfo)
#include "tst_versioninfo.moc"
