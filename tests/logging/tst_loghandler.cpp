#include "helperprocess.h"

#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const qint64 rotationSize = 1048576;
const QString lineTail = QStringLiteral(" (:0, )\r\n");

QString linePattern(const QString &prefix, const QString &text)
{
    return QStringLiteral("^%1: \\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]%2 \\(:0, \\)$")
        .arg(prefix, text);
}

} // namespace

class TestLogHandler : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void lineFormat_data();
    void lineFormat();
    void fatalAborts();
    void rotation_data();
    void rotation();
    void threadsWriteWholeLines();
    void twoProcessesWriteWholeLines();
    void dataFolderAtStart();
    void dataFolderWhileRunning_data();
    void dataFolderWhileRunning();
    void plantedLogPlaces_data();
    void plantedLogPlaces();

private:
    QProcessEnvironment writerEnvironment() const;
    QProcess *startWriter(const QStringList &arguments);
    void checkAllLines(const QStringList &texts, int threads, int lines);
    bool prepareFolders(bool programWritable);
    QProcess *startSteppedWriter(int lines);
    void setProgramFolderWritable(bool writable);
    QString programFolder() const { return folder->filePath(QStringLiteral("program")); }
    QString userLogFolder() const { return folder->filePath(QStringLiteral("data/logwriter/log")); }

    std::unique_ptr<QTemporaryDir> folder;
    QString writer;
};

void TestLogHandler::init()
{
    folder.reset(new QTemporaryDir);
    QVERIFY(folder->isValid());
    writer = copyHelper(QStringLiteral("logwriter"), folder->path());
    QVERIFY(!writer.isEmpty());
}

// A plain ASCII locale, as in CI: Chinese text must still arrive intact. The user's
// folders are the test's own, so that a writer that falls back to them never shares
// a log with another test running at the same time.
QProcessEnvironment TestLogHandler::writerEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.insert(QStringLiteral("HOME"), folder->filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), folder->filePath(QStringLiteral("data")));
    return environment;
}

QProcess *TestLogHandler::startWriter(const QStringList &arguments)
{
    QProcess *process = new QProcess(this);
    process->setProcessEnvironment(writerEnvironment());
    process->start(writer, arguments);
    return process;
}

void TestLogHandler::lineFormat_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("start marker") << "debug" << "Mark=2022-06-15" << "Debug";
    QTest::newRow("info") << "info" << "ThreadSoftwareInfo::run=start" << "Info";
    QTest::newRow("warning") << "warning" << "some warning" << "Warning";
    QTest::newRow("critical") << "critical" << "some error" << "Critical";
    QTest::newRow("chinese text") << "debug" << QStringLiteral("程序已启动") << "Debug";
}

void TestLogHandler::lineFormat()
{
    QFETCH(QString, type);
    QFETCH(QString, text);
    QFETCH(QString, prefix);

    const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
    std::unique_ptr<QProcess> process(startWriter({type, "1", "1", text}));
    QVERIFY(process->waitForFinished(-1));
    QCOMPARE(process->exitCode(), 0);

    const QByteArray log = readLog(folder->path());
    QVERIFY2(log.endsWith("\r\n") && log.count('\n') == 1, log.constData());
    const QString line = QString::fromUtf8(log.left(log.size() - 2));
    QVERIFY2(QRegularExpression(linePattern(prefix, text)).match(line).hasMatch(), qPrintable(line));
    const QDateTime stamp = QDateTime::fromString(line.mid(prefix.size() + 3, 23),
                                                  QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    QVERIFY(stamp >= before && stamp <= QDateTime::currentDateTime());
}

void TestLogHandler::fatalAborts()
{
    std::unique_ptr<QProcess> process(startWriter({"fatal", "1", "1", "cannot go on"}));
    QVERIFY(process->waitForFinished(-1));
    QCOMPARE(process->exitStatus(), QProcess::CrashExit);
    QCOMPARE(process->exitCode(), SIGABRT);
    const QString line = QString::fromUtf8(readLog(folder->path())).trimmed();
    QVERIFY2(QRegularExpression(linePattern("Fatal", "cannot go on")).match(line).hasMatch(), qPrintable(line));
}

void TestLogHandler::rotation_data()
{
    QTest::addColumn<qint64>("liveSize");
    QTest::addColumn<int>("rotatedBefore");
    QTest::addColumn<bool>("rotates");
    QTest::addColumn<int>("rotatedAfter");
    QTest::newRow("one byte short") << rotationSize - 1 << 2 << false << 2;
    QTest::newRow("full, none rotated yet") << rotationSize << 0 << true << 1;
    QTest::newRow("full, three rotated") << rotationSize << 3 << true << 4;
    QTest::newRow("full, four rotated") << rotationSize << 4 << true << 4;
    QTest::newRow("full, six left by an older copy") << rotationSize << 6 << true << 4;
}

void TestLogHandler::rotation()
{
    QFETCH(qint64, liveSize);
    QFETCH(int, rotatedBefore);
    QFETCH(bool, rotates);
    QFETCH(int, rotatedAfter);

    QDir logFolder(folder->filePath(QStringLiteral("log")));
    QVERIFY(logFolder.mkpath(QStringLiteral(".")));
    const auto writeFile = [&](const QString &name, const QByteArray &content) {
        QFile file(logFolder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    const QByteArray liveContent(int(liveSize), 'x');
    writeFile(QStringLiteral("Pelbrook.txt"), liveContent);
    QStringList rotated;
    for (int i = 0; i < rotatedBefore; ++i) {
        // Oldest last in creation order, so deletion cannot follow the listing order.
        rotated.prepend(QStringLiteral("Pelbrook2021010100000%1.txt").arg(rotatedBefore - 1 - i));
        writeFile(rotated.first(), "old");
    }
    const QStringList foreign{"pelbrook20000101000000.txt", "PELBROOK20000101000000.txt", "PelbrookNotes.txt",
                              "Pelbrook20000101000000.txt.bak", "Pelbrook.txt.old", "other.txt"};
    for (const QString &name : foreign)
        writeFile(name, name.toUtf8());

    const QString before = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));
    std::unique_ptr<QProcess> process(startWriter({"debug", "1", "1", "after"}));
    QVERIFY(process->waitForFinished(-1));
    const QString after = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));

    for (const QString &name : foreign) {
        QFile file(logFolder.filePath(name));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(name));
        QCOMPARE(file.readAll(), name.toUtf8());
    }
    const QStringList rotatedNow = logFolder.entryList({"Pelbrook2*.txt"}, QDir::Files | QDir::CaseSensitive, QDir::Name);
    QCOMPARE(rotatedNow.size(), rotatedAfter);
    const QByteArray live = readLog(folder->path());
    QVERIFY(live.endsWith("]after" + lineTail.toUtf8()));
    if (!rotates) {
        QCOMPARE(live.left(int(liveSize)), liveContent);
        QCOMPARE(rotatedNow, rotated);
        return;
    }
    QCOMPARE(live.count('\n'), 1);
    const QString newest = rotatedNow.last();
    const QString stamp = newest.mid(8, 14);
    QVERIFY2(stamp >= before && stamp <= after, qPrintable(newest));
    QFile rotatedLive(logFolder.filePath(newest));
    QVERIFY(rotatedLive.open(QIODevice::ReadOnly));
    QCOMPARE(rotatedLive.readAll(), liveContent);
    // The newest of the older files remain.
    QCOMPARE(rotatedNow.mid(0, rotatedAfter - 1), rotated.mid(rotated.size() - (rotatedAfter - 1)));
}

// Reads every log file, oldest first, and checks that each line is whole and that
// every writer's lines all arrived, in order.
void TestLogHandler::checkAllLines(const QStringList &texts, int threads, int lines)
{
    QDir logFolder(folder->filePath(QStringLiteral("log")));
    QStringList names = logFolder.entryList({"Pelbrook2*.txt"}, QDir::Files | QDir::CaseSensitive, QDir::Name);
    names.append(QStringLiteral("Pelbrook.txt"));
    QVERIFY(names.size() >= 2);
    QHash<QString, int> nextLine;
    int total = 0;
    const QRegularExpression pattern(linePattern("Debug", "(\\w+)_x+ (\\d+) (\\d+)"));
    for (const QString &name : names) {
        QFile file(logFolder.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        if (name != QLatin1String("Pelbrook.txt"))
            QVERIFY2(content.size() >= rotationSize, qPrintable(name));
        QVERIFY(content.endsWith("\r\n"));
        for (const QByteArray &line : content.left(content.size() - 1).split('\n')) {
            QVERIFY2(line.endsWith('\r'), line.left(200).constData());
            const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(line.chopped(1)));
            QVERIFY2(match.hasMatch(), line.left(200).constData());
            const QString writer = match.captured(1) + QLatin1Char(' ') + match.captured(2);
            QCOMPARE(match.captured(3).toInt(), nextLine.value(writer));
            nextLine[writer] = match.captured(3).toInt() + 1;
            ++total;
        }
    }
    QCOMPARE(total, texts.size() * threads * lines);
    for (const QString &text : texts) {
        for (int t = 0; t < threads; ++t)
            QCOMPARE(nextLine.value(text + QStringLiteral(" %1").arg(t)), lines);
    }
}

// Long lines, so that the run crosses the rotation size while threads write.
void TestLogHandler::threadsWriteWholeLines()
{
    const QString text = QStringLiteral("one_") + QString(700, QLatin1Char('x'));
    std::unique_ptr<QProcess> process(startWriter({"debug", "4", "400", text}));
    QVERIFY(process->waitForFinished(-1));
    QCOMPARE(process->exitCode(), 0);
    checkAllLines({"one"}, 4, 400);
}

void TestLogHandler::twoProcessesWriteWholeLines()
{
    std::unique_ptr<QProcess> first(startWriter({"debug", "2", "400", "first_" + QString(700, 'x')}));
    std::unique_ptr<QProcess> second(startWriter({"debug", "2", "400", "second_" + QString(700, 'x')}));
    QVERIFY(first->waitForFinished(-1));
    QVERIFY(second->waitForFinished(-1));
    QCOMPARE(first->exitCode(), 0);
    QCOMPARE(second->exitCode(), 0);
    checkAllLines({"first", "second"}, 2, 400);
}

namespace {

const uint nobody = 65534;

bool changeOwner(const QString &path, uint owner)
{
    return chown(QFile::encodeName(path).constData(), owner, owner) == 0;
}

QStringList entries(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

// The writer runs as an unprivileged user from its own program folder, with a data
// folder of its own for the fallback.
bool TestLogHandler::prepareFolders(bool programWritable)
{
    const QString data = folder->filePath(QStringLiteral("data"));
    if (!QDir().mkpath(programFolder()) || !QDir().mkpath(data)
        || !QFile::rename(writer, programFolder() + QStringLiteral("/logwriter")))
        return false;
    writer = programFolder() + QStringLiteral("/logwriter");
    const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
        | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    if (!QFile::setPermissions(folder->path(), open) || !QFile::setPermissions(programFolder(), open)
        || !changeOwner(data, nobody))
        return false;
    setProgramFolderWritable(programWritable);
    return true;
}

void TestLogHandler::setProgramFolderWritable(bool writable)
{
    QVERIFY(changeOwner(programFolder(), writable ? nobody : 0));
}

QProcess *TestLogHandler::startSteppedWriter(int lines)
{
    QProcess *process = new QProcess(this);
    process->setProcessEnvironment(writerEnvironment());
    process->start(QStringLiteral("setpriv"), {"--reuid=65534", "--regid=65534", "--clear-groups", writer,
                                               "stepped", "1", QString::number(lines), "line"});
    return process;
}

// A program folder the user cannot write to sends the log to the user's data folder
// and leaves the program folder as it was.
void TestLogHandler::dataFolderAtStart()
{
    if (geteuid() != 0)
        QSKIP("needs root to run the writer as another user");
    QVERIFY(prepareFolders(false));
    std::unique_ptr<QProcess> process(startSteppedWriter(2));
    QVERIFY(process->waitForReadyRead(-1));
    process->write("\n");
    QVERIFY(process->waitForFinished(-1));
    QCOMPARE(process->exitCode(), 0);
    QCOMPARE(entries(programFolder()), QStringList{"logwriter"});
    const QByteArray log = readLog(userLogFolder() + QStringLiteral("/.."));
    QCOMPARE(log.count('\n'), 2);
    QVERIFY(log.contains("]line 1 (:0, )\r\n"));
}

void TestLogHandler::dataFolderWhileRunning_data()
{
    QTest::addColumn<bool>("deleteLogFolder");
    QTest::addColumn<bool>("programFolderWritable");
    QTest::addColumn<bool>("inProgramFolder");
    QTest::newRow("log folder deleted: made again") << true << true << true;
    // The folder is not tested again while writing to it works.
    QTest::newRow("program folder turned read-only, log folder kept") << false << false << true;
    QTest::newRow("program folder turned read-only, log folder deleted") << true << false << false;
}

// Between two lines of one run the test deletes the log folder, takes the program
// folder away from the user, or both.
void TestLogHandler::dataFolderWhileRunning()
{
    QFETCH(bool, deleteLogFolder);
    QFETCH(bool, programFolderWritable);
    QFETCH(bool, inProgramFolder);
    if (geteuid() != 0)
        QSKIP("needs root to run the writer as another user");
    QVERIFY(prepareFolders(true));
    std::unique_ptr<QProcess> process(startSteppedWriter(2));
    QVERIFY(process->waitForReadyRead(-1));
    process->readAll();
    const QString programLog = programFolder() + QStringLiteral("/log");
    QVERIFY(readLog(programFolder()).endsWith("]line 0 (:0, )\r\n"));
    if (deleteLogFolder)
        QVERIFY(QDir(programLog).removeRecursively());
    setProgramFolderWritable(programFolderWritable);
    process->write("\n");
    QVERIFY(process->waitForFinished(-1));
    QCOMPARE(process->exitCode(), 0);

    const QByteArray programContent = readLog(programFolder());
    const QByteArray userContent = readLog(userLogFolder() + QStringLiteral("/.."));
    const QByteArray second = "]line 1 (:0, )\r\n";
    QCOMPARE(programContent.endsWith(second), inProgramFolder);
    QCOMPARE(userContent.endsWith(second), !inProgramFolder);
    QCOMPARE(programContent.count('\n') + userContent.count('\n'), deleteLogFolder ? 1 : 2);
    // Only the log folder, no file left from deciding where to write.
    QCOMPARE(entries(programFolder()), inProgramFolder || !deleteLogFolder ? QStringList({"log", "logwriter"})
                                                                          : QStringList{"logwriter"});
}

void TestLogHandler::plantedLogPlaces_data()
{
    QTest::addColumn<mode_t>("programMode");
    QTest::addColumn<bool>("programOfOtherUser");
    QTest::addColumn<QString>("planting"); // run by nobody in the program folder; $TARGET is root's file
    QTest::addColumn<bool>("inUserFolder"); // else the line is lost, never written through the link

    QTest::newRow("log folder a link, in a program folder others may write")
        << mode_t(0777) << false << "ln -s \"$(dirname \"$TARGET\")\" log" << true;
    QTest::newRow("live file a link, in a program folder of another user's")
        << mode_t(0755) << true << "mkdir log; ln -s \"$TARGET\" log/Pelbrook.txt" << true;
    QTest::newRow("live file a link, in a log folder others may write")
        << mode_t(0755) << false << "ln -s \"$TARGET\" log/Pelbrook.txt" << false;
}

// Root runs the program from a folder where another user may have planted a link in
// the place of its log folder or live file.
void TestLogHandler::plantedLogPlaces()
{
    QFETCH(mode_t, programMode);
    QFETCH(bool, programOfOtherUser);
    QFETCH(QString, planting);
    QFETCH(bool, inUserFolder);
    if (geteuid() != 0)
        QSKIP("needs root to plant as another user");

    QVERIFY(chmod(QFile::encodeName(folder->path()).constData(), 0755) == 0);
    QVERIFY(QDir().mkpath(programFolder()) && QDir().mkpath(folder->filePath(QStringLiteral("root-private"))));
    QVERIFY(chmod(QFile::encodeName(folder->filePath(QStringLiteral("root-private"))).constData(), 0700) == 0);
    QVERIFY(QFile::rename(writer, programFolder() + QStringLiteral("/logwriter")));
    writer = programFolder() + QStringLiteral("/logwriter");
    QVERIFY(chmod(QFile::encodeName(programFolder()).constData(), programMode) == 0);
    if (programOfOtherUser)
        QVERIFY(changeOwner(programFolder(), nobody));
    // A log folder others may write: root's own, left open by mistake.
    if (!inUserFolder) {
        QVERIFY(QDir(programFolder()).mkdir(QStringLiteral("log")));
        QVERIFY(chmod(QFile::encodeName(programFolder() + QStringLiteral("/log")).constData(), 0777) == 0);
    }
    const QString target = folder->filePath(QStringLiteral("root-private/Pelbrook.txt"));
    QFile precious(target);
    QVERIFY(precious.open(QIODevice::WriteOnly) && precious.write("root's own file\n") > 0);
    precious.close();
    const QString script = QStringLiteral("cd '%1'; TARGET='%2'; %3").arg(programFolder(), target, planting);
    QCOMPARE(QProcess::execute(QStringLiteral("setpriv"),
                               {"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-ec", script}),
             0);

    std::unique_ptr<QProcess> process(startWriter({"debug", "1", "1", "planted"}));
    QVERIFY(process->waitForFinished(-1));
    QCOMPARE(process->exitCode(), 0);

    QFile targetAfter(target);
    QVERIFY(targetAfter.open(QIODevice::ReadOnly));
    QCOMPARE(targetAfter.readAll(), QByteArray("root's own file\n"));
    QCOMPARE(QDir(folder->filePath(QStringLiteral("root-private"))).entryList(QDir::Files), QStringList{"Pelbrook.txt"});
    QCOMPARE(readLog(userLogFolder() + QStringLiteral("/..")).endsWith("]planted (:0, )\r\n"), inUserFolder);
}

QTEST_GUILESS_MAIN(TestLogHandler)
#include "tst_loghandler.moc"
