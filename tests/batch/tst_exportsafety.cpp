// The export tried as an attacker and as an unlucky user would try it: another user
// (nobody) planting links and files, files swapped or growing while read, a killed run,
// a converter leaving junk, folders that cannot be listed, names that are not text.
// Both front ends run as real processes in program folders of their own.
#include "exportfixtures.h"
#include "workbookreader.h"

#include "fileidentity.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString binary(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

const QFile::Permissions shared = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
const QByteArray precious("root's own file");
const QByteArray oldWorkbook("an earlier workbook");

// Runs a command as nobody, as a second user on the machine would.
bool asNobody(const QStringList &command)
{
    return QProcess::execute(QStringLiteral("setpriv"),
                             QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + command)
        == 0;
}

} // namespace

class TestExportSafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void othersTargetsRefused_data();
    void othersTargetsRefused();
    void reportNamingDestination_data();
    void reportNamingDestination();
    void cacheKeepsTheFileRead();
    void fileChangingWhileRead();
    void converterEndsWithExport();
    void invalidWorkbookNotCommitted();
    void unlistableFolderCounted_data();
    void unlistableFolderCounted();
    void folderIdsIndependentOfTyping_data();
    void folderIdsIndependentOfTyping();
    void namesEscaped();
    void plantedLockNotOurs();
    void plantedLogFolderNotOurs();
    void fallbackDataFolderChecked();
    void libraryLogRemovedAndBounded();
    void cacheOnlyWhereIdentityHolds();
    void cacheOffOnImages_data();
    void cacheOffOnImages();

private:
    struct Run
    {
        int exitCode = -1;
        QString err;
        QString out;
    };
    QString programFolder(const QString &name, const QString &reader = QString(),
                          const QString &converter = QString());
    Run run(const QString &folder, const QString &program, const QStringList &arguments,
            const QStringList &environment = {}, bool nobody = false, const QString &workingFolder = QString());
    // The message texts exportrun shows, decoded.
    static QStringList messages(const Run &run);

    QTemporaryDir dir;
    QString fixtures;
    QString src;
    int folders = 0;
};

void TestExportSafety::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("runs as root, with nobody as the second user");
    QVERIFY(dir.isValid());
    QVERIFY(QFile::setPermissions(dir.path(), shared));
    // mkfs.vfat and mount live in the administrator's folders.
    qputenv("PATH", qgetenv("PATH") + ":/usr/sbin:/sbin");
    qputenv("TMPDIR", dir.path().toUtf8());
    qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
    fixtures = dir.filePath("fixtures");
    QVERIFY(QDir().mkpath(fixtures) && makeFixtures(fixtures));
    src = dir.filePath("src");
    QVERIFY(copyFixture(fixtures, "pe32-version.exe", src + "/a.exe"));
    QVERIFY(copyFixture(fixtures, "pe64-version.exe", src + "/green/b.exe"));
    for (const QString &folder : {dir.path() + "/fixtures", src, src + "/green"})
        QVERIFY(QFile::setPermissions(folder, shared));
    QVERIFY(QFile::setPermissions(src + "/a.exe", shared));
    QVERIFY(QFile::setPermissions(src + "/green/b.exe", shared));
    QVERIFY(writeFile(dir.filePath("junk-converter"), "#!/bin/sh\nprintf 'not a zip' >\"$1.xlsx\"\nexit 0\n"));
    QVERIFY(writeFile(dir.filePath("pid-converter"), "#!/bin/sh\necho $$ >\"$PID_FILE\"\nexec sleep 30\n"));
    for (const char *script : {"junk-converter", "pid-converter"})
        QVERIFY(QFile::setPermissions(dir.filePath(script), shared));
}

QString TestExportSafety::programFolder(const QString &name, const QString &reader, const QString &converter)
{
    const QString folder = dir.filePath(name + QString::number(++folders));
    const bool ok = QDir().mkpath(folder) && QFile::setPermissions(folder, shared)
        && QFile::copy(binary("pelbrook-export"), folder + "/pelbrook-export")
        && QFile::copy(binary("exportrun"), folder + "/exportrun")
        && QFile::copy(reader.isEmpty() ? binary("libVantoril.so") : reader, folder + "/libVantoril.so")
        && QFile::copy(converter.isEmpty() ? binary("xlsxio_csv2xlsx") : converter, folder + "/xlsxio_csv2xlsx");
    return ok ? folder : QString();
}

TestExportSafety::Run TestExportSafety::run(const QString &folder, const QString &program,
                                            const QStringList &arguments, const QStringList &environment,
                                            bool nobody, const QString &workingFolder)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    for (const QString &pair : environment)
        env.insert(pair.section('=', 0, 0), pair.section('=', 1));
    process.setProcessEnvironment(env);
    if (!workingFolder.isEmpty())
        process.setWorkingDirectory(workingFolder);
    const QString path = folder + QLatin1Char('/') + program;
    if (nobody)
        process.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", path} + arguments);
    else
        process.start(path, arguments);
    Run result;
    if (!process.waitForFinished(120000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.err = QString::fromUtf8(process.readAllStandardError());
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    return result;
}

QStringList TestExportSafety::messages(const Run &run)
{
    QStringList shown;
    for (const QString &line : run.out.split('\n')) {
        if (line.startsWith("MESSAGE "))
            shown.append(QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(8).toUtf8())));
    }
    return shown;
}

// nobody plants, in a folder everyone may write (sticky, as /tmp), a link to a file of
// root's or a file of its own where root will write the workbook or the report.
void TestExportSafety::othersTargetsRefused_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("planted"); // "link" or "file"
    QTest::addColumn<bool>("asReport");
    QTest::addColumn<QString>("message");

    const QString destination = QStringLiteral("导出文件是另一个用户的链接或文件，未写入");
    QTest::newRow("destination: their link") << "pelbrook-export" << "link" << false << destination;
    QTest::newRow("destination: their file") << "pelbrook-export" << "file" << false << destination;
    QTest::newRow("report: their link") << "pelbrook-export" << "link" << true
                                        << "报告文件是另一个用户的链接或文件，未写入";
    QTest::newRow("report: their file") << "pelbrook-export" << "file" << true
                                        << "报告文件是另一个用户的链接或文件，未写入";
    QTest::newRow("wizard: their link") << "exportrun" << "link" << false << destination;
    QTest::newRow("wizard: their file") << "exportrun" << "file" << false << destination;
}

void TestExportSafety::othersTargetsRefused()
{
    QFETCH(QString, program);
    QFETCH(QString, planted);
    QFETCH(bool, asReport);
    QFETCH(QString, message);

    const QString folder = programFolder("targets");
    const QString sticky = dir.filePath("sticky" + QString::number(folders));
    QVERIFY(QDir().mkpath(sticky) && ::chmod(QFile::encodeName(sticky).constData(), 01777) == 0);
    const QString mine = dir.filePath("private" + QString::number(folders));
    QVERIFY(QDir().mkpath(mine));
    QVERIFY(writeFile(mine + "/precious", precious));
    const QString target = sticky + (asReport ? "/report.csv" : "/out.xlsx");
    if (planted == "link")
        QVERIFY(asNobody({"ln", "-s", mine + "/precious", target}));
    else
        QVERIFY(asNobody({"sh", "-c", "echo theirs >'" + target + "'"}));
    const QByteArray before = fileContent(target);

    const QStringList arguments = asReport ? QStringList{"--report", target, src, mine + "/out.xlsx"}
                                           : QStringList{src, target};
    const Run result = run(folder, program, arguments);
    if (program == "exportrun") {
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(messages(result).join('\n').remove("\r\n").contains(message), qPrintable(result.out));
    } else {
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
    }
    QCOMPARE(fileContent(mine + "/precious"), precious);
    QCOMPARE(fileContent(target), before);
    QCOMPARE(QFileInfo(target).isSymLink(), planted == "link");
}

void TestExportSafety::reportNamingDestination_data()
{
    QTest::addColumn<QString>("report");
    QTest::newRow("the same path") << "out/old.xlsx";
    QTest::newRow("through . and ..") << "out/./../out/old.xlsx";
    QTest::newRow("through a link") << "out/link.csv";
}

void TestExportSafety::reportNamingDestination()
{
    QFETCH(QString, report);
    const QString folder = programFolder("same");
    const QString out = dir.filePath("same-out" + QString::number(folders));
    QVERIFY(writeFile(out + "/out/old.xlsx", oldWorkbook));
    QVERIFY(QFile::link(out + "/out/old.xlsx", out + "/out/link.csv"));

    const Run result = run(folder, "pelbrook-export", {"--report", out + '/' + report, src, out + "/out/old.xlsx"});
    QVERIFY2(result.exitCode == 2, qPrintable(result.err));
    QVERIFY2(result.err.contains("--report"), qPrintable(result.err));
    QCOMPARE(fileContent(out + "/out/old.xlsx"), oldWorkbook);
}

// The library's call is where a writer of the source folder swaps the file and back: the
// answer kept must be for the file that was read, under that file's identity.
void TestExportSafety::cacheKeepsTheFileRead()
{
    const QString folder = programFolder("swap", binary("libswappingreader.so"));
    const QString source = dir.filePath("swap-src");
    QVERIFY(writeFile(source + "/green/setup.exe", "the real installer"));
    QVERIFY(writeFile(dir.filePath("stand-in/setup.exe"), "another installer"));
    // Files changed in the last two seconds (whole seconds) are not kept.
    QTest::qWait(3100);
    const QStringList data{"XDG_DATA_HOME=" + dir.filePath("swap-data")};
    const QString out = dir.filePath("swap.xlsx");

    const Run swapped = run(folder, "pelbrook-export", {source, out}, data + QStringList{"SWAP_WITH=" + dir.filePath("stand-in")});
    QVERIFY2(swapped.exitCode == 0, qPrintable(swapped.err));
    const Run again = run(folder, "pelbrook-export", {source, out}, data);
    QVERIFY2(again.exitCode == 0, qPrintable(again.err));
    const QList<QStringList> rows = workbookRows(readWorkbook(out));
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(1).value(13), md5Hex("the real installer"));
    QVERIFY2(again.err.contains("取自缓存 1 个"), qPrintable(again.err));
}

void TestExportSafety::fileChangingWhileRead()
{
    const QString folder = programFolder("grow", binary("libswappingreader.so"));
    const QString source = dir.filePath("grow-src");
    QVERIFY(writeFile(source + "/growing.exe", "begins"));
    const QString report = dir.filePath("grow-report.csv");

    const Run result = run(folder, "pelbrook-export", {"--no-cache", "--report", report, source, dir.filePath("grow.xlsx")},
                           {"GROW_WHILE_READ=1"});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.contains("读取时被改动\t" + source + "/growing.exe"), qPrintable(result.err));
    QVERIFY2(result.err.contains("无法读取 1 个"), qPrintable(result.err));
    QVERIFY2(fileContent(report).contains("/growing.exe\",unstable,"), fileContent(report).constData());
    QCOMPARE(workbookRows(readWorkbook(dir.filePath("grow.xlsx"))).size(), 1);
}

void TestExportSafety::converterEndsWithExport()
{
    const QString folder = programFolder("killed", QString(), dir.filePath("pid-converter"));
    const QString pidFile = dir.filePath("converter.pid");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PID_FILE", pidFile);
    process.setProcessEnvironment(env);
    process.start(folder + "/pelbrook-export", {src, dir.filePath("killed.xlsx")});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(fileContent(pidFile).endsWith('\n'), 60000);
    const QByteArray pid = fileContent(pidFile).trimmed();
    ::kill(pid_t(process.processId()), SIGKILL);
    QVERIFY(process.waitForFinished(10000));
    // Gone, or a zombie waiting for a parent that does not reap: either way it writes nothing.
    const auto ended = [&] {
        const QByteArray stat = fileContent("/proc/" + pid + "/stat");
        return stat == "<missing>" || stat.contains(") Z ");
    };
    QTRY_VERIFY_WITH_TIMEOUT(ended(), 10000);
}

void TestExportSafety::invalidWorkbookNotCommitted()
{
    const QString folder = programFolder("junk", QString(), dir.filePath("junk-converter"));
    QVERIFY(writeFile(dir.filePath("junk-out/old.xlsx"), oldWorkbook));
    const Run result = run(folder, "pelbrook-export", {src, dir.filePath("junk-out/old.xlsx")});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("文件错误"), qPrintable(result.err));
    QCOMPARE(fileContent(dir.filePath("junk-out/old.xlsx")), oldWorkbook);
    QCOMPARE(temporaryFiles(folder), QStringList());
}

// Root lists every folder, so nobody runs these exports, with a folder only root may open.
void TestExportSafety::unlistableFolderCounted_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("pelbrook-export") << "pelbrook-export";
    QTest::newRow("wizard") << "exportrun";
}

void TestExportSafety::unlistableFolderCounted()
{
    QFETCH(QString, program);
    const QString folder = programFolder("locked");
    const QString source = dir.filePath("locked-src" + QString::number(folders));
    QVERIFY(copyFixture(fixtures, "pe32-version.exe", source + "/a.exe"));
    QVERIFY(copyFixture(fixtures, "pe32-version.exe", source + "/closed/hidden.exe"));
    QVERIFY(QFile::setPermissions(source, shared) && QFile::setPermissions(source + "/a.exe", shared));
    QVERIFY(QFile::setPermissions(source + "/closed", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString theirs = dir.filePath("theirs" + QString::number(folders));
    QVERIFY(QDir().mkpath(theirs) && ::chown(QFile::encodeName(theirs).constData(), 65534, 65534) == 0);
    QVERIFY(asNobody({"mkdir", theirs + "/out"}));
    const QStringList env{"XDG_DATA_HOME=" + theirs + "/data", "TMPDIR=" + theirs, "HOME=" + theirs};
    const QString report = theirs + "/out/report.csv";

    const QStringList arguments = program == "exportrun" ? QStringList{source, theirs + "/out/out.xlsx"}
                                                         : QStringList{"--report", report, source, theirs + "/out/out.xlsx"};
    const Run result = run(folder, program, arguments, env, true);
    QCOMPARE(result.exitCode, 0);
    if (program == "exportrun") {
        QVERIFY2(messages(result).join('\n').remove("\r\n").contains("有1个文件无法读取"), qPrintable(result.out));
        return;
    }
    QVERIFY2(result.err.contains("无法读取\t" + source + "/closed/"), qPrintable(result.err));
    QVERIFY2(result.err.contains("安装包 1 个") && result.err.contains("无法读取 1 个"), qPrintable(result.err));
    QVERIFY2(fileContent(report).contains("/closed/\",unreadable,"), fileContent(report).constData());
}

// The id of a green-software folder is the MD5 of its absolute, clean path however the
// source folder was typed, as the wizard's folder dialog gives it.
void TestExportSafety::folderIdsIndependentOfTyping_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("relative") << "src";
    QTest::newRow("dot and a trailing slash") << "./src/";
    QTest::newRow("doubled slashes and ..") << "fixtures/..//src";
}

void TestExportSafety::folderIdsIndependentOfTyping()
{
    QFETCH(QString, typed);
    const QString folder = programFolder("typed");
    const QString out = dir.filePath("typed" + QString::number(folders) + ".xlsx");
    const Run result = run(folder, "pelbrook-export", {"--no-cache", typed, out}, {}, false, dir.path());
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    const QList<QStringList> rows = workbookRows(readWorkbook(out));
    const QString id = md5Hex((src + "/green").toUtf8());
    QStringList ids;
    for (const QStringList &row : rows.mid(1))
        ids << row.value(16) << row.value(17);
    ids.removeAll(QString());
    QCOMPARE(ids, QStringList({id, id}));
}

void TestExportSafety::namesEscaped()
{
    const QString folder = programFolder("names");
    const QByteArray source = QFile::encodeName(dir.filePath("names-src"));
    QVERIFY(QDir().mkpath(QString::fromUtf8(source)));
    // Links to a pipe: listed as files, and unreadable, so each gets a line of the list.
    const QByteArray pipe = QFile::encodeName(dir.filePath("names-pipe"));
    QVERIFY(::mkfifo(pipe.constData(), 0600) == 0);
    const QList<QByteArray> names{"forged\n无法读取\tline.exe", "\xff.exe", "\xfe.exe"};
    // QDir cannot name them to remove them.
    const auto remove = qScopeGuard([&] {
        for (const QByteArray &name : names)
            ::unlink((source + '/' + name).constData());
    });
    for (const QByteArray &name : names)
        QVERIFY(::symlink(pipe.constData(), (source + '/' + name).constData()) == 0);
    const QString report = dir.filePath("names-report.csv");
    const Run result = run(folder, "pelbrook-export", {"--report", report, QFile::decodeName(source),
                                                       dir.filePath("names.xlsx")});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.contains("/forged\\x0a无法读取\\x09line.exe\t"), qPrintable(result.err));
    QVERIFY2(!result.err.contains("\n无法读取\tline.exe"), qPrintable(result.err));
    const QByteArray written = fileContent(report);
    QVERIFY2(written.contains("/\\xff.exe\"") && written.contains("/\\xfe.exe\""), written.constData());
}

void TestExportSafety::plantedLockNotOurs()
{
    const QString folder = programFolder("lock");
    const QString lock = folder + "/.pelbrook-export.lock";
    QVERIFY(writeFile(lock, ""));
    QVERIFY(::chown(QFile::encodeName(lock).constData(), 65534, 65534) == 0);
    const Run result = run(folder, "pelbrook-export", {src, dir.filePath("lock.xlsx")});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("锁文件不是本用户的：" + lock), qPrintable(result.err));
    QVERIFY(!QFile::exists(dir.filePath("lock.xlsx")));
}

void TestExportSafety::plantedLogFolderNotOurs()
{
    const QString folder = programFolder("logfolder");
    QVERIFY(QDir().mkpath(folder + "/log"));
    QVERIFY(::chown(QFile::encodeName(folder + "/log").constData(), 65534, 65534) == 0);
    const Run result = run(folder, "pelbrook-export", {src, dir.filePath("logfolder.xlsx")});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.contains("日志目录不是本用户的，日志未写入：" + folder + "/log"), qPrintable(result.err));
    QCOMPARE(QDir(folder + "/log").entryList(QDir::Files | QDir::Hidden), QStringList());
}

// A program folder others may write sends the temporary files to the data folder; one
// that another user made is not used either.
void TestExportSafety::fallbackDataFolderChecked()
{
    const QString folder = programFolder("fallback");
    QVERIFY(QFile::setPermissions(folder, shared | QFile::WriteGroup | QFile::WriteOther));
    const QString theirs = dir.filePath("their-data");
    QVERIFY(QDir().mkpath(theirs) && ::chown(QFile::encodeName(theirs).constData(), 65534, 65534) == 0);
    const QString mine = dir.filePath("fallback-private");
    QVERIFY(QDir().mkpath(mine) && writeFile(mine + "/precious", precious));
    QVERIFY(asNobody({"mkdir", "-m", "0755", theirs + "/pelbrook-export"}));
    for (const char *name : {"temp.csv", "temp.csv.xlsx", "log"})
        QVERIFY(asNobody({"ln", "-s", mine + "/precious", theirs + "/pelbrook-export/" + QLatin1String(name)}));

    const Run result = run(folder, "pelbrook-export", {src, dir.filePath("fallback.xlsx")}, {"XDG_DATA_HOME=" + theirs});
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    QCOMPARE(fileContent(mine + "/precious"), precious);
    QCOMPARE(QDir(theirs + "/pelbrook-export").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System),
             QStringList({"log", "temp.csv", "temp.csv.xlsx"}));
}

void TestExportSafety::libraryLogRemovedAndBounded()
{
    const QString folder = programFolder("log");
    const QString temporary = dir.filePath("log-tmp");
    QVERIFY(QDir().mkpath(temporary));
    const Run result = run(folder, "pelbrook-export", {src, dir.filePath("log.xlsx")}, {"TMPDIR=" + temporary});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(!QFile::exists(temporary + "/tarsel/Vantoril.log"));

    // readprops keeps its log; a full one starts again instead of growing.
    const QString log = temporary + "/tarsel/Vantoril.log";
    QVERIFY(QDir().mkpath(temporary + "/tarsel"));
    QVERIFY(QFile::setPermissions(temporary + "/tarsel", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QFile full(log);
    QVERIFY(full.open(QIODevice::WriteOnly) && full.resize(8 << 20));
    full.close();
    QProcess readprops;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", temporary);
    readprops.setProcessEnvironment(env);
    readprops.start(binary("readprops"), {src + "/a.exe"});
    QVERIFY(readprops.waitForFinished(60000));
    QVERIFY(QFileInfo(log).size() > 0);
    QVERIFY2(QFileInfo(log).size() <= 8 << 20, qPrintable(QString::number(QFileInfo(log).size())));
}

// Decided from the file system's type: /proc's change times are made up on each look.
void TestExportSafety::cacheOnlyWhereIdentityHolds()
{
    const FileIdentity local = Platform::fileIdentity(src + "/a.exe");
    QVERIFY(local.valid && local.trustworthy);
    const FileIdentity made = Platform::fileIdentity("/proc/self/status");
    QVERIFY(made.valid);
    QVERIFY(!made.trustworthy);
    QVERIFY(!made.distrust.isEmpty());
}

// On FAT and exFAT a file rewritten at its size with its time put back looks unchanged
// (through FUSE the change time is the modification time), so every export reads every
// file there and the log says why.
void TestExportSafety::cacheOffOnImages_data()
{
    QTest::addColumn<QString>("maker");
    QTest::addColumn<QString>("mounter"); // "loop" or "fuse"
    QTest::addColumn<QString>("type");
    QTest::newRow("exFAT through FUSE") << "mkfs.exfat" << "fuse" << "exfat";
    QTest::newRow("exFAT") << "mkfs.exfat" << "loop" << "exfat";
    QTest::newRow("FAT") << "mkfs.vfat" << "loop" << "vfat";
}

void TestExportSafety::cacheOffOnImages()
{
    QFETCH(QString, maker);
    QFETCH(QString, mounter);
    QFETCH(QString, type);
    const QString image = dir.filePath(type + mounter + ".img");
    const QString mounted = dir.filePath(type + mounter);
    QVERIFY(QDir().mkpath(mounted));
    QVERIFY(QProcess::execute("truncate", {"-s", "16M", image}) == 0);
    if (QProcess::execute(maker, {image}) != 0)
        QSKIP(qPrintable(maker + " is not installed (dosfstools, exfatprogs)"));
    QString device;
    QProcess mount;
    if (mounter == "fuse") {
        QProcess attach;
        attach.start("losetup", {"-f", "--show", image});
        if (!attach.waitForFinished(30000) || attach.exitCode() != 0)
            QSKIP("this machine gives no loop device");
        device = QString::fromLocal8Bit(attach.readAllStandardOutput()).trimmed();
        mount.start("mount.exfat-fuse", {device, mounted});
    } else {
        mount.start("mount", {"-t", type, "-o", "loop", image, mounted});
    }
    const bool isMounted = mount.waitForFinished(30000) && mount.exitStatus() == QProcess::NormalExit
        && mount.exitCode() == 0;
    const auto unmount = qScopeGuard([&] {
        if (isMounted)
            QProcess::execute("umount", {mounted});
        if (!device.isEmpty())
            QProcess::execute("losetup", {"-d", device});
    });
    if (!isMounted)
        QSKIP(qPrintable("this machine does not mount the image: " + QString::fromLocal8Bit(mount.readAllStandardError())));

    const QString file = mounted + "/a.exe";
    QVERIFY(writeFile(file, QByteArray(4096, 'A')));
    const QDateTime written = QFileInfo(file).lastModified();
    QTest::qWait(3100);
    const QString folder = programFolder("image");
    const QStringList data{"XDG_DATA_HOME=" + dir.filePath("image-data" + QString::number(folders))};
    const QString out = dir.filePath("image" + QString::number(folders) + ".xlsx");
    const Run first = run(folder, "pelbrook-export", {mounted, out}, data);
    QCOMPARE(first.exitCode, 0);
    // Rewritten at the same size, its time put back.
    QVERIFY(writeFile(file, QByteArray(4096, 'B')));
    // By name, once the file is closed: closing it through FUSE sets its time again.
    QCOMPARE(QProcess::execute("touch", {"-d", "@" + QString::number(written.toSecsSinceEpoch()), file}), 0);
    QTest::qWait(3100);
    const Run second = run(folder, "pelbrook-export", {mounted, out}, data);
    QCOMPARE(second.exitCode, 0);
    QVERIFY2(second.err.contains("取自缓存 0 个"), qPrintable(second.err));
    QCOMPARE(workbookRows(readWorkbook(out)).value(1).value(13), md5Hex(QByteArray(4096, 'B')));
    QVERIFY(fileContent(folder + "/log/Pelbrook.txt").contains("cache not used for"));
}

QTEST_GUILESS_MAIN(TestExportSafety)
#include "tst_exportsafety.moc"
