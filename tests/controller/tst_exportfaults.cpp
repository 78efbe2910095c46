#include "exportfixtures.h"
#include "workbookreader.h"

#include "platform.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

const QFile::Permissions shared = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
const QFile::Permissions open = shared | QFile::WriteGroup | QFile::WriteOther;

QString binary(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

} // namespace

// Each run gets a program folder of its own, put together from the built parts, so a
// missing or broken part affects that run only and temporary files are not shared.
class TestExportFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void faults_data();
    void faults();
    void closeWhileRunning_data();
    void closeWhileRunning();
    void unreadableAndUntrustedCounted();

private:
    struct Run
    {
        int exitCode = -1;
        QStringList messages;
        QByteArray log;
    };
    bool makeProgramFolder(const QString &folder, const QString &converter, const QString &reader);
    Run run(const QString &folder, const QStringList &arguments, bool asNobody, const QString &dataHome);

    QTemporaryDir dir;
    QString src;
};

void TestExportFaults::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QFile::setPermissions(dir.path(), open));
    src = dir.filePath(QStringLiteral("src"));
    QTemporaryDir fixtures;
    QVERIFY(fixtures.isValid() && makeFixtures(fixtures.path()));
    // The reader keeps its own log below the temporary folder; keep it inside this test's folder.
    qputenv("TMPDIR", dir.path().toUtf8());
    QVERIFY(copyFixture(fixtures.path(), "signed-sha256.exe", src + "/a.exe"));
    for (int i = 0; i < 6; ++i)
        QVERIFY(copyFixture(fixtures.path(), "pe32-version.exe", src + QStringLiteral("/绿色/b%1.exe").arg(i)));
    QVERIFY(writeFile(dir.filePath("failing-converter"), "#!/bin/sh\necho 'cannot convert' >&2\nexit 3\n"));
    QVERIFY(writeFile(dir.filePath("crashing-converter"), "#!/bin/sh\nkill -SEGV $$\n"));
    QVERIFY(writeFile(dir.filePath("slow-converter"), "#!/bin/sh\nexec sleep 30\n"));
    // Slower than one slice of the worker's wait, as a real conversion of many rows is.
    QVERIFY(writeFile(dir.filePath("lagging-converter"),
                      "#!/bin/sh\nsleep 1\nexec '" + binary(Platform::converterFileName()).toUtf8() + "' \"$@\"\n"));
    for (const QString &script : QStringList{"failing-converter", "crashing-converter", "slow-converter",
                                             "lagging-converter"})
        QVERIFY(QFile::setPermissions(dir.filePath(script), shared));
}

bool TestExportFaults::makeProgramFolder(const QString &folder, const QString &converter, const QString &reader)
{
    const QString readerName = QStringLiteral("lib") + Platform::readerLibraryBaseName() + QStringLiteral(".so");
    QDir().mkpath(folder);
    // The root the signed fixtures chain to travel with the library, as it would be installed.
    const QString root = QStringLiteral("/trust/fixtures-%1.pem").arg(QCoreApplication::applicationPid());
    if (!QDir().mkpath(folder + QStringLiteral("/trust"))
        || !QFile::copy(QCoreApplication::applicationDirPath() + root, folder + root))
        return false;
    return QFile::setPermissions(folder, shared)
        && QFile::copy(binary(QStringLiteral("exportrun")), folder + QStringLiteral("/exportrun"))
        && (converter.isEmpty() || QFile::copy(converter, folder + '/' + Platform::converterFileName()))
        && (reader.isEmpty() || QFile::copy(reader, folder + '/' + readerName));
}

TestExportFaults::Run TestExportFaults::run(const QString &folder, const QStringList &arguments, bool asNobody,
                                            const QString &dataHome)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    process.setProcessEnvironment(environment);
    const QString program = folder + QStringLiteral("/exportrun");
    if (asNobody)
        process.start(QStringLiteral("setpriv"),
                      QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} + arguments);
    else
        process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(120000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        if (line.startsWith("MESSAGE "))
            result.messages.append(QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(8))));
    }
    result.log = process.readAllStandardError();
    return result;
}

void TestExportFaults::faults_data()
{
    QTest::addColumn<QString>("converter");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<bool>("asNobody");
    QTest::addColumn<QString>("dataHome");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("message");

    const QString converter = binary(Platform::converterFileName());
    const QString reader = binary(QStringLiteral("libVantoril.so"));
    const QString noEntry = binary(QStringLiteral("libemptyreader.so"));
    const QString writeFailure = QStringLiteral("提取失败，写入%DESTINATION%文件错误，请检查：\r\n1：该文件是否已经打开；"
                                                "\r\n2：该文件所在磁盘的空间是否已满。");

    QTest::newRow("converter missing") << "" << reader << false << "" << "open/out.xlsx"
                                       << "提取失败，找不到表格转换程序：%PROGRAM%/" + Platform::converterFileName();
    QTest::newRow("converter failing") << dir.filePath("failing-converter") << reader << false << ""
                                       << "open/out.xlsx" << writeFailure;
    QTest::newRow("converter slower than a wait slice") << dir.filePath("lagging-converter") << reader << false
                                                        << "" << "open/out.xlsx" << "提取完毕";
    QTest::newRow("converter crashing") << dir.filePath("crashing-converter") << reader << false << ""
                                        << "open/out.xlsx" << writeFailure;
    // The library's path as the loader names it: the full file name once the file was found.
    QTest::newRow("library missing") << converter << "" << false << "" << "open/out.xlsx"
                                     << "提取失败，无法加载软件信息读取组件：%PROGRAM%/Vantoril";
    QTest::newRow("library without entry point") << converter << noEntry << false << "" << "open/out.xlsx"
                                                 << "提取失败，无法加载软件信息读取组件：%PROGRAM%/libVantoril.so";
    QTest::newRow("destination folder read-only") << converter << reader << true << "open/data" << "closed/out.xlsx"
                                                  << "提取失败，无法在导出文件所在目录中写入：%RUN%/closed";
    QTest::newRow("program folder read-only") << converter << reader << true << "open/data" << "open/out.xlsx"
                                              << "提取完毕";
    QTest::newRow("no writable data folder") << converter << reader << true << "open/file/data" << "open/out.xlsx"
                                             << "提取失败，无法写入临时文件：%DATA%/exportrun/temp.csv";
}

void TestExportFaults::faults()
{
    QFETCH(QString, converter);
    QFETCH(QString, reader);
    QFETCH(bool, asNobody);
    QFETCH(QString, dataHome);
    QFETCH(QString, destination);
    QFETCH(QString, message);
    if (asNobody && geteuid() != 0)
        QSKIP("needs root to run the program as an unprivileged user");

    QTemporaryDir run_dir;
    QVERIFY(QFile::setPermissions(run_dir.path(), shared));
    const QString program = run_dir.filePath(QStringLiteral("program"));
    QVERIFY(makeProgramFolder(program, converter, reader));
    // "open" is writable for everyone, "closed" only for its owner (root), "open/file" is a file.
    for (const QString &folder : QStringList{"open", "closed"}) {
        QVERIFY(QDir(run_dir.path()).mkdir(folder));
        QVERIFY(QFile::setPermissions(run_dir.filePath(folder), folder == QLatin1String("open") ? open : shared));
    }
    QVERIFY(writeFile(run_dir.filePath("open/file"), "a file"));
    const QString dst = run_dir.filePath(destination);
    QVERIFY(writeFile(dst, "old destination"));
    QVERIFY(QFile::setPermissions(dst, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther));
    // The user's own file: another user's in a folder others may write is never replaced.
    if (asNobody)
        QVERIFY(::chown(QFile::encodeName(dst).constData(), 65534, 65534) == 0);
    const QString data = dataHome.isEmpty() ? run_dir.filePath("unused") : run_dir.filePath(dataHome);

    const Run result = run(program, {src, dst}, asNobody, data);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.messages.size(), 1);
    message.replace("%PROGRAM%", program).replace("%DATA%", data).replace("%DESTINATION%", QFileInfo(dst).fileName())
        .replace("%RUN%", run_dir.path());
    QVERIFY2(isWrappedFrom(result.messages.first(), message), qPrintable(result.messages.first()));

    if (message == QStringLiteral("提取完毕"))
        QCOMPARE(workbookRows(readWorkbook(dst)).size(), 9);
    else
        QCOMPARE(fileContent(dst), QByteArray("old destination"));
    QCOMPARE(temporaryFiles(program), QStringList());
    QCOMPARE(temporaryFiles(data + QStringLiteral("/exportrun")), QStringList());
}

void TestExportFaults::closeWhileRunning_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("converter");
    QTest::addColumn<QByteArray>("stoppedAt");
    QTest::addColumn<bool>("exported");

    const QString converter = binary(Platform::converterFileName());
    QTest::newRow("during the export") << "--close-on-record" << converter
                                       << QByteArray("ThreadSoftwareInfo::run=stopped") << true;
    // The converter would take half a minute; the stop ends it.
    QTest::newRow("while converting") << "--close-while-converting" << dir.filePath("slow-converter")
                                      << QByteArray("ThreadSoftwareInfo::tran finish\nThreadSoftwareInfo::run=stopped")
                                      << true;
    // The scan's result never reaches the window, so no export starts.
    QTest::newRow("during the scan") << "--close-on-scan" << converter << QByteArray("ThreadScanFile::scanStopAll=")
                                     << false;
}

void TestExportFaults::closeWhileRunning()
{
    QFETCH(QString, option);
    QFETCH(QString, converter);
    QFETCH(QByteArray, stoppedAt);
    QFETCH(bool, exported);

    QTemporaryDir run_dir;
    const QString program = run_dir.filePath(QStringLiteral("program"));
    QVERIFY(makeProgramFolder(program, converter, binary(QStringLiteral("libVantoril.so"))));
    const QString dst = run_dir.filePath(QStringLiteral("out.xlsx"));
    QVERIFY(writeFile(dst, "old destination"));

    const Run result = run(program, {src, dst, option}, false, run_dir.filePath("data"));
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(!result.log.contains("QThread: Destroyed"), result.log.constData());
    QVERIFY2(result.log.contains(stoppedAt), result.log.constData());
    QCOMPARE(result.log.contains("ThreadSoftwareInfo::run=start"), exported);
    QVERIFY2(!result.log.contains("ProduceMain::stopWorkers=left running"), result.log.constData());
    QCOMPARE(result.messages, QStringList());
    QCOMPARE(fileContent(dst), QByteArray("old destination"));
    QCOMPARE(temporaryFiles(program), QStringList());
}

void TestExportFaults::unreadableAndUntrustedCounted()
{
    QTemporaryDir run_dir;
    const QString program = run_dir.filePath(QStringLiteral("program"));
    QVERIFY(makeProgramFolder(program, binary(Platform::converterFileName()), binary("libstatusreader.so")));
    const QString source = run_dir.filePath(QStringLiteral("src"));
    for (const char *name : {"read.exe", "G/ok.exe", "G/missing-s1.exe", "G/refused-s2.exe", "failed-s3.exe",
                             "untrusted-s4.exe", "H/only-unreadable-s1.exe"})
        QVERIFY(writeFile(source + '/' + QLatin1String(name), "x"));
    const QString dst = run_dir.filePath(QStringLiteral("out.xlsx"));

    const Run result = run(program, {source, dst}, false, run_dir.filePath("data"));
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.messages.size(), 1);
    QVERIFY2(isWrappedFrom(result.messages.first(), QStringLiteral("提取完毕\r\n有4个文件无法读取，未能提取。"
                                                                   "\r\n有1个文件的数字签名不受信任，未填写厂商数字签名。")),
             qPrintable(result.messages.first()));
    // Unreadable files get no row, and a folder holding only such files none either.
    const QList<QStringList> rows = workbookRows(readWorkbook(dst));
    QStringList names;
    for (const QStringList &row : rows.mid(1))
        names.append(row.value(3) + '|' + row.value(5));
    QCOMPARE(names, QStringList({"ok.exe|Signer", "read.exe|Signer", "untrusted-s4.exe|", "G|"}));
    QCOMPARE(rows.at(3).value(13).size(), 32);
}

QTEST_GUILESS_MAIN(TestExportFaults)
#include "tst_exportfaults.moc"
