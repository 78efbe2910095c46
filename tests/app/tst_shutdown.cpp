// Closing the window of the real program (its own start-up, driven by shutdowndriver) in
// every state: the process must end soon with exit code 0, log the stop once, leave
// no temporary file and the destination as it was, and a new start must work at once.
#include "exportfixtures.h"

#include "platform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString binary(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

// Generous: the stop takes a fraction of a second, what it cuts short takes minutes.
const int endBoundMs = 20000;

} // namespace

class TestShutdown : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void closeEndsProcess_data();
    void closeEndsProcess();
    void crashLogNamesFileRead();

private:
    QProcessEnvironment environment(const QString &mode, const QString &source, const QString &destination) const;

    QTemporaryDir dir;
    QTemporaryDir fixtures;
};

void TestShutdown::initTestCase()
{
    QVERIFY(dir.isValid() && fixtures.isValid());
    QVERIFY(makeFixtures(fixtures.path()));
    QVERIFY(writeFile(dir.filePath("slow-converter"), "#!/bin/sh\nexec sleep 300\n"));
    QVERIFY(QFile::setPermissions(dir.filePath("slow-converter"), QFile::ReadOwner | QFile::ExeOwner));
}

QProcessEnvironment TestShutdown::environment(const QString &mode, const QString &source,
                                              const QString &destination) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Also gives the single-instance guard a key of this test's own.
    environment.insert(QStringLiteral("TMPDIR"), dir.path());
    environment.insert(QStringLiteral("PELBROOK_CLOSE"), mode);
    environment.insert(QStringLiteral("PELBROOK_SOURCE"), source);
    environment.insert(QStringLiteral("PELBROOK_DESTINATION"), destination);
    return environment;
}

void TestShutdown::closeEndsProcess_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("converter");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QByteArray>("stopLine");
    QTest::addColumn<bool>("leftRunning");

    const QString converter = binary(Platform::converterFileName());
    const QString reader = binary(QStringLiteral("libVantoril.so"));
    QTest::newRow("listing an endless tree") << "listing" << converter << reader
                                             << QByteArray("ThreadScanFile::scanStopAll=") << false;
    QTest::newRow("reading a 64 GiB installer") << "reading" << converter << reader
                                                << QByteArray("ThreadSoftwareInfo::stopExtract=") << false;
    QTest::newRow("converting") << "converting" << dir.filePath("slow-converter") << reader
                                << QByteArray("ThreadSoftwareInfo::stopExtract=") << false;
    QTest::newRow("library call that cannot be cancelled")
        << "reading" << converter << binary(QStringLiteral("libhangingreader.so"))
        << QByteArray("ThreadSoftwareInfo::stopExtract=") << true;
}

void TestShutdown::closeEndsProcess()
{
    QFETCH(QString, mode);
    QFETCH(QString, converter);
    QFETCH(QString, reader);
    QFETCH(QByteArray, stopLine);
    QFETCH(bool, leftRunning);

    QTemporaryDir run;
    const QString program = run.filePath(QStringLiteral("program"));
    QVERIFY(QDir().mkpath(program));
    QVERIFY(QFile::copy(binary("shutdowndriver"), program + "/shutdowndriver"));
    QVERIFY(QFile::copy(converter, program + '/' + Platform::converterFileName()));
    QVERIFY(QFile::copy(reader, program + "/libVantoril.so"));

    const QString source = run.filePath(QStringLiteral("source"));
    if (mode == QLatin1String("listing")) {
        // Eight links on each of eight levels to the level below: 8^8 folders to list.
        for (int level = 0; level <= 8; ++level)
            QVERIFY(QDir().mkpath(run.filePath(QStringLiteral("level%1").arg(level))));
        for (int level = 0; level < 8; ++level) {
            for (int link = 0; link < 8; ++link)
                QVERIFY(QFile::link(run.filePath(QStringLiteral("level%1").arg(level + 1)),
                                    run.filePath(QStringLiteral("level%1/link%2").arg(level).arg(link))));
        }
        QVERIFY(QFile::link(run.filePath(QStringLiteral("level0")), source));
    } else if (mode == QLatin1String("reading")) {
        // Sparse: no disk used, yet its MD5 would take the library minutes.
        QVERIFY(QDir().mkpath(source));
        QFile huge(source + QStringLiteral("/huge.exe"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(Q_INT64_C(64) << 30));
    } else {
        QVERIFY(copyFixture(fixtures.path(), "pe32-version.exe", source + QStringLiteral("/绿色/tool.exe")));
    }
    const QString dst = run.filePath(QStringLiteral("out.xlsx"));
    QVERIFY(writeFile(dst, "old destination"));

    QProcess process;
    process.setWorkingDirectory(program);
    process.setProcessEnvironment(environment(mode, source, dst));
    process.start(program + QStringLiteral("/shutdowndriver"), QStringList());
    QVERIFY(process.waitForStarted());
    QByteArray output;
    QElapsedTimer timer;
    timer.start();
    while (!output.contains("closing\n") && process.state() == QProcess::Running && timer.elapsed() < 60000) {
        process.waitForReadyRead(100);
        output += process.readAllStandardOutput();
    }
    QVERIFY2(output.contains("closing\n"), output.constData());
    timer.restart();
    const bool ended = process.waitForFinished(endBoundMs);
    qInfo("ended %lld ms after the close", static_cast<long long>(timer.elapsed()));
    QVERIFY2(ended, "the process still runs after its window has closed");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    QCOMPARE(fileContent(dst), QByteArray("old destination"));
    QCOMPARE(temporaryFiles(program), QStringList());
    const QByteArray log = fileContent(program + QStringLiteral("/log/Pelbrook.txt"));
    QCOMPARE(log.count(stopLine), 1);
    QVERIFY2(!log.contains("ThreadScanFile::scanStop="), log.constData());
    QCOMPARE(log.count("ProduceMain::stopWorkers=left running"), leftRunning ? 1 : 0);

    // The guard is free again: a new start shows its window, not "the program has already been started".
    QProcess again;
    again.setWorkingDirectory(program);
    again.setProcessEnvironment(environment(QStringLiteral("shown"), source, dst));
    again.start(program + QStringLiteral("/shutdowndriver"), QStringList());
    QVERIFY(again.waitForFinished(endBoundMs * 2));
    QCOMPARE(again.exitCode(), 0);
    QCOMPARE(again.readAllStandardOutput(), QByteArray("window FrameMain\nclosing\n"));
}

// The next file's call may begin while the window takes a record; the log must still
// name the file a crashing call was reading, with the window well behind the reads.
void TestShutdown::crashLogNamesFileRead()
{
    QTemporaryDir run;
    const QString program = run.filePath(QStringLiteral("program"));
    const QString source = run.filePath(QStringLiteral("source"));
    QVERIFY(QDir().mkpath(program) && QDir().mkpath(source));
    QVERIFY(QFile::copy(binary("shutdowndriver"), program + "/shutdowndriver"));
    QVERIFY(QFile::copy(binary(Platform::converterFileName()), program + '/' + Platform::converterFileName()));
    QVERIFY(QFile::copy(binary(QStringLiteral("libhangingreader.so")), program + "/libVantoril.so"));
    for (int i = 1; i <= 400; ++i)
        QVERIFY(writeFile(source + QStringLiteral("/%1-%2.exe").arg(i, 3, 10, QLatin1Char('0')).arg(i == 300 ? "crash" : "quick"), "MZ"));

    QProcess process;
    process.setWorkingDirectory(program);
    process.setProcessEnvironment(environment(QStringLiteral("exporting"), source, run.filePath("out.xlsx")));
    process.start(program + QStringLiteral("/shutdowndriver"), QStringList());
    QVERIFY(process.waitForFinished(60000));
    QVERIFY(process.exitStatus() == QProcess::CrashExit || process.exitCode() != 0);
    const QByteArray log = fileContent(program + QStringLiteral("/log/Pelbrook.txt"));
    const int start = log.lastIndexOf("ThreadSoftwareInfo::run=fun start");
    QVERIFY2(start >= 0, log.right(2000).constData());
    const QByteArray line = log.mid(start, log.indexOf('\n', start) - start);
    QVERIFY2(line.contains("300-crash.exe"), line.constData());
}

QTEST_GUILESS_MAIN(TestShutdown)
#include "tst_shutdown.moc"
