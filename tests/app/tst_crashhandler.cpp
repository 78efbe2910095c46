#include "helperprocess.h"

#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fileStartsWith(const QString &path, const QByteArray &start)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(start.size()) == start;
}

} // namespace

class TestCrashHandler : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void crash_data();
    void crash();
    void faultInsideTheLogger();
    void faultWhileAnotherThreadLogs();
    void unwritableCurrentFolder();
    void plantedDumpPlaces_data();
    void plantedDumpPlaces();

private:
    std::unique_ptr<QTemporaryDir> folder;
    QString crashtest;
};

void TestCrashHandler::init()
{
    folder.reset(new QTemporaryDir);
    QVERIFY(folder->isValid());
    crashtest = copyHelper(QStringLiteral("crashtest"), folder->path());
    QVERIFY(!crashtest.isEmpty());
}

void TestCrashHandler::crash_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QString>("signalName");
    QTest::addColumn<bool>("onWorker");
    QTest::newRow("null write on the GUI thread") << "gui" << SIGSEGV << "SIGSEGV" << false;
    QTest::newRow("null write on a worker thread") << "worker" << SIGSEGV << "SIGSEGV" << true;
    QTest::newRow("stack overflow") << "overflow" << SIGSEGV << "SIGSEGV" << false;
    QTest::newRow("stack overflow on a worker thread") << "workeroverflow" << SIGSEGV << "SIGSEGV" << true;
    QTest::newRow("stack overflow on a thread older than the handler") << "earlyoverflow" << SIGSEGV << "SIGSEGV"
                                                                       << true;
    QTest::newRow("abort") << "abort" << SIGABRT << "SIGABRT" << false;
    QTest::newRow("exception a worker does not catch") << "throw" << SIGABRT << "SIGABRT" << true;
    QTest::newRow("division by zero") << "divide" << SIGFPE << "SIGFPE" << false;
    QTest::newRow("illegal instruction") << "illegal" << SIGILL << "SIGILL" << false;
    QTest::newRow("bus error") << "bus" << SIGBUS << "SIGBUS" << false;
}

void TestCrashHandler::crash()
{
    QFETCH(QString, mode);
    QFETCH(int, signalNumber);
    QFETCH(QString, signalName);
    QFETCH(bool, onWorker);

    // A dump of an earlier crash, longer than the new one, must be replaced entirely.
    const QString dumpPath = folder->filePath(QStringLiteral("Pelbrook.dmp"));
    QFile earlier(dumpPath);
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write(QByteArray(4 * 1024 * 1024, 'E'));
    earlier.close();

    QProcess process;
    process.setWorkingDirectory(folder->path());
    process.start(crashtest, {mode});
    QVERIFY(process.waitForStarted());
    const qint64 pid = process.processId();
    QVERIFY(process.waitForFinished(-1));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(process.exitCode(), signalNumber);

    QFile dumpFile(dumpPath);
    QVERIFY(dumpFile.open(QIODevice::ReadOnly));
    const QString dump = QString::fromUtf8(dumpFile.readAll());
    QVERIFY(!dump.contains(QLatin1Char('E') + QString(100, QLatin1Char('E'))));
    QVERIFY2(dump.startsWith(QStringLiteral("Pelbrook crash dump\nsignal: %1 (%2)\n").arg(signalNumber).arg(signalName)),
             qPrintable(dump.left(200)));
    QVERIFY(dump.contains(QStringLiteral("\npid: %1\n").arg(pid)));
    const QRegularExpressionMatch tid = QRegularExpression(QStringLiteral("\ntid: (\\d+)\n")).match(dump);
    QVERIFY(tid.hasMatch());
    QCOMPARE(tid.captured(1).toLongLong() != pid, onWorker);
    if (mode == QLatin1String("gui") || mode == QLatin1String("worker"))
        QVERIFY(dump.contains(QStringLiteral("\naddress: 0x0\n")));
    if (mode == QLatin1String("throw"))
        QVERIFY2(dump.contains(QStringLiteral("\nterminate: uncaught exception std::runtime_error: crashtest exception\n")),
                 qPrintable(dump.left(400)));
    const QRegularExpressionMatch time = QRegularExpression(QStringLiteral("\ntime: (\\d+) \\(")).match(dump);
    QVERIFY(time.hasMatch());
    QVERIFY(qAbs(time.captured(1).toLongLong() - QDateTime::currentSecsSinceEpoch()) < 60);
    const int backtrace = dump.indexOf(QStringLiteral("\nbacktrace:\n"));
    const int maps = dump.indexOf(QStringLiteral("\nmaps:\n"));
    QVERIFY(backtrace > 0 && maps > backtrace);
    QVERIFY(dump.mid(backtrace, maps - backtrace).contains(QStringLiteral("crashtest")));
    QVERIFY(dump.mid(maps).contains(QStringLiteral("[stack]")));
    QVERIFY(dump.mid(maps).contains(crashtest));

    const QStringList lines = QString::fromUtf8(readLog(folder->path())).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(0).endsWith(QStringLiteral("]crashtest=start ") + mode + QStringLiteral(" (:0, )")));
    QVERIFY2(QRegularExpression(QStringLiteral("^Debug: \\[[^]]{23}\\]ApplicationCrashHandler \\(:0, \\)$"))
                 .match(lines.at(1)).hasMatch(), qPrintable(lines.at(1)));
    QCOMPARE(lines.at(2), QString());
}

// The fault comes while this very thread writes a line and holds the log's lock. Without
// its skip the handler would wait for that lock until its log step is cut short, and
// the crash line would be missing.
void TestCrashHandler::faultInsideTheLogger()
{
    const QRegularExpression crashLine(QStringLiteral("^Debug: \\[[^]]{23}\\]ApplicationCrashHandler \\(:0, \\)$"));
    for (int run = 0; run < 3; ++run) {
        QFile::remove(folder->filePath(QStringLiteral("Pelbrook.dmp")));
        QFile::remove(folder->filePath(QStringLiteral("log/Pelbrook.txt")));
        QProcess process;
        process.setWorkingDirectory(folder->path());
        process.start(crashtest, {QStringLiteral("busylog")});
        QVERIFY(process.waitForFinished(-1));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(process.exitCode(), SIGSEGV);
        QVERIFY(fileStartsWith(folder->filePath(QStringLiteral("Pelbrook.dmp")), "Pelbrook crash dump\nsignal: 11 "));
        const QStringList lines = QString::fromUtf8(readLog(folder->path())).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).endsWith(QStringLiteral("]crashtest=start busylog (:0, )")));
        QVERIFY2(crashLine.match(lines.at(1)).hasMatch(), qPrintable(lines.at(1)));
    }
}

// The thread that fails waits for the lock the logging thread holds, instead of
// leaving the line out.
void TestCrashHandler::faultWhileAnotherThreadLogs()
{
    const QRegularExpression crashLine(QStringLiteral("^Debug: \\[[^]]{23}\\]ApplicationCrashHandler \\(:0, \\)$"));
    const QDir logFolder(folder->filePath(QStringLiteral("log")));
    for (int run = 0; run < 5; ++run) {
        QVERIFY(QDir(logFolder).removeRecursively());
        QProcess process;
        process.setWorkingDirectory(folder->path());
        process.start(crashtest, {QStringLiteral("workerbusylog")});
        QVERIFY(process.waitForFinished(-1));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(process.exitCode(), SIGSEGV);
        // The busy thread may fill the live file and rotate it before the fault: every file counts.
        QByteArray log;
        for (const QFileInfo &file : logFolder.entryInfoList(QDir::Files)) {
            QFile part(file.filePath());
            QVERIFY(part.open(QIODevice::ReadOnly));
            log += part.readAll();
        }
        const QStringList lines = QString::fromUtf8(log).split(QStringLiteral("\r\n"));
        QVERIFY(lines.size() > 3);
        QCOMPARE(lines.filter(crashLine).size(), 1);
    }
}

void TestCrashHandler::unwritableCurrentFolder()
{
    if (geteuid() != 0)
        QSKIP("needs root to run the crash as another user");
    const QString readOnly = folder->filePath(QStringLiteral("read-only"));
    QVERIFY(QDir().mkdir(readOnly));
    QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther
                                               | QFile::ExeOther));
    // The program folder stays writable for the crashing user, so the log can be written.
    QVERIFY(QProcess::execute(QStringLiteral("chown"), {QStringLiteral("65534"), folder->path()}) == 0);
    QFile::setPermissions(folder->path(), QFile::permissions(folder->path()) | QFile::ExeOther | QFile::ReadOther);

    QProcess process;
    process.setWorkingDirectory(readOnly);
    process.start(QStringLiteral("setpriv"), {"--reuid=65534", "--regid=65534", "--clear-groups", crashtest, "gui"});
    QVERIFY(process.waitForFinished(-1));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(process.exitCode(), SIGSEGV);
    QVERIFY(!QFile::exists(readOnly + QStringLiteral("/Pelbrook.dmp")));
    QVERIFY(readLog(folder->path()).contains("]ApplicationCrashHandler (:0, )\r\n"));
}

void TestCrashHandler::plantedDumpPlaces_data()
{
    QTest::addColumn<QString>("workFolder"); // the crash's current folder
    QTest::addColumn<bool>("byOtherUser");   // the planting is done by nobody, else by root
    QTest::addColumn<QString>("planting");   // run in the run's folder; $TARGET is root's file
    QTest::addColumn<QString>("dataHome");   // XDG_DATA_HOME
    QTest::addColumn<QString>("dump");       // where the dump must be; empty for nowhere

    const QString inData = QStringLiteral("data/crashtest/Pelbrook.dmp");
    QTest::newRow("link in a shared folder")
        << "shared" << true << "ln -s \"$TARGET\" shared/Pelbrook.dmp" << "data" << inData;
    QTest::newRow("link in a folder of another user's")
        << "shared/theirs" << true << "mkdir shared/theirs; ln -s \"$TARGET\" shared/theirs/Pelbrook.dmp" << "data"
        << inData;
    QTest::newRow("link in a folder others may write")
        << "open" << true << "ln -s \"$TARGET\" open/Pelbrook.dmp" << "data" << inData;
    QTest::newRow("link in place of the data folder")
        << "shared" << true
        << "ln -s \"$TARGET\" shared/Pelbrook.dmp; ln -s \"$(dirname \"$TARGET\")\" their-data/crashtest"
        << "their-data" << "";
    QTest::newRow("name taken by a link in a private folder")
        << "private" << false << "ln -s \"$TARGET\" private/Pelbrook.dmp" << "data" << "private/Pelbrook-1.dmp";
    QTest::newRow("name taken by a folder in a private folder")
        << "private" << false << "mkdir private/Pelbrook.dmp" << "data" << "private/Pelbrook-1.dmp";
}

// Root crashes where another user may have planted a link in the dump's place.
void TestCrashHandler::plantedDumpPlaces()
{
    QFETCH(QString, workFolder);
    QFETCH(bool, byOtherUser);
    QFETCH(QString, planting);
    QFETCH(QString, dataHome);
    QFETCH(QString, dump);
    if (geteuid() != 0)
        QSKIP("needs root to plant as another user");

    // shared is like /tmp, open is writable by all, their-data belongs to nobody.
    const QString run = folder->filePath(QStringLiteral("run"));
    const QStringList folders{"shared", "open", "private", "their-data", "root-private"};
    const QList<mode_t> modes{01777, 0777, 0700, 0755, 0700};
    QVERIFY(chmod(QFile::encodeName(folder->path()).constData(), 0755) == 0);
    QVERIFY(QDir().mkpath(run));
    for (int i = 0; i < folders.size(); ++i) {
        const QByteArray path = QFile::encodeName(run + QLatin1Char('/') + folders.at(i));
        QVERIFY(QDir().mkpath(QString::fromUtf8(path)) && chmod(path.constData(), modes.at(i)) == 0);
    }
    QVERIFY(chown(QFile::encodeName(run + QStringLiteral("/their-data")).constData(), 65534, 65534) == 0);
    const QString target = run + QStringLiteral("/root-private/precious");
    QFile precious(target);
    QVERIFY(precious.open(QIODevice::WriteOnly) && precious.write("root's own file\n") > 0);
    precious.close();

    const QString script = QStringLiteral("cd '%1'; TARGET='%2'; %3").arg(run, target, planting);
    const QStringList asOther{"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-ec", script};
    QCOMPARE(byOtherUser ? QProcess::execute(QStringLiteral("setpriv"), asOther)
                         : QProcess::execute(QStringLiteral("sh"), {"-ec", script}),
             0);
    const QStringList plantedBefore = QDir(run + QLatin1Char('/') + workFolder).entryList(QDir::AllEntries | QDir::System);

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), run + QLatin1Char('/') + dataHome);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(run + QLatin1Char('/') + workFolder);
    process.start(crashtest, {QStringLiteral("gui")});
    QVERIFY(process.waitForFinished(-1));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(process.exitCode(), SIGSEGV);

    QFile targetAfter(target);
    QVERIFY(targetAfter.open(QIODevice::ReadOnly));
    QCOMPARE(targetAfter.readAll(), QByteArray("root's own file\n"));
    QCOMPARE(QDir(run + QStringLiteral("/root-private")).entryList(QDir::Files | QDir::System),
             QStringList{"precious"});
    // What was planted stays as it was: no name taken, none removed.
    QStringList expectedEntries = plantedBefore;
    if (dump.startsWith(workFolder + QLatin1Char('/')))
        expectedEntries << QFileInfo(dump).fileName();
    expectedEntries.sort();
    QCOMPARE(QDir(run + QLatin1Char('/') + workFolder).entryList(QDir::AllEntries | QDir::System), expectedEntries);
    if (!dump.isEmpty()) {
        QFile dumpFile(run + QLatin1Char('/') + dump);
        QVERIFY2(dumpFile.open(QIODevice::ReadOnly), qPrintable(dumpFile.fileName()));
        QVERIFY(dumpFile.readAll().startsWith("Pelbrook crash dump\nsignal: 11 (SIGSEGV)\n"));
        struct stat status;
        QVERIFY(lstat(QFile::encodeName(dumpFile.fileName()).constData(), &status) == 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0600));
    }
    QVERIFY(readLog(folder->path()).contains("]ApplicationCrashHandler (:0, )\r\n"));
}

QTEST_GUILESS_MAIN(TestCrashHandler)
#include "tst_crashhandler.moc"
