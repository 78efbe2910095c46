#include "helperprocess.h"

#include <QSharedMemory>
#include <QtTest>

#include <unistd.h>

// Runs the program's own start-up (with a driver that closes its windows on request)
// as real processes. TMPDIR is private to each test, so the guard, whose key file
// lives there, and the reader library's log file are the test's own.
class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void secondCopyIsRefused();
    void startAfterAKilledCopy();
    void readerLogElsewhereIsRemoved();

private:
    QProcess *startCopy(const QString &name);
    bool waitForLine(QProcess *process, const QString &line);
    void closeCopy(QProcess *process, const QString &name);

    std::unique_ptr<QTemporaryDir> folder;
    QTemporaryDir runtimeFolder;
    QString program;
    QString readerLog;
    QList<QProcess *> copies;
};

void TestSingleInstance::init()
{
    folder.reset(new QTemporaryDir);
    QVERIFY(folder->isValid());
    program = copyHelper(QStringLiteral("pelbrookdriver"), folder->path());
    QVERIFY(!program.isEmpty());
    readerLog = folder->filePath(QStringLiteral("tarsel/Vantoril.log"));
    QVERIFY(QDir().mkpath(QFileInfo(readerLog).absolutePath()));
    QFile file(readerLog);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

void TestSingleInstance::cleanup()
{
    for (QProcess *process : copies) {
        process->kill();
        process->waitForFinished();
    }
    qDeleteAll(copies);
    copies.clear();
    // A copy killed by a failed test leaves its segment; the last detach removes it.
    const QByteArray tmpdir = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(folder->path()));
    QSharedMemory guard(QStringLiteral("Pelbrook_v1.0"));
    if (guard.attach(QSharedMemory::ReadOnly))
        guard.detach();
    if (tmpdir.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", tmpdir);
}

// Each copy gets its own current folder, where its close request is placed.
QProcess *TestSingleInstance::startCopy(const QString &name)
{
    const QString workFolder = folder->filePath(name);
    QDir().mkpath(workFolder);
    QProcess *process = new QProcess;
    copies.append(process);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("TMPDIR"), folder->path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder.path());
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(workFolder);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, QStringList());
    return process;
}

bool TestSingleInstance::waitForLine(QProcess *process, const QString &line)
{
    QDeadlineTimer deadline(20000);
    QString output;
    while (!deadline.hasExpired()) {
        process->waitForReadyRead(100);
        output += QString::fromUtf8(process->readAll());
        if (output.split(QLatin1Char('\n')).contains(line))
            return true;
        if (process->state() == QProcess::NotRunning)
            break;
    }
    qWarning() << "output so far:" << output;
    return false;
}

void TestSingleInstance::closeCopy(QProcess *process, const QString &name)
{
    QFile request(folder->filePath(name + QStringLiteral("/close-request")));
    QVERIFY(request.open(QIODevice::WriteOnly));
    request.close();
    QVERIFY(process->waitForFinished(20000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
}

void TestSingleInstance::secondCopyIsRefused()
{
    QProcess *first = startCopy(QStringLiteral("first"));
    QVERIFY(waitForLine(first, QStringLiteral("window FrameMain")));

    for (const QString &name : {QStringLiteral("second"), QStringLiteral("third")}) {
        QProcess *other = startCopy(name);
        QVERIFY(waitForLine(other, QStringLiteral("modal 提示|程序已启动")));
        closeCopy(other, name);
        QVERIFY(!QString::fromUtf8(other->readAll()).contains(QStringLiteral("window")));
        QVERIFY(QFile::exists(readerLog));
        QCOMPARE(first->state(), QProcess::Running);
    }

    closeCopy(first, QStringLiteral("first"));
    QVERIFY(!QFile::exists(readerLog));

    const QStringList lines = QString::fromUtf8(readLog(folder->path())).split(QStringLiteral("\r\n"));
    const QRegularExpression marker(QStringLiteral("^Debug: \\[.{23}\\]Mark=2022-06-15 \\(:0, \\)$"));
    QCOMPARE(lines.filter(marker).size(), 3);
    QVERIFY(marker.match(lines.first()).hasMatch());
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("\\]Has running \\(:0, \\)$"))).size(), 2);
}

void TestSingleInstance::startAfterAKilledCopy()
{
    QProcess *killed = startCopy(QStringLiteral("killed"));
    QVERIFY(waitForLine(killed, QStringLiteral("window FrameMain")));
    killed->kill();
    QVERIFY(killed->waitForFinished());

    QProcess *next = startCopy(QStringLiteral("next"));
    QVERIFY(waitForLine(next, QStringLiteral("window FrameMain")));
    closeCopy(next, QStringLiteral("next"));
    QVERIFY(!QString::fromUtf8(readLog(folder->path())).contains(QStringLiteral("Has running")));
}

// The library's usual folder belongs to another user, so the library logged into the
// user's private folder: that file is the one removed at exit; the other user's is not touched.
void TestSingleInstance::readerLogElsewhereIsRemoved()
{
    if (geteuid() != 0)
        QSKIP("needs root to give a folder to another user");
    const QString planted = QFileInfo(readerLog).path();
    QVERIFY(chown(QFile::encodeName(planted).constData(), 65534, 65534) == 0);
    const QString written = runtimeFolder.filePath(QStringLiteral("tarsel/Vantoril.log"));
    QVERIFY(QDir().mkpath(QFileInfo(written).path()));
    QFile file(written);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    QProcess *copy = startCopy(QStringLiteral("only"));
    QVERIFY(waitForLine(copy, QStringLiteral("window FrameMain")));
    closeCopy(copy, QStringLiteral("only"));
    QVERIFY(!QFile::exists(written));
    QVERIFY(QFile::exists(readerLog));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
