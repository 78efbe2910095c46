// pelbrook-export as a user runs it: a real process in a program folder of its own,
// with the real library and converter. The CSV it hands to the converter is compared
// byte for byte with the one the wizard's own controller and window hand over for the
// same folder, caught by a converter that keeps a copy and then runs the real one.
#include "exportfixtures.h"
#include "workbookreader.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>

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
    void cacheAcrossRuns();
    void sharedProgramFolder_data();
    void sharedProgramFolder();
    void changesSinceLastExport();

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
    // The source of the cache runs, which change its files.
    QString cachedSrc;
    // The source of the change list's runs, and the files that replace some of its files.
    QString changesSrc;
    QString changesNext;
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
    cachedSrc = dir.filePath(QStringLiteral("cached-src"));
    QVERIFY(copyFixture(fixtures.path(), "signed-sha256.exe", cachedSrc + "/signed.exe"));
    QVERIFY(copyFixture(fixtures.path(), "pe32-version.exe", cachedSrc + "/plain.exe"));
    QVERIFY(copyFixture(fixtures.path(), "pe64-version.exe", cachedSrc + "/green/c.exe"));
    QVERIFY(QFile::copy(fixtures.path() + "/trust/root.pem", dir.filePath("fixture-root.pem")));
    changesSrc = dir.filePath(QStringLiteral("changes-src"));
    changesNext = dir.filePath(QStringLiteral("changes-next"));
    QVERIFY(copyFixture(fixtures.path(), "pe32-version.exe", changesSrc + "/unchanged.exe"));
    QVERIFY(copyFixture(fixtures.path(), "pe64-version.exe", changesSrc + "/removed.exe"));
    QVERIFY(copyFixture(fixtures.path(), "pe64-version.exe", changesSrc + "/green/updated.exe"));
    QVERIFY(copyFixture(fixtures.path(), "signed-sha256.exe", changesSrc + "/resigned.exe"));
    QVERIFY(copyFixture(fixtures.path(), "signed-sha256.exe", changesSrc + "/distrusted.exe"));
    QVERIFY(copyFixture(fixtures.path(), "pe32-version.exe", changesNext + "/updated.exe"));
    QVERIFY(copyFixture(fixtures.path(), "pe64-version.exe", changesNext + "/old-updated.exe"));
    QVERIFY(copyFixture(fixtures.path(), "pe32-version.exe", changesNext + "/added.exe"));
    // The same program signed by another signer of the same root.
    QProcess sign;
    sign.start(QStringLiteral("osslsigncode"),
               {"sign", "-certs", fixtures.path() + "/org-cert.pem", "-key", fixtures.path() + "/org-key.pem", "-h",
                "sha256", "-in", fixtures.path() + "/pe64-version.exe", "-out", changesNext + "/resigned.exe"});
    QVERIFY(sign.waitForFinished(60000) && sign.exitCode() == 0);
    // A name the scanner lists that cannot be read: a link to a pipe.
    QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0600) == 0);
    QVERIFY(QFile::link(dir.filePath("pipe"), cachedSrc + "/pipe.exe"));
    QVERIFY(writeFile(src + "/readme.txt", "not an installer"));
    QVERIFY(QDir().mkpath(src + "/empty folder"));

    QVERIFY(writeFile(dir.filePath("capturing-converter"),
                      "#!/bin/sh\ncp \"$1\" \"$CSV_COPY\" || exit 9\nexec '"
                          + binary(QStringLiteral("xlsxio_csv2xlsx")).toUtf8() + "' \"$@\"\n"));
    QVERIFY(writeFile(dir.filePath("failing-converter"), "#!/bin/sh\necho 'cannot convert' >&2\nexit 3\n"));
    QVERIFY(writeFile(dir.filePath("slow-converter"), "#!/bin/sh\nexec sleep 30\n"));
    QVERIFY(writeFile(dir.filePath("gated-converter"),
                      "#!/bin/sh\n: >\"$GATE.waiting\"\nwhile [ ! -e \"$GATE\" ]; do sleep 0.1; done\nexec '"
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
    QTest::newRow("no cache and rebuild") << converter << true << QStringList{"--no-cache", "--rebuild-cache", src, out}
                                          << 2 << "--rebuild-cache";
    QTest::newRow("report without a name") << converter << true << QStringList{src, out, "--report"} << 2
                                           << "--report";
    QTest::newRow("changes without the cache") << converter << true
                                               << QStringList{"--no-cache", "--changes", out + ".csv", src, out} << 2
                                               << "--changes 需要缓存中上次导出的记录，不能与 --no-cache 同时使用";
    QTest::newRow("hashes without a report") << converter << true << QStringList{"--hashes", src, out} << 2
                                             << "--hashes 的结果写在报告中，需要同时指定 --report";
    QTest::newRow("report folder is a file") << converter << true
                                             << QStringList{"--report", src + "/readme.txt/r.csv", src, out} << 1
                                             << "无法写入报告文件";
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
    QTRY_VERIFY_WITH_TIMEOUT(!runningExportCsv(folder).isEmpty(), 60000);
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
    QTRY_VERIFY_WITH_TIMEOUT(!runningExportCsv(folder).isEmpty(), 60000);

    const Run second = run(folder, QStringLiteral("pelbrook-export"), {src, dir.filePath("out/old.xlsx")});
    QCOMPARE(second.exitCode, 1);
    QVERIFY2(second.err.contains(QStringLiteral("另一个导出")), qPrintable(second.err));
    QVERIFY(!runningExportCsv(folder).isEmpty());
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
    // The converter has started, so the CSV is complete: it exists a moment before that.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(gate + QStringLiteral(".waiting")), 60000);
    const QByteArray firstCsv = fileContent(runningExportCsv(folder));
    QVERIFY(!firstCsv.isEmpty());

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
    QCOMPARE(fileContent(runningExportCsv(folder)), firstCsv);

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

namespace {

// The cell of the first workbook row whose software name (column 4) is name.
QString cellOf(const QList<QStringList> &rows, const QString &name, int column)
{
    for (const QStringList &row : rows)
        if (row.value(3) == name)
            return row.value(column);
    return QStringLiteral("<no row>");
}

QStringList reportLines(const QString &path)
{
    return QString::fromUtf8(fileContent(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

// Runs of one program folder share the user's cache: an unchanged file is not read
// again and gives the same cells, and whatever changed (the file, even with its size
// and time put back; the trust anchors; the cache itself) is read again.
void TestBatchExport::cacheAcrossRuns()
{
    const QString folder = programFolder(QStringLiteral("cache"), binary(QStringLiteral("xlsxio_csv2xlsx")));
    QVERIFY(!folder.isEmpty());
    const QString dataHome = dir.filePath(QStringLiteral("cache-home"));
    qputenv("XDG_DATA_HOME", dataHome.toUtf8());
    const QString database = dataHome + QStringLiteral("/Pelbrook/cache.sqlite");
    const auto exportTo = [&](const QString &name, const QStringList &options = {}) {
        return run(folder, QStringLiteral("pelbrook-export"),
                   options + QStringList{"--report", dir.filePath(name + ".csv"), cachedSrc, dir.filePath(name + ".xlsx")});
    };
    // A file changed within the last moments (two whole seconds) may change again unseen;
    // its answer is not kept.
    QTest::qWait(3100);

    const Run first = exportTo(QStringLiteral("first"));
    QVERIFY2(first.exitCode == 0, qPrintable(first.err));
    QVERIFY2(first.err.contains(QStringLiteral("取自缓存 0 个")), qPrintable(first.err));
    // Every installer that gave nothing, or no signer, is named with the library's reason.
    const QString untrustedLine = QStringLiteral("签名不受信任\t") + cachedSrc
        + QStringLiteral("/signed.exe\tPE32+; untrusted signature by 测试签名者 Test Signer: untrusted root\n");
    QVERIFY2(first.err.contains(untrustedLine), qPrintable(first.err));
    QVERIFY2(first.err.contains(QStringLiteral("无法读取\t") + cachedSrc + QStringLiteral("/pipe.exe\tcannot open: ")),
             qPrintable(first.err));
    QVERIFY2(!first.err.contains(cachedSrc + QStringLiteral("/plain.exe\t")), qPrintable(first.err));
    const QStringList report = reportLines(dir.filePath("first.csv"));
    QCOMPARE(report.value(0), QStringLiteral("path,status,reason,kind,note"));
    QCOMPARE(report.size(), 5);
    QVERIFY2(report.contains(QStringLiteral("\"%1/plain.exe\",read,\"PE32; unsigned\",other,").arg(cachedSrc)),
             qPrintable(report.join('\n')));
    QVERIFY2(report.filter(QStringLiteral("\"%1/pipe.exe\",unreadable,\"cannot open: ").arg(cachedSrc)).size() == 1,
             qPrintable(report.join('\n')));
    QVERIFY2(report.filter(QStringLiteral("\"%1/signed.exe\",untrusted,\"").arg(cachedSrc)).size() == 1,
             qPrintable(report.join('\n')));
    const QList<QStringList> firstRows = workbookRows(readWorkbook(dir.filePath("first.xlsx")));
    QCOMPARE(cellOf(firstRows, "signed.exe", 5), QString());

    // Unchanged: nothing read again, the same workbook, the same report.
    const Run second = exportTo(QStringLiteral("second"));
    QVERIFY2(second.exitCode == 0 && second.err.contains(QStringLiteral("取自缓存 3 个")), qPrintable(second.err));
    QVERIFY2(second.err.contains(untrustedLine), qPrintable(second.err));
    QCOMPARE(workbookRows(readWorkbook(dir.filePath("second.xlsx"))), firstRows);
    QCOMPARE(reportLines(dir.filePath("second.csv")), report);

    // Rewritten in place, with its size and modification time put back.
    const QString plain = cachedSrc + QStringLiteral("/plain.exe");
    struct stat before;
    QVERIFY(::stat(QFile::encodeName(plain).constData(), &before) == 0);
    QByteArray content = fileContent(plain);
    content[content.size() - 1] = char(content.at(content.size() - 1) ^ 0x01);
    QVERIFY(writeFile(plain, content));
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(plain).constData(), times, 0) == 0);
    struct stat after;
    QVERIFY(::stat(QFile::encodeName(plain).constData(), &after) == 0);
    QCOMPARE(after.st_size, before.st_size);
    QCOMPARE(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    const Run third = exportTo(QStringLiteral("third"));
    QVERIFY2(third.exitCode == 0 && third.err.contains(QStringLiteral("取自缓存 2 个")), qPrintable(third.err));
    const QList<QStringList> thirdRows = workbookRows(readWorkbook(dir.filePath("third.xlsx")));
    QCOMPARE(cellOf(thirdRows, "plain.exe", 13),
             QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()));

    // A root added to the trust folder: the signer is trusted at once.
    QVERIFY(QDir().mkpath(folder + "/trust"));
    QVERIFY(QFile::copy(dir.filePath("fixture-root.pem"), folder + "/trust/root.pem"));
    const Run trusted = exportTo(QStringLiteral("trusted"));
    QVERIFY2(trusted.exitCode == 0 && !trusted.err.contains(untrustedLine), qPrintable(trusted.err));
    QVERIFY(!cellOf(workbookRows(readWorkbook(dir.filePath("trusted.xlsx"))), "signed.exe", 5).isEmpty());
    // And removed again: not trusted any more.
    QVERIFY(QFile::remove(folder + "/trust/root.pem"));
    const Run withdrawn = exportTo(QStringLiteral("withdrawn"));
    QVERIFY2(withdrawn.exitCode == 0 && withdrawn.err.contains(untrustedLine), qPrintable(withdrawn.err));
    QCOMPARE(workbookRows(readWorkbook(dir.filePath("withdrawn.xlsx"))), thirdRows);

    // --no-cache reads everything; --rebuild-cache too, and the next run finds it all again.
    const Run uncached = exportTo(QStringLiteral("uncached"), {"--no-cache"});
    QVERIFY2(uncached.exitCode == 0 && uncached.err.contains(QStringLiteral("取自缓存 0 个")), qPrintable(uncached.err));
    const Run rebuilt = exportTo(QStringLiteral("rebuilt"), {"--rebuild-cache"});
    QVERIFY2(rebuilt.exitCode == 0 && rebuilt.err.contains(QStringLiteral("取自缓存 0 个")), qPrintable(rebuilt.err));
    QCOMPARE(workbookRows(readWorkbook(dir.filePath("rebuilt.xlsx"))), thirdRows);

    // A cache overwritten with garbage is set aside; the export reads everything.
    for (const char *suffix : {"-wal", "-shm"})
        QFile::remove(database + QLatin1String(suffix));
    QVERIFY(writeFile(database, QByteArray(4096, '\x5a')));
    const Run garbage = exportTo(QStringLiteral("garbage"));
    QVERIFY2(garbage.exitCode == 0 && garbage.err.contains(QStringLiteral("取自缓存 0 个")), qPrintable(garbage.err));
    QCOMPARE(workbookRows(readWorkbook(dir.filePath("garbage.xlsx"))), thirdRows);
    QVERIFY(QFile::exists(database + QStringLiteral(".broken")));
    const Run afterGarbage = exportTo(QStringLiteral("after-garbage"));
    // The new cache works (plain.exe, rewritten moments ago, may not be kept yet).
    QVERIFY2(afterGarbage.exitCode == 0 && !afterGarbage.err.contains(QStringLiteral("取自缓存 0 个")),
             qPrintable(afterGarbage.err));
    qunsetenv("XDG_DATA_HOME");
}

void TestBatchExport::sharedProgramFolder_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("shared");
    QTest::newRow("only the owner writes") << 0755 << false;
    QTest::newRow("everyone writes") << 0777 << true;
}

// A program folder others may write keeps no data and anchors no signature, and the user is told.
void TestBatchExport::sharedProgramFolder()
{
    QFETCH(int, mode);
    QFETCH(bool, shared);
    const QString folder =
        programFolder(QStringLiteral("shared-%1").arg(mode, 0, 8), binary(QStringLiteral("xlsxio_csv2xlsx")));
    QVERIFY(!folder.isEmpty());
    QVERIFY(QDir().mkpath(folder + "/trust"));
    QVERIFY(QFile::copy(dir.filePath("fixture-root.pem"), folder + "/trust/root.pem"));
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), mode_t(mode)) == 0);
    const QString out = dir.filePath(QStringLiteral("shared-%1.xlsx").arg(mode, 0, 8));

    const Run result = run(folder, QStringLiteral("pelbrook-export"), {"--no-cache", cachedSrc, out});
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    const QString notice = QStringLiteral("注意：程序目录 %1 可被其他用户写入").arg(folder);
    QCOMPARE(result.err.count(notice), shared ? 1 : 0);
    QCOMPARE(QFileInfo::exists(folder + "/log"), !shared);
    QCOMPARE(cellOf(workbookRows(readWorkbook(out)), "signed.exe", 5).isEmpty(), shared);
}

namespace {

// The fields of one CSV line as written by pelbrook-export: quoted or bare, no line breaks inside.
QStringList csvFields(const QString &line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted && c == QLatin1Char('"') && i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"')) {
            field += c;
            ++i;
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (c == QLatin1Char(',') && !quoted) {
            fields.append(field);
            field.clear();
        } else {
            field += c;
        }
    }
    fields.append(field);
    return fields;
}

} // namespace

// The change list of a folder exported again: a file added, removed, replaced by a new
// version, re-signed by another signer, a root removed from the trust folder (trusted to
// untrusted), and an unchanged file, which gets no line.
void TestBatchExport::changesSinceLastExport()
{
    const QString folder = programFolder(QStringLiteral("changes"), binary(QStringLiteral("xlsxio_csv2xlsx")));
    QVERIFY(!folder.isEmpty());
    QVERIFY(QDir().mkpath(folder + "/trust"));
    QVERIFY(QFile::copy(dir.filePath("fixture-root.pem"), folder + "/trust/root.pem"));
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("changes-home")).toUtf8());
    const auto exportWith = [&](const QString &name, const QStringList &options) {
        return run(folder, QStringLiteral("pelbrook-export"),
                   options + QStringList{changesSrc, dir.filePath(name + ".xlsx")});
    };
    const auto changesOf = [&](const QString &name) {
        QStringList lines = reportLines(dir.filePath(name));
        QStringList header = csvFields(lines.value(0));
        QList<QStringList> changes;
        for (int i = 1; i < lines.size(); ++i)
            changes.append(csvFields(lines.at(i)));
        return qMakePair(header, changes);
    };

    const Run first = exportWith(QStringLiteral("changes-1"), {"--changes", dir.filePath("changes-1.csv")});
    QVERIFY2(first.exitCode == 0, qPrintable(first.err));
    QVERIFY2(!first.err.contains(QStringLiteral("上次导出")), qPrintable(first.err));
    QCOMPARE(changesOf(QStringLiteral("changes-1.csv")).second.size(), 0);
    QCOMPARE(changesOf(QStringLiteral("changes-1.csv")).first,
             QStringList({"change", "path", "fields", "signature_old", "signature_new", "product_old", "product_new",
                          "process_old", "process_new", "original_old", "original_new", "md5_old", "md5_new",
                          "description_old", "description_new", "trust_old", "trust_new"}));

    QVERIFY(QFile::remove(changesSrc + "/removed.exe"));
    for (const char *name : {"added.exe", "resigned.exe"}) {
        QFile::remove(changesSrc + "/" + name);
        QVERIFY(QFile::copy(changesNext + "/" + name, changesSrc + "/" + name));
    }
    QVERIFY(QFile::remove(changesSrc + "/green/updated.exe"));
    QVERIFY(QFile::copy(changesNext + "/updated.exe", changesSrc + "/green/updated.exe"));
    const Run second = exportWith(QStringLiteral("changes-2"), {"--changes", dir.filePath("changes-2.csv")});
    QVERIFY2(second.exitCode == 0, qPrintable(second.err));
    QVERIFY2(second.err.contains(QStringLiteral("；与上次导出相比新增 1 行，变化 2 行，删除 1 行\n")), qPrintable(second.err));

    QVERIFY(QFile::remove(folder + "/trust/root.pem"));
    const Run third = exportWith(QStringLiteral("changes-3"),
                                 {"--changes", dir.filePath("changes-3.csv"), "--hashes", "--report",
                                  dir.filePath("changes-3-report.csv")});
    QVERIFY2(third.exitCode == 0, qPrintable(third.err));
    QVERIFY2(third.err.contains(QStringLiteral("；与上次导出相比新增 0 行，变化 2 行，删除 0 行\n")), qPrintable(third.err));

    struct Expected
    {
        const char *list;
        const char *change;
        const char *file;
        const char *fields;
    };
    const Expected expected[] = {
        {"changes-2.csv", "changed", "green/updated.exe", "product original md5 description"},
        {"changes-2.csv", "changed", "resigned.exe", "signature md5"},
        {"changes-2.csv", "added", "added.exe", "product process original md5 description"},
        {"changes-2.csv", "removed", "removed.exe", "product process original md5 description"},
        {"changes-3.csv", "changed", "distrusted.exe", "signature trust"},
        {"changes-3.csv", "changed", "resigned.exe", "signature trust"},
    };
    QMap<QString, QList<QStringList>> lists;
    for (const QString &name : {QStringLiteral("changes-2.csv"), QStringLiteral("changes-3.csv")})
        lists.insert(name, changesOf(name).second);
    for (const Expected &row : expected) {
        QList<QStringList> &lines = lists[QString::fromLatin1(row.list)];
        const QString path = changesSrc + QLatin1Char('/') + QString::fromLatin1(row.file);
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const QStringList &fields) {
            return fields.value(0) == QLatin1String(row.change) && fields.value(1) == path;
        });
        QVERIFY2(line != lines.end(), qPrintable(QString::fromLatin1(row.list) + ": no line for " + path));
        QCOMPARE(line->value(2), QString::fromLatin1(row.fields));
        lines.erase(line);
    }
    // Nothing else: the unchanged file has no line.
    QCOMPARE(lists.value("changes-2.csv"), QList<QStringList>());
    QCOMPARE(lists.value("changes-3.csv"), QList<QStringList>());

    // Old and new values of the fields that changed, and only of those.
    const QList<QStringList> secondLines = changesOf(QStringLiteral("changes-2.csv")).second;
    QCOMPARE(secondLines.size(), 4);
    for (const QStringList &line : secondLines) {
        if (!line.value(1).endsWith(QLatin1String("updated.exe")))
            continue;
        QCOMPARE(line.mid(3, 2), QStringList({"", ""}));
        QCOMPARE(line.mid(5, 2), QStringList({QStringLiteral("测试产品 Test"), "Sample Product"}));
        const auto md5Of = [](const QString &path) {
            return QString::fromLatin1(QCryptographicHash::hash(fileContent(path), QCryptographicHash::Md5).toHex());
        };
        QCOMPARE(line.mid(11, 2),
                 QStringList({md5Of(changesNext + "/old-updated.exe"), md5Of(changesSrc + "/green/updated.exe")}));
    }
    const QList<QStringList> thirdLines = changesOf(QStringLiteral("changes-3.csv")).second;
    for (const QStringList &line : thirdLines) {
        if (line.value(1).endsWith(QLatin1String("distrusted.exe"))) {
            QCOMPARE(line.mid(3, 2), QStringList({QStringLiteral("测试签名者 Test Signer"), ""}));
            QCOMPARE(line.mid(15, 2), QStringList({"trusted", "untrusted"}));
        }
    }
    // --hashes: the report gives each file's SHA-256.
    const QStringList report = reportLines(dir.filePath("changes-3-report.csv"));
    QCOMPARE(report.value(0), QStringLiteral("path,status,reason,kind,note,sha256,authenticode_sha256"));
    const QString sha256 = QString::fromLatin1(
        QCryptographicHash::hash(fileContent(changesSrc + "/distrusted.exe"), QCryptographicHash::Sha256).toHex());
    QVERIFY2(report.filter(QStringLiteral("\"%1/distrusted.exe\",untrusted,").arg(changesSrc)).value(0).contains(
                 QStringLiteral(",other,,") + sha256 + QLatin1Char(',')),
             qPrintable(report.join('\n')));

    // Without the cache nothing is compared, and the summary says so.
    const Run uncached = exportWith(QStringLiteral("changes-4"), {"--no-cache"});
    QVERIFY2(uncached.exitCode == 0 && uncached.err.contains(QStringLiteral("；未与上次导出比较（--no-cache）")),
             qPrintable(uncached.err));
    qunsetenv("XDG_DATA_HOME");
}

QTEST_GUILESS_MAIN(TestBatchExport)
#include "tst_batchexport.moc"
