// pelbrook-export as a user runs it: a real process in a program folder of its own,
// with the real library and converter. The CSV it hands to the converter is compared
// byte for byte with the one the wizard's own controller and window hand over for the
// same folder, caught by a converter that keeps a copy and then runs the real one.
#include "exportfixtures.h"
#include "workbookreader.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

QString binary(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

const QByteArray oldWorkbook("an earlier workbook");

} // namespace

class TestBatchExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void csvMatchesWizard();
    void exitCodes_data();
    void exitCodes();
    void interrupt_data();
    void interrupt();
    void secondRunRefused();
    void frontEndsAtOnce_data();
    void frontEndsAtOnce();

private:
    struct Run
    {
        int exitCode = -1;
        bool crashed = false;
        QString err;
        QByteArray out;
    };
    QString programFolder(const QString &name, const QString &converter, bool withLibrary = true);
    Run run(const QString &folder, const QString &program, const QStringList &arguments,
            const QString &capture = QString());

    QTemporaryDir dir;
    QString src;
};

void TestBatchExport::initTestCase()
{
    QVERIFY(dir.isValid());
    src = dir.filePath(QStringLiteral("src"));
    QTemporaryDir fixtures;
    QVERIFY(fixtures.isValid() && makeFixtures(fixtures.path()));
    qputenv("TMPDIR", dir.path().toUtf8());
    // Top-level installers, two green-software folders (one nested deeper), names that
    // need cleaning, quotes and commas in values, a database, files that are not installers.
    // First in scan order and slow to read, so that with several jobs later files finish first.
    QVERIFY(copyFixture(fixtures.path(), "pe32-version.exe", src + "/0 large.exe"));
    {
        QFile large(src + "/0 large.exe");
        QVERIFY(large.open(QIODevice::Append) && large.write(QByteArray(48 << 20, '\x5a')) == 48 << 20);
    }
    QVERIFY(copyFixture(fixtures.path(), "signed-sha256.exe", src + "/a signed setup.exe"));
    QVERIFY(copyFixture(fixtures.path(), "quoted.exe", src + "/quoted.exe"));
    QVERIFY(copyFixture(fixtures.path(), "original-only.exe", src + "/Original.EXE"));
    QVERIFY(copyFixture(fixtures.path(), "chinese.msi", src + "/中文 安装.msi"));
    QVERIFY(copyFixture(fixtures.path(), "junk.exe", src + "/junk.exe"));
    QVERIFY(copyFixture(fixtures.path(), "pe32-version.exe", src + "/绿色 软件/b.exe"));
    QVERIFY(copyFixture(fixtures.path(), "pe64-version.exe", src + "/绿色 软件/bin/c.exe"));
    QVERIFY(copyFixture(fixtures.path(), "signed.msi", src + "/Tools/d.msi"));
    QVERIFY(writeFile(src + "/readme.txt", "not an installer"));
    QVERIFY(QDir().mkpath(src + "/empty folder"));

    QVERIFY(writeFile(dir.filePath("capturing-converter"),
                      "#!/bin/sh\ncp \"$1\" \"$CSV_COPY\" || exit 9\nexec '"
                          + binary(QStringLiteral("xlsxio_csv2xlsx")).toUtf8() + "' \"$@\"\n"));
    QVERIFY(writeFile(dir.filePath("failing-converter"), "#!/bin/sh\necho 'cannot convert' >&2\nexit 3\n"));
    QVERIFY(writeFile(dir.filePath("slow-converter"), "#!/bin/sh\nexec sleep 30\n"));
    QVERIFY(writeFile(dir.filePath("gated-converter"),
                      "#!/bin/sh\nwhile [ ! -e \"$GATE\" ]; do sleep 0.1; done\nexec '"
                          + binary(QStringLiteral("xlsxio_csv2xlsx")).toUtf8() + "' \"$@\"\n"));
    for (const char *script : {"capturing-converter", "failing-converter", "slow-converter", "gated-converter"})
        QVERIFY(QFile::setPermissions(dir.filePath(script), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

QString TestBatchExport::programFolder(const QString &name, const QString &converter, bool withLibrary)
{
    const QString folder = dir.filePath(name);
    if (!QDir().mkpath(folder))
        return QString();
    bool ok = QFile::copy(binary(QStringLiteral("pelbrook-export")), folder + QStringLiteral("/pelbrook-export"))
        && QFile::copy(binary(QStringLiteral("exportrun")), folder + QStringLiteral("/exportrun"));
    if (withLibrary)
        ok = ok && QFile::copy(binary(QStringLiteral("libVantoril.so")), folder + QStringLiteral("/libVantoril.so"));
    if (!converter.isEmpty())
        ok = ok && QFile::copy(converter, folder + QStringLiteral("/xlsxio_csv2xlsx"));
    return ok ? folder : QString();
}

TestBatchExport::Run TestBatchExport::run(const QString &folder, const QString &program, const QStringList &arguments,
                                          const QString &capture)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!capture.isEmpty())
        environment.insert(QStringLiteral("CSV_COPY"), capture);
    process.setProcessEnvironment(environment);
    process.start(folder + QLatin1Char('/') + program, arguments);
    Run result;
    if (!process.waitForFinished(120000))
        return result;
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.err = QString::fromUtf8(process.readAllStandardError());
    result.out = process.readAllStandardOutput();
    return result;
}

void TestBatchExport::csvMatchesWizard()
{
    const QString folder = programFolder(QStringLiteral("same"), dir.filePath(QStringLiteral("capturing-converter")));
    QVERIFY(!folder.isEmpty());
    const QString wizardCsv = dir.filePath(QStringLiteral("wizard.csv"));
    const QString batchCsv = dir.filePath(QStringLiteral("batch.csv"));
    const QString wizardBook = dir.filePath(QStringLiteral("wizard.xlsx"));
    const QString batchBook = dir.filePath(QStringLiteral("batch.xlsx"));

    const Run wizard = run(folder, QStringLiteral("exportrun"), {src, wizardBook}, wizardCsv);
    QCOMPARE(wizard.exitCode, 0);
    const Run batch = run(folder, QStringLiteral("pelbrook-export"), {"--jobs", "3", src, batchBook}, batchCsv);
    QVERIFY2(batch.exitCode == 0 && !batch.crashed, qPrintable(batch.err));

    const QByteArray expected = fileContent(wizardCsv);
    // No byte-order mark: the console reads the first bytes as the first header's.
    QVERIFY2(expected.startsWith(QStringLiteral("软件分组名称（非必填）,软件分组类型").toUtf8()), expected.left(40).toHex().constData());
    // Header, nine installers, two green-software folders.
    QCOMPARE(expected.count("\r\n"), 12);
    QCOMPARE(fileContent(batchCsv), expected);

    // Both workbooks, read by an independent reader, say the same.
    const QList<QStringList> rows = workbookRows(readWorkbook(batchBook));
    QCOMPARE(rows.size(), 12);
    QCOMPARE(rows.first(), headerTexts());
    QCOMPARE(rows, workbookRows(readWorkbook(wizardBook)));
    QCOMPARE(temporaryFiles(folder), QStringList());

    // One plain progress line per installer when stderr is not a terminal, then the summary.
    QCOMPARE(batch.err.count(QRegularExpression(QStringLiteral("^\\[\\d/9\\] "),
                                                QRegularExpression::MultilineOption)),
             9);
    QVERIFY2(batch.err.contains(QStringLiteral("安装包 9 个，文件夹 2 个")), qPrintable(batch.err));
}

void TestBatchExport::exitCodes_data()
{
    QTest::addColumn<QString>("converter");
    QTest::addColumn<bool>("withLibrary");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString converter = binary(QStringLiteral("xlsxio_csv2xlsx"));
    const QString out = dir.filePath(QStringLiteral("out/old.xlsx"));
    QTest::newRow("written") << converter << true << QStringList{src, out} << 0 << "已写出";
    QTest::newRow("quiet") << converter << true << QStringList{"--quiet", src, out} << 0 << "";
    QTest::newRow("no arguments") << converter << true << QStringList{} << 2 << "用法：";
    QTest::newRow("one argument") << converter << true << QStringList{src} << 2 << "用法：";
    QTest::newRow("unknown option") << converter << true << QStringList{"--fast", src, out} << 2 << "--fast";
    QTest::newRow("jobs zero") << converter << true << QStringList{"--jobs", "0", src, out} << 2 << "--jobs";
    QTest::newRow("jobs missing") << converter << true << QStringList{src, out, "--jobs"} << 2 << "--jobs";
    QTest::newRow("not a workbook name") << converter << true << QStringList{src, out + ".txt"} << 2 << "用法：";
    QTest::newRow("source missing") << converter << true << QStringList{src + "/nowhere", out} << 1
                                    << "提取失败，软件信息提取目录不存在：" + src + "/nowhere";
    QTest::newRow("source is a file") << converter << true << QStringList{src + "/readme.txt", out} << 1
                                      << "软件信息提取目录不存在";
    QTest::newRow("library missing") << converter << false << QStringList{src, out} << 1
                                     << "提取失败，无法加载软件信息读取组件：";
    QTest::newRow("converter missing") << "" << true << QStringList{src, out} << 1 << "xlsxio_csv2xlsx";
    QTest::newRow("converter failing") << dir.filePath("failing-converter") << true << QStringList{src, out} << 1
                                       << "提取失败，写入" + out + "文件错误";
    // A regular file where the destination's folder should be: not creatable, even for root.
    QTest::newRow("destination folder is a file") << converter << true
                                                  << QStringList{src, src + "/readme.txt/out.xlsx"} << 1
                                                  << src + "/readme.txt";
    QTest::newRow("destination is a folder") << converter << true << QStringList{src, dir.filePath("out.xlsx")} << 1
                                             << dir.filePath("out.xlsx");
}

void TestBatchExport::exitCodes()
{
    QFETCH(QString, converter);
    QFETCH(bool, withLibrary);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    static int runs = 0;
    const QString folder = programFolder(QStringLiteral("codes%1").arg(++runs), converter, withLibrary);
    QVERIFY(!folder.isEmpty());
    QVERIFY(writeFile(dir.filePath("out/old.xlsx"), oldWorkbook));
    QVERIFY(QDir().mkpath(dir.filePath("out.xlsx")));

    const Run result = run(folder, QStringLiteral("pelbrook-export"), arguments);
    QVERIFY(!result.crashed);
    QVERIFY2(result.exitCode == exitCode, qPrintable(QString::number(result.exitCode) + ": " + result.err));
    if (message.isEmpty())
        QCOMPARE(result.err, QString());
    else
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
    if (exitCode == 0) {
        QCOMPARE(workbookRows(readWorkbook(dir.filePath("out/old.xlsx"))).size(), 12);
    } else {
        // The old destination is kept whole.
        QCOMPARE(fileContent(dir.filePath("out/old.xlsx")), oldWorkbook);
    }
    QCOMPARE(temporaryFiles(folder), QStringList());
}

void TestBatchExport::interrupt_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("Ctrl-C") << int(SIGINT);
    QTest::newRow("termination") << int(SIGTERM);
}

// Sent while the converter runs, the last and longest step, when a temporary file exists.
void TestBatchExport::interrupt()
{
    QFETCH(int, signalNumber);
    const QString folder = programFolder(QStringLiteral("interrupt%1").arg(signalNumber),
                                         dir.filePath(QStringLiteral("slow-converter")));
    QVERIFY(!folder.isEmpty());
    QVERIFY(writeFile(dir.filePath("out/old.xlsx"), oldWorkbook));

    QProcess process;
    process.start(folder + QStringLiteral("/pelbrook-export"), {src, dir.filePath("out/old.xlsx")});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + QStringLiteral("/temp.csv")), 60000);
    ::kill(pid_t(process.processId()), signalNumber);
    QVERIFY(process.waitForFinished(30000));

    // Ended by the signal, after cleaning up, so a calling shell sees the interrupt.
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains(QStringLiteral("已中断")));
    QCOMPARE(temporaryFiles(folder), QStringList());
    QCOMPARE(fileContent(dir.filePath("out/old.xlsx")), oldWorkbook);
    QCOMPARE(QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden), QStringList{"old.xlsx"});
}

// Two exports from one program folder would share its temporary files.
void TestBatchExport::secondRunRefused()
{
    const QString folder = programFolder(QStringLiteral("twice"), dir.filePath(QStringLiteral("slow-converter")));
    QVERIFY(!folder.isEmpty());
    QVERIFY(writeFile(dir.filePath("out/old.xlsx"), oldWorkbook));
    QProcess first;
    first.start(folder + QStringLiteral("/pelbrook-export"), {src, dir.filePath("out/first.xlsx")});
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + QStringLiteral("/temp.csv")), 60000);

    const Run second = run(folder, QStringLiteral("pelbrook-export"), {src, dir.filePath("out/old.xlsx")});
    QCOMPARE(second.exitCode, 1);
    QVERIFY2(second.err.contains(QStringLiteral("另一个导出")), qPrintable(second.err));
    QVERIFY(QFile::exists(folder + QStringLiteral("/temp.csv")));
    QCOMPARE(fileContent(dir.filePath("out/old.xlsx")), oldWorkbook);

    first.terminate();
    QVERIFY(first.waitForFinished(30000));
    QCOMPARE(temporaryFiles(folder), QStringList());
}

void TestBatchExport::frontEndsAtOnce_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("the wizard while pelbrook-export converts") << "pelbrook-export" << "exportrun";
    QTest::newRow("pelbrook-export while the wizard converts") << "exportrun" << "pelbrook-export";
}

// The wizard and pelbrook-export in one program folder share its temporary files: the
// one that comes second refuses and leaves its destination alone, and the first one's
// workbook holds its own folder's rows only.
void TestBatchExport::frontEndsAtOnce()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    const QString folder = programFolder(QStringLiteral("at-once-") + first, dir.filePath("gated-converter"));
    QVERIFY(!folder.isEmpty());
    const QString other = dir.filePath(QStringLiteral("other-") + first);
    QVERIFY(writeFile(other + QStringLiteral("/notepad.exe"), "not the first folder's file"));
    const QString firstBook = dir.filePath(QStringLiteral("out/first-") + first + QStringLiteral(".xlsx"));
    QVERIFY(writeFile(dir.filePath("out/old.xlsx"), oldWorkbook));
    const QString gate = dir.filePath(QStringLiteral("gate-") + first);

    QProcess firstRun;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("GATE"), gate);
    firstRun.setProcessEnvironment(environment);
    firstRun.start(folder + QLatin1Char('/') + first, {src, firstBook});
    QVERIFY(firstRun.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + QStringLiteral("/temp.csv")), 60000);
    const QByteArray firstCsv = fileContent(folder + QStringLiteral("/temp.csv"));

    const Run refused = run(folder, second, {other, dir.filePath("out/old.xlsx")});
    const QString refusal = QStringLiteral("提取失败，另一个导出正在使用临时文件目录：") + folder;
    if (second == QLatin1String("exportrun")) {
        QCOMPARE(refused.exitCode, 0);
        QVERIFY2(refused.out.startsWith("MESSAGE ") && refused.out.count('\n') == 1, refused.out.constData());
        const QString shown = QString::fromUtf8(QByteArray::fromPercentEncoding(refused.out.mid(8).trimmed()));
        QVERIFY2(isWrappedFrom(shown, refusal), qPrintable(shown));
    } else {
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains(refusal), qPrintable(refused.err));
    }
    QCOMPARE(fileContent(dir.filePath("out/old.xlsx")), oldWorkbook);
    QCOMPARE(fileContent(folder + QStringLiteral("/temp.csv")), firstCsv);

    QVERIFY(writeFile(gate, ""));
    QVERIFY(firstRun.waitForFinished(120000));
    QCOMPARE(firstRun.exitCode(), 0);
    // Header, nine installers, two green-software folders: none of the other folder's.
    const QList<QStringList> rows = workbookRows(readWorkbook(firstBook));
    QCOMPARE(rows.size(), 12);
    for (const QStringList &row : rows)
        QVERIFY2(row.value(3) != QLatin1String("notepad.exe"), qPrintable(row.join('|')));
    QCOMPARE(temporaryFiles(folder), QStringList());
}

QTEST_GUILESS_MAIN(TestBatchExport)
#include "tst_batchexport.moc"
