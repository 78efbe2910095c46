#include "platform.h"
#include "workbookreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

Q_DECLARE_METATYPE(QList<QStringList>)

namespace {

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

} // namespace

class TestConverter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fields_data();
    void fields();
    void sheetNameAndWidths();
    void badInputKeepsOldWorkbook_data();
    void badInputKeepsOldWorkbook();
    void unwritableFolder();
    void commandLine_data();
    void commandLine();

private:
    // Runs the converter; returns its exit code (-1 when it did not finish) and its stderr.
    int convert(const QStringList &arguments, QByteArray *errorOutput = nullptr);

    QString converter;
    QTemporaryDir dir;
};

void TestConverter::initTestCase()
{
    converter = QCoreApplication::applicationDirPath() + QLatin1Char('/') + Platform::converterFileName();
    QVERIFY2(QFile::exists(converter), qPrintable(converter));
    QVERIFY(dir.isValid());
}

int TestConverter::convert(const QStringList &arguments, QByteArray *errorOutput)
{
    QProcess process;
    process.start(converter, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (errorOutput)
        *errorOutput = process.readAllStandardError();
    return process.exitCode();
}

void TestConverter::fields_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QList<QStringList>>("rows");

    QTest::newRow("plain, CR LF") << QStringList() << QByteArray("a,b\r\nc,d\r\n")
                                  << QList<QStringList>{{"a", "b"}, {"c", "d"}};
    QTest::newRow("LF, no final line end") << QStringList() << QByteArray("a,b\nc,d")
                                           << QList<QStringList>{{"a", "b"}, {"c", "d"}};
    QTest::newRow("quotes, doubled quotes, comma")
        << QStringList() << QByteArray("\"x, y\",\"say \"\"hi\"\"\",\"\"\"\"\r\n")
        << QList<QStringList>{{"x, y", "say \"hi\"", "\""}};
    QTest::newRow("line breaks inside quotes") << QStringList() << QByteArray("\"one\ntwo\",\"three\r\nfour\",end\r\n")
                                               << QList<QStringList>{{"one\ntwo", "three\r\nfour", "end"}};
    QTest::newRow("byte-order mark skipped") << QStringList() << QByteArray("\xEF\xBB\xBFhead,x\r\n")
                                             << QList<QStringList>{{"head", "x"}};
    QTest::newRow("digits, dates and formulas stay text")
        << QStringList() << QByteArray("12345678901234567890123456789012,0012,2022-06-15,=1+1,1e5\r\n")
        << QList<QStringList>{{"12345678901234567890123456789012", "0012", "2022-06-15", "=1+1", "1e5"}};
    QTest::newRow("empty fields and an empty line")
        << QStringList() << QByteArray(",,x,\r\n\r\n\"\",y\r\n")
        << QList<QStringList>{{"", "", "x"}, {}, {"", "y"}};
    QTest::newRow("Chinese, spaces, control and escape-like text")
        << QStringList() << QByteArray("软件名称（必填）,  lead,a\x01z,_x0041_\r\n")
        << QList<QStringList>{{"软件名称（必填）", "  lead", "a\x01z", "_x0041_"}};
    QTest::newRow("-s ;") << QStringList{"-s", ";"} << QByteArray("a;\"b;c\";d,e\r\n")
                          << QList<QStringList>{{"a", "b;c", "d,e"}};
    QTest::newRow("-t") << QStringList{"-t"} << QByteArray("a\tb,c\r\n") << QList<QStringList>{{"a", "b,c"}};
}

void TestConverter::fields()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, csv);
    QFETCH(QList<QStringList>, rows);

    const QString csvPath = dir.filePath(QStringLiteral("fields.csv"));
    writeFile(csvPath, csv);
    QFile::remove(csvPath + QStringLiteral(".xlsx"));
    QByteArray errorOutput;
    QCOMPARE(convert(options + QStringList{csvPath}, &errorOutput), 0);
    QVERIFY2(errorOutput.isEmpty(), errorOutput.constData());

    const QJsonObject workbook = readWorkbook(csvPath + QStringLiteral(".xlsx"));
    QCOMPARE(workbookRows(workbook), rows);
    for (const QJsonValue &rowTypes : workbook.value(QStringLiteral("types")).toArray()) {
        for (const QJsonValue &type : rowTypes.toArray())
            QCOMPARE(type.toString(), QStringLiteral("s"));
    }
}

void TestConverter::sheetNameAndWidths()
{
    const QString csvPath = dir.filePath(QStringLiteral("temp.csv"));
    QByteArray csv = "short,中文中文,x\r\n" + QByteArray(150, 'w') + ",ab,\r\n";
    for (int row = 2; row < 20; ++row)
        csv += "s,,\r\n";
    // Beyond the sampled rows: no influence on the widths.
    csv += "a much longer text than the sample,,yyyyyyyyyyyy\r\n";
    writeFile(csvPath, csv);
    QCOMPARE(convert({csvPath}), 0);

    const QJsonObject workbook = readWorkbook(csvPath + QStringLiteral(".xlsx"));
    QCOMPARE(workbook.value(QStringLiteral("sheets")).toArray(), QJsonArray{QStringLiteral("temp")});
    QCOMPARE(workbookRows(workbook).size(), 21);
    const QJsonObject widths = workbook.value(QStringLiteral("widths")).toObject();
    // openpyxl reports the stored width, which carries a fixed padding below one character.
    QCOMPARE(int(widths.value(QStringLiteral("A")).toDouble()), 100);
    QCOMPARE(int(widths.value(QStringLiteral("B")).toDouble()), 9);
    QCOMPARE(int(widths.value(QStringLiteral("C")).toDouble()), 2);
}

void TestConverter::badInputKeepsOldWorkbook_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("quote not closed") << QByteArray("a,b\r\n\"open,c\r\n") << QByteArray("line 2: quoted field not closed");
    QTest::newRow("text after closing quote") << QByteArray("\"a\"b,c\r\n") << QByteArray("line 1: text after the closing quote");
    QTest::newRow("not UTF-8") << QByteArray("ok\r\nbad\xC3(\r\n") << QByteArray("row 2, column 1: text is not UTF-8");
    QTest::newRow("cell too long") << (QByteArray(40000, 'x') + "\r\n") << QByteArray("row 1, column 1:");
}

void TestConverter::badInputKeepsOldWorkbook()
{
    QFETCH(QByteArray, csv);
    QFETCH(QByteArray, message);

    const QString csvPath = dir.filePath(QStringLiteral("bad.csv"));
    writeFile(csvPath, csv);
    writeFile(csvPath + QStringLiteral(".xlsx"), "old workbook");
    QByteArray errorOutput;
    QCOMPARE(convert({csvPath}, &errorOutput), 1);
    QVERIFY2(errorOutput.contains(message), errorOutput.constData());
    QCOMPARE(fileContent(csvPath + QStringLiteral(".xlsx")), QByteArray("old workbook"));
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.part")}, QDir::Files), QStringList());
}

void TestConverter::unwritableFolder()
{
    if (geteuid() != 0)
        QSKIP("needs root to run the converter as an unprivileged user");
    // The folder stays root's: the unprivileged converter can read the CSV but not write beside it.
    QTemporaryDir folder;
    QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                     | QFile::ReadOther | QFile::ExeOther));
    const QString csvPath = folder.filePath(QStringLiteral("temp.csv"));
    writeFile(csvPath, "a,b\r\n");
    writeFile(csvPath + QStringLiteral(".xlsx"), "old workbook");

    QProcess process;
    process.start(QStringLiteral("setpriv"), {"--reuid=65534", "--regid=65534", "--clear-groups", converter, csvPath});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY2(process.readAllStandardError().contains("cannot write"), "no message on stderr");
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::NoDotAndDotDot),
             QStringList({QStringLiteral("temp.csv"), QStringLiteral("temp.csv.xlsx")}));
    QCOMPARE(fileContent(csvPath + QStringLiteral(".xlsx")), QByteArray("old workbook"));

    // A workbook name that cannot be replaced (a folder holds it): the finished workbook is dropped.
    const QString blocked = dir.filePath(QStringLiteral("blocked.csv"));
    writeFile(blocked, "a\r\n");
    QVERIFY(QDir().mkpath(blocked + QStringLiteral(".xlsx/inside")));
    QByteArray errorOutput;
    QCOMPARE(convert({blocked}, &errorOutput), 1);
    QVERIFY2(errorOutput.contains("cannot replace"), errorOutput.constData());
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.part")}, QDir::Files), QStringList());
}

void TestConverter::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("no file") << QStringList() << 2 << QByteArray("Usage: xlsxio_csv2xlsx");
    QTest::newRow("unknown option") << QStringList{"-x", "a.csv"} << 2 << QByteArray("Usage:");
    QTest::newRow("separator too long") << QStringList{"-s", ";;", "a.csv"} << 2 << QByteArray("one ASCII character");
    QTest::newRow("quote as separator") << QStringList{"-s", "\"", "a.csv"} << 2 << QByteArray("one ASCII character");
    QTest::newRow("missing file") << QStringList{"missing.csv"} << 1 << QByteArray("cannot open missing.csv");
    QTest::newRow("one of two fails") << QStringList{"missing.csv", "good.csv"} << 1 << QByteArray("cannot open missing.csv");
}

void TestConverter::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);

    const QString good = dir.filePath(QStringLiteral("good.csv"));
    writeFile(good, "fine\r\n");
    QFile::remove(good + QStringLiteral(".xlsx"));
    for (QString &argument : arguments) {
        if (argument.endsWith(QLatin1String(".csv")))
            argument = dir.filePath(argument);
    }
    QByteArray errorOutput;
    QCOMPARE(convert(arguments, &errorOutput), exitCode);
    QVERIFY2(errorOutput.contains(message.replace("missing.csv", QFile::encodeName(dir.filePath("missing.csv")))),
             errorOutput.constData());
    QCOMPARE(QFile::exists(good + QStringLiteral(".xlsx")), arguments.contains(good));
}

QTEST_GUILESS_MAIN(TestConverter)
#include "tst_converter.moc"
