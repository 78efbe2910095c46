#include "exportrecord.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestExportRecord : public QObject
{
    Q_OBJECT

private slots:
    void cleanName_data();
    void cleanName();
    void quoteField_data();
    void quoteField();
    void folderId_data();
    void folderId();
    void flagRule_data();
    void flagRule();
    void folderRow();
    void isWorkbook_data();
    void isWorkbook();
};

void TestExportRecord::cleanName_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");

    QTest::newRow("plus signs dropped, space to underscore") << "Tool++ 7.9" << "Tool_7.9";
    QTest::newRow("brackets dropped, ideographs kept") << "办公 软件(2019)" << "办公_软件2019";
    QTest::newRow("leading underscores removed") << "__setup.exe" << "setup.exe";
    QTest::newRow("space after leading underscores") << " _ x " << "_x";
    QTest::newRow("only underscores") << "___" << "";
    QTest::newRow("kept punctuation") << "a_b-c@d.e" << "a_b-c@d.e";
    QTest::newRow("commas, quotes, tabs dropped") << "a,\"b\"\tc" << "abc";
    QTest::newRow("full-width letters dropped, digits kept") << QStringLiteral("ＡＢ（１）") << QStringLiteral("１");
    QTest::newRow("ideograph range ends") << QStringLiteral("\u4E00\u9FA5\u9FA6\u3400") << QStringLiteral("\u4E00\u9FA5");
    QTest::newRow("surrogate pair dropped") << QStringLiteral("a\U0001F600b") << "ab";
    QTest::newRow("other decimal digits kept") << QStringLiteral("v\u0663\u0967") << QStringLiteral("v\u0663\u0967");
    QTest::newRow("other letters dropped") << QStringLiteral("café") << "caf";
}

void TestExportRecord::cleanName()
{
    QFETCH(QString, text);
    QFETCH(QString, name);
    QCOMPARE(ExportRecord::cleanName(text), name);
}

void TestExportRecord::quoteField_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("field");

    QTest::newRow("empty") << "" << "\"\"";
    QTest::newRow("question marks only") << "???" << "\"\"";
    QTest::newRow("question marks removed") << "a?b?" << "\"ab\"";
    QTest::newRow("comma kept inside quotes") << "Example, Inc." << "\"Example, Inc.\"";
    QTest::newRow("quotes doubled") << "say \"hi\"" << "\"say \"\"hi\"\"\"";
    QTest::newRow("lone quote") << "\"" << "\"\"\"\"";
    QTest::newRow("line break kept") << "one\r\ntwo" << "\"one\r\ntwo\"";
}

void TestExportRecord::quoteField()
{
    QFETCH(QString, value);
    QFETCH(QString, field);
    QCOMPARE(ExportRecord::quoteField(value), field);
}

void TestExportRecord::folderId_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("id");

    // Digests from md5sum over the path's UTF-8 bytes.
    QTest::newRow("plain") << "/tmp/A" << "86bd00e2d8d2733c6f9940df73854196";
    QTest::newRow("below the root") << "/A" << "e62fb7061d96488f28377b9b7c87a5f3";
    QTest::newRow("Chinese and a space") << QStringLiteral("/数据/绿色 软件") << "d482812d315590b0d5543b8c7191773c";
}

void TestExportRecord::folderId()
{
    QFETCH(QString, path);
    QFETCH(QString, id);
    QCOMPARE(ExportRecord::folderId(path), id);
}

void TestExportRecord::flagRule_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("original");
    QTest::addColumn<QString>("md5");
    QTest::addColumn<int>("column");

    QTest::newRow("product present") << "Tool" << "tool.exe" << "abc" << 20;
    QTest::newRow("product only") << "Tool" << "" << "" << 20;
    QTest::newRow("original file name next") << "" << "tool.exe" << "abc" << 22;
    QTest::newRow("neither: MD5") << "" << "" << "abc" << 23;
    QTest::newRow("neither and no MD5") << "" << "" << "" << 23;
    QTest::newRow("question marks count as empty") << "??" << "?" << "abc" << 23;
    QTest::newRow("a quote is a value") << "\"" << "" << "" << 20;
}

// The rule through the whole file row: exactly the chosen column says yes.
void TestExportRecord::flagRule()
{
    QFETCH(QString, product);
    QFETCH(QString, original);
    QFETCH(QString, md5);
    QFETCH(int, column);

    SoftwareProperties quoted;
    quoted.qStrDigitalSign = ExportRecord::quoteField(QStringLiteral("Signer"));
    quoted.qProductName = ExportRecord::quoteField(product);
    quoted.qProcessName = ExportRecord::quoteField(QStringLiteral("tool"));
    quoted.qOriginalFileName = ExportRecord::quoteField(original);
    quoted.qFileCustomMd5 = ExportRecord::quoteField(md5);
    quoted.qFileDescription = ExportRecord::quoteField(QStringLiteral("desc"));
    QCOMPARE(ExportRecord::blacklistColumn(quoted.qProductName, quoted.qOriginalFileName), column);

    const QString row = ExportRecord::fileRow(QStringLiteral("tool.exe"), quoted, QStringLiteral("parent"));
    QVERIFY(row.endsWith(QLatin1String("\r\n")));
    QStringList fields = row.chopped(2).split(QLatin1Char(','));
    QCOMPARE(fields.size(), 23);
    const QStringList fixed = {"", "", "", "tool.exe", quoted.qFileDescription, quoted.qStrDigitalSign, "否",
                               quoted.qProductName, "否", quoted.qProcessName, "否", quoted.qOriginalFileName, "否",
                               quoted.qFileCustomMd5, "是", "否", "parent", "", "否"};
    QCOMPARE(fields.mid(0, 19), fixed);
    QCOMPARE(fields.at(19), column == 20 ? QStringLiteral("是") : QStringLiteral("否"));
    QCOMPARE(fields.at(20), QStringLiteral("否"));
    QCOMPARE(fields.at(21), column == 22 ? QStringLiteral("是") : QStringLiteral("否"));
    QCOMPARE(fields.at(22), column == 23 ? QStringLiteral("是") : QStringLiteral("否"));
}

void TestExportRecord::folderRow()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("绿色 Tool++")));
    const QFileInfo folder(dir.filePath(QStringLiteral("绿色 Tool++")));

    const QString row = ExportRecord::folderRow(folder);
    QVERIFY(row.endsWith(QLatin1String("\r\n")));
    const QStringList fields = row.chopped(2).split(QLatin1Char(','));
    QCOMPARE(fields.size(), 18);
    QStringList expected;
    for (int i = 0; i < 18; ++i)
        expected.append(QString());
    expected[3] = QStringLiteral("绿色_Tool");
    expected[15] = QStringLiteral("是");
    expected[17] = ExportRecord::folderId(dir.path() + QStringLiteral("/绿色 Tool++"));
    QCOMPARE(fields, expected);
}

namespace {

void put16(QByteArray &bytes, quint32 value)
{
    bytes.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
}

void put32(QByteArray &bytes, quint32 value)
{
    put16(bytes, value & 0xFFFF);
    put16(bytes, value >> 16);
}

// A ZIP archive of stored entries (APPNOTE): local headers and data, the central
// directory, then its end record. Offsets into it are named for the cases that break them.
QByteArray zipArchive(const QStringList &names, qint64 *directoryOffsetAt = nullptr)
{
    QByteArray archive;
    QByteArray directory;
    for (const QString &name : names) {
        const QByteArray encoded = name.toUtf8();
        const QByteArray data = "<x/>";
        const quint32 local = quint32(archive.size());
        put32(archive, 0x04034b50);
        put16(archive, 20);
        put16(archive, 0);
        put16(archive, 0);
        put32(archive, 0);
        put32(archive, 0);
        put32(archive, quint32(data.size()));
        put32(archive, quint32(data.size()));
        put16(archive, quint32(encoded.size()));
        put16(archive, 0);
        archive += encoded + data;
        put32(directory, 0x02014b50);
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, 0);
        put32(directory, quint32(data.size()));
        put32(directory, quint32(data.size()));
        put16(directory, quint32(encoded.size()));
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, local);
        directory += encoded;
    }
    const quint32 directoryOffset = quint32(archive.size());
    archive += directory;
    put32(archive, 0x06054b50);
    put16(archive, 0);
    put16(archive, 0);
    put16(archive, quint32(names.size()));
    put16(archive, quint32(names.size()));
    put32(archive, quint32(directory.size()));
    if (directoryOffsetAt)
        *directoryOffsetAt = archive.size();
    put32(archive, directoryOffset);
    put16(archive, 0);
    return archive;
}

} // namespace

void TestExportRecord::isWorkbook_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("workbook");

    const QStringList parts{"[Content_Types].xml", "xl/workbook.xml", "xl/worksheets/sheet1.xml"};
    qint64 offsetAt = 0;
    const QByteArray whole = zipArchive(parts, &offsetAt);
    QTest::newRow("a workbook") << whole << true;
    QTest::newRow("one byte short") << whole.left(whole.size() - 1) << false;
    QTest::newRow("one byte more") << whole + 'x' << false;
    QTest::newRow("without the sheet") << zipArchive({"[Content_Types].xml", "xl/workbook.xml"}) << false;
    QTest::newRow("text") << QByteArray("not a zip") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QByteArray directoryPastEnd = whole;
    directoryPastEnd[int(offsetAt)] = char(directoryPastEnd.at(int(offsetAt)) + 1);
    QTest::newRow("directory moved by a byte") << directoryPastEnd << false;
    QByteArray noLocalHeader = whole;
    noLocalHeader[0] = 'Q';
    QTest::newRow("first local header broken") << noLocalHeader << false;
    // Half of an earlier run's workbook: the converter killed as it wrote.
    QTest::newRow("cut in the middle") << whole.left(whole.size() / 2) << false;
}

void TestExportRecord::isWorkbook()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, workbook);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("temp.csv.xlsx")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    QCOMPARE(ExportRecord::isWorkbook(file.fileName()), workbook);
}

QTEST_GUILESS_MAIN(TestExportRecord)
#include "tst_exportrecord.moc"
