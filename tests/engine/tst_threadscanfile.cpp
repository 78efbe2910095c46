#include "threadscanfile.h"

#include "platform.h"

#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The scanner's log lines, kept so tests can see them, and an optional hook that runs
// on the logging thread: tests use it to act at an exact point of a pass.
QMutex logMutex;
QStringList logLines;
std::function<void(const QString &)> logHook;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    std::function<void(const QString &)> hook;
    {
        QMutexLocker locker(&logMutex);
        logLines.append(msg);
        hook = logHook;
    }
    if (hook)
        hook(msg);
}

int countLogLines(const QString &line)
{
    QMutexLocker locker(&logMutex);
    return logLines.count(line);
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

class ScanReceiver : public QObject
{
    Q_OBJECT
public:
    QList<QList<QString>> names;
    QList<QList<QString>> paths;
    std::function<void()> onResult;

public slots:
    void on_scanPath_finish(QList<QString> fileName, QList<QString> file_fullName)
    {
        QCOMPARE(QThread::currentThread(), thread());
        names.append(fileName);
        paths.append(file_fullName);
        if (onResult)
            onResult();
    }
};

class TestThreadScanFile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void scan_data();
    void scan();
    void twoPathsOnePassEach();
    void stopCutsThePassInProgress();
    void stopCutsAnEndlessListing_data();
    void stopCutsAnEndlessListing();
    void stopOutsideAPassIsDropped_data();
    void stopOutsideAPassIsDropped();
    void pathQueuedAsTheLoopEnds();
    void namesNotUtf8();
    void filesystemRoot();

private:
    void connectScanner();
    QString makeFolder(const QString &name, int installers);

    QTemporaryDir temp;
    ThreadScanFile *scanner = nullptr;
    ScanReceiver *receiver = nullptr;
};

void TestThreadScanFile::initTestCase()
{
    QVERIFY(temp.isValid());
    qInstallMessageHandler(captureMessage);
}

void TestThreadScanFile::init()
{
    scanner = new ThreadScanFile;
    receiver = new ScanReceiver;
    connect(scanner, SIGNAL(signal_scanPath_finish(QList<QString>,QList<QString>)), receiver,
            SLOT(on_scanPath_finish(QList<QString>,QList<QString>)), Qt::BlockingQueuedConnection);
    QMutexLocker locker(&logMutex);
    logLines.clear();
}

void TestThreadScanFile::cleanup()
{
    {
        QMutexLocker locker(&logMutex);
        logHook = nullptr;
    }
    QTRY_VERIFY(scanner->isFinished() || !scanner->isRunning());
    scanner->wait();
    delete scanner;
    delete receiver;
}

QString TestThreadScanFile::makeFolder(const QString &name, int installers)
{
    const QString folder = temp.filePath(name);
    QDir().mkpath(folder);
    for (int i = 0; i < installers; ++i) {
        QFile file(folder + QStringLiteral("/setup%1.exe").arg(i, 3, 10, QLatin1Char('0')));
        file.open(QIODevice::WriteOnly);
    }
    return folder;
}

// Entries are paths below the scanned folder; a trailing "/" makes a folder,
// "link -> target" a symbolic link, and a leading "@" places the path in a folder
// outside the scanned one.
void TestThreadScanFile::scan_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("scanSuffix");
    QTest::addColumn<QStringList>("fileName");
    QTest::addColumn<QStringList>("file_fullName");

    QTest::newRow("installer extensions")
        << QStringList{"SETUP.EXE", "Tool.Msi", "readme.txt", "a.exe.bak", "x.msix", "exe"} << ""
        << QStringList{"SETUP.EXE", "Tool.Msi"} << QStringList{"SETUP.EXE", "Tool.Msi"};
    QTest::newRow("deep sub-folder")
        << QStringList{"A/B/C/x.exe"} << "" << QStringList{"A"} << QStringList{"A/B/C/x.exe"};
    QTest::newRow("one name for a folder's installers")
        << QStringList{"G/a.exe", "G/sub/b.msi", "G/sub/deeper/c.exe", "G/readme.txt"} << ""
        << QStringList{"G"} << QStringList{"G/a.exe", "G/sub/b.msi", "G/sub/deeper/c.exe"};
    QTest::newRow("folder without installers")
        << QStringList{"Docs/readme.txt", "Docs/x/y.txt", "Empty/", "one.exe"} << ""
        << QStringList{"one.exe"} << QStringList{"one.exe"};
    QTest::newRow("hidden entries")
        << QStringList{".hidden.exe", ".Hid/a.exe", "V/.h.exe", "V/.hd/b.exe", "V/c.exe", "W/.only.exe"} << ""
        << QStringList{"V"} << QStringList{"V/c.exe"};
    QTest::newRow("order ignores case")
        << QStringList{"b.exe", "A/z.msi", "c.msi"} << ""
        << QStringList{"A", "b.exe", "c.msi"} << QStringList{"A/z.msi", "b.exe", "c.msi"};
    QTest::newRow("mixed case names")
        << QStringList{"Zeta.exe", "alpha/one.exe", "Beta.MSI", "alpha/Two.exe"} << ""
        << QStringList{"alpha", "Beta.MSI", "Zeta.exe"}
        << QStringList{"alpha/one.exe", "alpha/Two.exe", "Beta.MSI", "Zeta.exe"};
    QTest::newRow("trailing slash")
        << QStringList{"b.exe", "A/z.msi"} << "/"
        << QStringList{"A", "b.exe"} << QStringList{"A/z.msi", "b.exe"};
    QTest::newRow("empty folder") << QStringList{} << "" << QStringList{} << QStringList{};
    QTest::newRow("missing folder") << QStringList{} << "/missing" << QStringList{} << QStringList{};
    // Links are followed; only one back to the folder itself or an ancestor is cut.
    QTest::newRow("link cycle")
        << QStringList{"A/x.exe", "A/loop -> .", "A/again -> A", "B/up -> A"} << ""
        << QStringList{"A", "B"} << QStringList{"A/x.exe", "B/up/x.exe"};
    QTest::newRow("link to an ancestor")
        << QStringList{"A/x.exe", "A/sub/up -> A", "A/sub/top -> ", "A/sub/y.exe"} << ""
        << QStringList{"A"} << QStringList{"A/sub/y.exe", "A/x.exe"};
    QTest::newRow("two links to one outside folder")
        << QStringList{"@ext/tool.exe", "@ext/back -> .", "L1 -> @ext", "L2 -> @ext"} << ""
        << QStringList{"L1", "L2"} << QStringList{"L1/tool.exe", "L2/tool.exe"};
    QTest::newRow("sibling link")
        << QStringList{"a_link -> z_real", "z_real/x.exe"} << ""
        << QStringList{"a_link", "z_real"} << QStringList{"a_link/x.exe", "z_real/x.exe"};
}

void TestThreadScanFile::scan()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, scanSuffix);
    QFETCH(QStringList, fileName);
    QFETCH(QStringList, file_fullName);

    QTemporaryDir caseDir;
    const QString root = caseDir.filePath(QStringLiteral("root"));
    const QString outside = caseDir.filePath(QStringLiteral("outside"));
    QVERIFY(QDir().mkpath(root));
    const auto place = [&](QString entry) {
        return entry.startsWith(QLatin1Char('@')) ? outside + QLatin1Char('/') + entry.mid(1)
                                                  : root + QLatin1Char('/') + entry;
    };
    for (const QString &entry : entries) {
        const int arrow = entry.indexOf(QLatin1String(" -> "));
        if (arrow >= 0) {
            const QString link = place(entry.left(arrow));
            QString target = entry.mid(arrow + 4);
            target = target == QLatin1String(".") ? QFileInfo(link).absolutePath() : place(target);
            QVERIFY(QDir().mkpath(QFileInfo(link).absolutePath()));
            QVERIFY2(QFile::link(target, link), qPrintable(link));
        } else if (entry.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir().mkpath(place(entry)));
        } else {
            QVERIFY(QDir().mkpath(QFileInfo(place(entry)).absolutePath()));
            QFile file(place(entry));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }
    // Links may point at folders made after them, so they are checked only now.
    for (const QString &entry : entries) {
        if (entry.contains(QLatin1String(" -> ")))
            QVERIFY(QFileInfo(place(entry.left(entry.indexOf(QLatin1String(" -> "))))).isDir());
    }

    scanner->scanPath(root + scanSuffix);
    QTRY_COMPARE(receiver->names.size(), 1);
    QCOMPARE(QStringList(receiver->names.first()), fileName);
    QStringList expectedPaths;
    for (const QString &path : file_fullName)
        expectedPaths.append(root + QLatin1Char('/') + path);
    QCOMPARE(QStringList(receiver->paths.first()), expectedPaths);
}

void TestThreadScanFile::twoPathsOnePassEach()
{
    const QString first = makeFolder(QStringLiteral("two-first"), 2);
    const QString second = makeFolder(QStringLiteral("two-second"), 3);
    QSemaphore secondQueued;
    {
        QMutexLocker locker(&logMutex);
        logHook = [&](const QString &msg) {
            if (msg == QStringLiteral("ThreadScanFile::done=path: ") + quoted(first))
                secondQueued.acquire();
        };
    }
    scanner->scanPath(first);
    scanner->scanPath(second);
    secondQueued.release();

    QTRY_COMPARE(receiver->paths.size(), 2);
    QCOMPARE(receiver->paths.at(0).size(), 2);
    QCOMPARE(receiver->paths.at(1).size(), 3);
    QVERIFY(receiver->paths.at(1).first().startsWith(second));
    QTRY_VERIFY(scanner->isFinished());
    QCOMPARE(countLogLines(QStringLiteral("ThreadScanFile::run=start")), 1);
    QCOMPARE(countLogLines(QStringLiteral("ThreadScanFile::run=end")), 1);
}

void TestThreadScanFile::stopCutsThePassInProgress()
{
    const QString big = makeFolder(QStringLiteral("stop-big"), 50);
    const QString next = makeFolder(QStringLiteral("stop-next"), 4);
    {
        QMutexLocker locker(&logMutex);
        logHook = [&](const QString &msg) {
            if (msg == QStringLiteral("ThreadScanFile::done=path: ") + quoted(big)) {
                // What the controller does when a new folder is chosen during a pass.
                scanner->scanStop();
                scanner->scanPath(next);
            }
        };
    }
    scanner->scanPath(big);

    QTRY_COMPARE(receiver->paths.size(), 2);
    QCOMPARE(receiver->names.at(0), QList<QString>{QStringLiteral("setup000.exe")});
    QCOMPARE(receiver->paths.at(0), QList<QString>{big + QStringLiteral("/setup000.exe")});
    QCOMPARE(receiver->paths.at(1).size(), 4);
    QCOMPARE(countLogLines(QStringLiteral("ThreadScanFile::run=stop")), 1);
}

void TestThreadScanFile::stopCutsAnEndlessListing_data()
{
    QTest::addColumn<bool>("all");
    QTest::newRow("a new folder chosen") << false;
    QTest::newRow("shut-down") << true;
}

void TestThreadScanFile::stopCutsAnEndlessListing()
{
    QFETCH(bool, all);
    // Eight links on each of eight levels to the level below: 8^8 folders to list.
    QTemporaryDir tree;
    for (int level = 0; level <= 8; ++level)
        QVERIFY(QDir().mkpath(tree.filePath(QStringLiteral("level%1").arg(level))));
    for (int level = 0; level < 8; ++level) {
        for (int link = 0; link < 8; ++link)
            QVERIFY(QFile::link(tree.filePath(QStringLiteral("level%1").arg(level + 1)),
                                tree.filePath(QStringLiteral("level%1/link%2").arg(level).arg(link))));
    }
    QFile installer(tree.filePath(QStringLiteral("level8/setup.exe")));
    QVERIFY(installer.open(QIODevice::WriteOnly));
    const QString root = tree.filePath(QStringLiteral("level0"));
    const QString next = makeFolder(QStringLiteral("endless-next"), 2);
    std::atomic<bool> listing{false};
    {
        QMutexLocker locker(&logMutex);
        logHook = [&](const QString &msg) {
            if (msg == QStringLiteral("ThreadScanFile::done=path: ") + quoted(root)) {
                scanner->scanPath(next);
                listing = true;
            }
        };
    }
    scanner->scanPath(root);
    QTRY_VERIFY(listing);
    QThread::msleep(200);
    if (all) {
        scanner->scanStopAll();
    } else {
        scanner->scanStop();
        scanner->scanPath(next);
    }
    QTRY_VERIFY_WITH_TIMEOUT(scanner->isFinished(), 20000);
    // The queued folder is dropped on shut-down; a new choice is scanned in full.
    QCOMPARE(receiver->paths.size(), all ? 1 : 3);
    if (!all)
        QCOMPARE(receiver->paths.last().size(), 2);
    QCOMPARE(countLogLines(QStringLiteral("ThreadScanFile::scanStopAll=")), all ? 1 : 0);
}

void TestThreadScanFile::stopOutsideAPassIsDropped_data()
{
    QTest::addColumn<bool>("whileIdle");
    QTest::newRow("while idle") << true;
    QTest::newRow("after the file loop") << false;
}

void TestThreadScanFile::stopOutsideAPassIsDropped()
{
    QFETCH(bool, whileIdle);
    const QString first = makeFolder(QStringLiteral("late-first"), 2);
    const QString second = makeFolder(QStringLiteral("late-second"), 5);
    if (whileIdle) {
        scanner->scanStop();
        scanner->scanPath(second);
        QTRY_COMPARE(receiver->paths.size(), 1);
    } else {
        bool stopped = false;
        receiver->onResult = [&] {
            if (!stopped)
                scanner->scanStop();
            stopped = true;
        };
        scanner->scanPath(first);
        scanner->scanPath(second);
        QTRY_COMPARE(receiver->paths.size(), 2);
        QCOMPARE(receiver->paths.first().size(), 2);
    }
    QCOMPARE(receiver->paths.last().size(), 5);
    QCOMPARE(countLogLines(QStringLiteral("ThreadScanFile::run=stop")), 0);
}

void TestThreadScanFile::pathQueuedAsTheLoopEnds()
{
    const QString first = makeFolder(QStringLiteral("end-first"), 1);
    const QString second = makeFolder(QStringLiteral("end-second"), 2);
    bool queued = false;
    QSemaphore queuing;
    {
        QMutexLocker locker(&logMutex);
        logHook = [&](const QString &msg) {
            if (msg != QStringLiteral("ThreadScanFile::done=path: \"\"") || queued)
                return;
            queued = true;
            // Queue from the test's thread while this one sits between its empty
            // queue and its end, which is where a path used to be stranded.
            QMetaObject::invokeMethod(receiver,
                                      [&] {
                                          queuing.release();
                                          scanner->scanPath(second);
                                      },
                                      Qt::QueuedConnection);
            queuing.acquire();
        };
    }
    scanner->scanPath(first);
    QTRY_COMPARE(receiver->paths.size(), 2);
    QCOMPARE(receiver->paths.at(1).size(), 2);
}

// GBK names as unzip leaves them: shown readably, listed with their own bytes, and a
// link to such a folder from inside it is still known for the cycle it is.
void TestThreadScanFile::namesNotUtf8()
{
    QTemporaryDir caseDir;
    const QByteArray root = QFile::encodeName(caseDir.path());
    const QByteArray folder = root + "/\xc2\xcc\xc9\xab"; // 绿色
    QCOMPARE(::mkdir(folder.constData(), 0700), 0);
    for (const QByteArray &file : {root + "/\xb0\xb2\xd7\xb0.exe", folder + "/a.exe"}) { // 安装.exe
        const int fd = ::creat(file.constData(), 0600);
        QVERIFY(fd >= 0);
        ::close(fd);
    }
    QCOMPARE(::symlink(folder.constData(), (folder + "/loop").constData()), 0);

    scanner->scanPath(Platform::decodeFileName(root));
    QTRY_COMPARE(receiver->names.size(), 1);
    QCOMPARE(QStringList(receiver->names.first()), QStringList({"安装.exe", "绿色"}));
    QStringList paths;
    for (const QString &path : receiver->paths.first())
        paths.append(QString::fromLatin1(Platform::encodeFileName(path).mid(root.size()).toHex()));
    QCOMPARE(paths, QStringList({"2fb0b2d7b02e657865", "2fc2ccc9ab2f612e657865"}));
}

// The scanner runs in a chroot so that "/" is a folder the test controls; the
// helper and the libraries it needs are copied in first.
void TestThreadScanFile::filesystemRoot()
{
    if (geteuid() != 0)
        QSKIP("needs root for chroot");
    const QString jail = temp.filePath(QStringLiteral("jail"));
    const QString helper = QCoreApplication::applicationDirPath() + QStringLiteral("/scanroot");
    QVERIFY(QDir().mkpath(jail));
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {helper});
    QVERIFY(ldd.waitForFinished());
    const QRegularExpression library(QStringLiteral("(/\\S+) \\(0x"));
    QStringList copies{helper};
    for (const QString &line : QString::fromLocal8Bit(ldd.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = library.match(line);
        if (match.hasMatch())
            copies.append(match.captured(1));
    }
    QVERIFY(copies.size() > 2);
    for (const QString &file : copies) {
        const QString target = jail + (file == helper ? QStringLiteral("/scanroot") : file);
        QVERIFY(QDir().mkpath(QFileInfo(target).absolutePath()));
        QVERIFY2(QFile::copy(file, target), qPrintable(file));
        QFile::setPermissions(target, QFile::permissions(file));
    }
    for (const char *file : {"A/x.exe", "A/B/c.exe", "b.msi", ".hidden/h.exe", "z.txt"}) {
        const QString path = jail + QLatin1Char('/') + QLatin1String(file);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile(path).open(QIODevice::WriteOnly);
    }

    QProcess chroot;
    chroot.start(QStringLiteral("chroot"), {jail, QStringLiteral("/scanroot"), QStringLiteral("/")});
    QVERIFY(chroot.waitForFinished());
    QCOMPARE(chroot.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(chroot.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             QStringList({"name A", "name b.msi", "path /A/B/c.exe", "path /A/x.exe", "path /b.msi"}));
}

QTEST_GUILESS_MAIN(TestThreadScanFile)
#include "tst_threadscanfile.moc"
