#include "exportfixtures.h"
#include "threadscanfile.h"
#include "threadsoftwareinfo.h"
#include "workbookreader.h"

#include "exportrecord.h"
#include "platform.h"
#include "readerlibrary.h"
#include "runlock.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Set once the worker has handed a file to the library.
std::atomic<bool> libraryCalled{false};
QtMessageHandler previousHandler = nullptr;

void watchMessages(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (msg.startsWith(QLatin1String("ThreadSoftwareInfo::run=fun start")))
        libraryCalled = true;
    previousHandler(type, context, msg);
}

QStringList readerLogNotes;

void collectReaderLogNotes(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    if (msg.startsWith(QLatin1String("ReaderLibrary::load=library log moved")))
        readerLogNotes.append(msg);
}

} // namespace

// Collects the worker's reports on the test thread, over the connection the program uses.
class ExportReceiver : public QObject
{
    Q_OBJECT
public:
    QList<QStringList> records;
    QList<QPair<int, QString>> failures;
    std::function<void(int)> onRecord;

public slots:
    void on_pelbrook(int index, int count, QString srcPath, QString qStrDigitalSign, QString qProductName,
                     QString qProcessName, QString qOriginalFileName, QString qFileCustomMd5, QString parentDir_md5,
                     QString qFileDescription)
    {
        records.append({QString::number(index), QString::number(count), srcPath, qStrDigitalSign, qProductName,
                        qProcessName, qOriginalFileName, qFileCustomMd5, parentDir_md5, qFileDescription});
        if (onRecord)
            onRecord(index);
    }
    void on_extractFailed(int reason, QString path) { failures.append({reason, path}); }
};

class TestThreadSoftwareInfo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void wholeExport();
    void emptyList();
    void sourceFolderMissing();
    void temporaryFilesInUse();
    void destinationUnwritable();
    void tooLongPathSkipped();
    void stopAfterFileInProgress();
    void stopCutsLibraryCall();
    void namesNotUtf8();
    void secondStartKeepsRunningInputs();
    void readerLogMovedSaidOnce();

private:
    QString path(const QString &relative) const { return src + QLatin1Char('/') + relative; }
    // Starts a run and waits until the thread has ended.
    void runExport(const QString &source, const QString &destination, const QList<QString> &files);

    QTemporaryDir dir;
    QTemporaryDir fixtures;
    QString src;
    ThreadSoftwareInfo *worker = nullptr;
    ExportReceiver *receiver = nullptr;
};

void TestThreadSoftwareInfo::initTestCase()
{
    QVERIFY(dir.isValid() && fixtures.isValid());
    QVERIFY(makeFixtures(fixtures.path()));
    // The reader keeps its own log below the temporary folder; keep it inside this test's folder.
    qputenv("TMPDIR", dir.path().toUtf8());
    src = dir.filePath(QStringLiteral("软件 src"));
    QVERIFY(copyFixture(fixtures.path(), "quoted.exe", path("__Tool++ 7.9.exe")));
    QVERIFY(writeFile(path("notes.txt"), "not an installer"));
    QVERIFY(copyFixture(fixtures.path(), "signed-sha256.exe", path("A/x.exe")));
    QVERIFY(copyFixture(fixtures.path(), "original-only.exe", path("A/w.exe")));
    QVERIFY(copyFixture(fixtures.path(), "product.msi", path("A/y.msi")));
    QVERIFY(writeFile(path("B/readme.txt"), "no installer here"));
    QVERIFY(copyFixture(fixtures.path(), "pe-noversion.exe", path("C/sub/z.exe")));
}

void TestThreadSoftwareInfo::init()
{
    worker = new ThreadSoftwareInfo;
    receiver = new ExportReceiver;
    connect(worker, SIGNAL(signal_softwareInfoProgress(int,int,QString,QString,QString,QString,QString,QString,QString,QString)),
            receiver, SLOT(on_pelbrook(int,int,QString,QString,QString,QString,QString,QString,QString,QString)),
            Qt::BlockingQueuedConnection);
    connect(worker, SIGNAL(signal_extractFailed(int,QString)), receiver, SLOT(on_extractFailed(int,QString)),
            Qt::BlockingQueuedConnection);
}

void TestThreadSoftwareInfo::cleanup()
{
    QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished() || !worker->isRunning(), 60000);
    delete worker;
    delete receiver;
    QCOMPARE(temporaryFiles(Platform::writableDataFolder()), QStringList());
}

void TestThreadSoftwareInfo::runExport(const QString &source, const QString &destination, const QList<QString> &files)
{
    worker->startExtract(source, destination, files);
    QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 60000);
}

void TestThreadSoftwareInfo::wholeExport()
{
    const QString dst = dir.filePath(QStringLiteral("导出.xlsx"));
    QVERIFY(writeFile(dst, "old destination"));
    runExport(src, dst,
              {path("__Tool++ 7.9.exe"), path("A/x.exe"), path("notes.txt"), path("C/sub/z.exe"), path("A/w.exe"),
               path("A/y.msi")});

    const QString idA = md5Hex((src + "/A").toUtf8());
    const QString idC = md5Hex((src + "/C").toUtf8());
    const QString md5Tool = md5Hex(fileContent(path("__Tool++ 7.9.exe")));
    const QString md5X = md5Hex(fileContent(path("A/x.exe")));
    const QString md5Z = md5Hex(fileContent(path("C/sub/z.exe")));
    const QString md5W = md5Hex(fileContent(path("A/w.exe")));
    const QString md5Y = md5Hex(fileContent(path("A/y.msi")));

    // The non-installer keeps its place in the numbering but gets no record. Values are
    // the fixtures' own; quoting drops the "?" and doubles the quotes.
    const QList<QStringList> records = {
        {"1", "7", path("__Tool++ 7.9.exe"), "\"\"", "\"办公 \"\"软件\"\", 第2版\"", "\"__Tool++ 7.9.exe\"",
         "\"quoted.exe\"", '"' + md5Tool + '"', "", "\"说明, 带逗号\""},
        {"2", "7", path("A/x.exe"), "\"测试签名者 Test Signer\"", "\"测试产品 Test\"", "\"x.exe\"", "\"原始名.exe\"",
         '"' + md5X + '"', idA, "\"中文描述\""},
        {"4", "7", path("C/sub/z.exe"), "\"\"", "\"\"", "\"z.exe\"", "\"\"", '"' + md5Z + '"', idC, "\"\""},
        {"5", "7", path("A/w.exe"), "\"\"", "\"\"", "\"w.exe\"", "\"only-original.exe\"", '"' + md5W + '"', idA,
         "\"\""},
        {"6", "7", path("A/y.msi"), "\"\"", "\"Tarsel Sample Product\"", "\"y.msi\"", "\"\"", '"' + md5Y + '"', idA,
         "\"Sample comments text\""},
        {"7", "7", "", "", "", "", "", "", "", ""},
    };
    QCOMPARE(receiver->records, records);
    QVERIFY(worker->isCopySucceeded());
    QCOMPARE(worker->outcome().tooLong, 0);

    const QList<QStringList> rows = workbookRows(readWorkbook(dst));
    const QList<QStringList> expected = {
        headerTexts(),
        {"", "", "", "Tool_7.9.exe", "说明, 带逗号", "", "否", "办公 \"软件\", 第2版", "否", "__Tool++ 7.9.exe", "否",
         "quoted.exe", "否", md5Tool, "是", "否", "", "", "否", "是", "否", "否", "否"},
        {"", "", "", "x.exe", "中文描述", "测试签名者 Test Signer", "否", "测试产品 Test", "否", "x.exe", "否",
         "原始名.exe", "否", md5X, "是", "否", idA, "", "否", "是", "否", "否", "否"},
        {"", "", "", "z.exe", "", "", "否", "", "否", "z.exe", "否", "", "否", md5Z, "是", "否", idC, "", "否", "否",
         "否", "否", "是"},
        {"", "", "", "w.exe", "", "", "否", "", "否", "w.exe", "否", "only-original.exe", "否", md5W, "是", "否", idA,
         "", "否", "否", "否", "是", "否"},
        {"", "", "", "y.msi", "Sample comments text", "", "否", "Tarsel Sample Product", "否", "y.msi", "否", "", "否",
         md5Y, "是", "否", idA, "", "否", "是", "否", "否", "否"},
        // Folder rows in the order of their first file; B, without installers, has none.
        {"", "", "", "A", "", "", "", "", "", "", "", "", "", "", "", "是", "", idA},
        {"", "", "", "C", "", "", "", "", "", "", "", "", "", "", "", "是", "", idC},
    };
    QCOMPARE(rows, expected);
}

void TestThreadSoftwareInfo::emptyList()
{
    const QString dst = dir.filePath(QStringLiteral("empty.xlsx"));
    runExport(src, dst, {});
    QCOMPARE(receiver->records, QList<QStringList>({{"1", "1", "", "", "", "", "", "", "", ""}}));
    QVERIFY(worker->isCopySucceeded());
    QCOMPARE(workbookRows(readWorkbook(dst)), QList<QStringList>({headerTexts()}));
}

void TestThreadSoftwareInfo::sourceFolderMissing()
{
    const QString dst = dir.filePath(QStringLiteral("kept.xlsx"));
    QVERIFY(writeFile(dst, "old destination"));
    const QString missing = dir.filePath(QStringLiteral("gone"));
    runExport(missing, dst, {missing + QStringLiteral("/a.exe")});
    QCOMPARE(receiver->records, QList<QStringList>());
    QCOMPARE(receiver->failures, (QList<QPair<int, QString>>{{ExportOutcome::SourceFolderMissing, missing}}));
    QCOMPARE(fileContent(dst), QByteArray("old destination"));
}

// Another process (the other front end) holds the temporary files: refused before any
// file is read, the destination and that process's files left alone.
void TestThreadSoftwareInfo::temporaryFilesInUse()
{
    const QString dst = dir.filePath(QStringLiteral("kept.xlsx"));
    QVERIFY(writeFile(dst, "old destination"));
    const QString dataFolder = Platform::writableDataFolder();
    RunLock otherExport(ExportRecord::temporaryFilesLockPath());
    QVERIFY(otherExport.tryLock());
    runExport(src, dst, {path("A/x.exe")});
    QCOMPARE(receiver->records, QList<QStringList>());
    QCOMPARE(receiver->failures, (QList<QPair<int, QString>>{{ExportOutcome::TempFilesInUse, dataFolder}}));
    QCOMPARE(fileContent(dst), QByteArray("old destination"));
}

// Refused before any file is read, rather than after the whole folder.
void TestThreadSoftwareInfo::destinationUnwritable()
{
    // A folder that cannot exist: its parent is a regular file.
    const QString dst = path("notes.txt") + QStringLiteral("/out.xlsx");
    runExport(src, dst, {path("A/x.exe")});
    QCOMPARE(receiver->records, QList<QStringList>());
    QCOMPARE(receiver->failures,
             (QList<QPair<int, QString>>{{ExportOutcome::DestinationFolderNotWritable, path("notes.txt")}}));
    QVERIFY(!worker->isCopySucceeded());
    QCOMPARE(fileContent(path("notes.txt")), QByteArray("not an installer"));
}

void TestThreadSoftwareInfo::tooLongPathSkipped()
{
    QString deep = src;
    while (deep.size() < 300)
        deep += QStringLiteral("/long folder name part");
    const QString longFile = deep + QStringLiteral("/deep.exe");
    QVERIFY(copyFixture(fixtures.path(), "pe32-version.exe", longFile));
    // One unit shorter than the buffer still fits with its terminator.
    QString fitting = src + QLatin1Char('/');
    fitting += QString(259 - fitting.size() - 4, QLatin1Char('f')) + QStringLiteral(".exe");
    QCOMPARE(fitting.size(), 259);
    QVERIFY(copyFixture(fixtures.path(), "pe32-version.exe", fitting));

    const QString dst = dir.filePath(QStringLiteral("long.xlsx"));
    runExport(src, dst, {longFile, fitting});
    QCOMPARE(receiver->records.size(), 2);
    QCOMPARE(receiver->records.first().mid(0, 3), QStringList({"2", "3", fitting}));
    QCOMPARE(worker->outcome().tooLong, 1);
    QCOMPARE(workbookRows(readWorkbook(dst)).size(), 2);
    QDir(src + QStringLiteral("/long folder name part")).removeRecursively();
    QFile::remove(fitting);
}

void TestThreadSoftwareInfo::stopAfterFileInProgress()
{
    const QString dst = dir.filePath(QStringLiteral("stopped.xlsx"));
    QVERIFY(writeFile(dst, "old destination"));
    receiver->onRecord = [this](int) { worker->stopExtract(); };
    runExport(src, dst, {path("A/x.exe"), path("A/y.msi"), path("C/sub/z.exe")});
    QCOMPARE(receiver->records.size(), 1);
    QCOMPARE(receiver->failures.size(), 0);
    QCOMPARE(fileContent(dst), QByteArray("old destination"));

    // The stop ended that run only: the next run on the same worker goes to its end.
    receiver->onRecord = nullptr;
    receiver->records.clear();
    runExport(src, dst, {path("A/x.exe")});
    QCOMPARE(receiver->records.size(), 2);
    QVERIFY(worker->isCopySucceeded());
    QCOMPARE(workbookRows(readWorkbook(dst)).size(), 3);
}

void TestThreadSoftwareInfo::stopCutsLibraryCall()
{
    // Sparse: no disk used, yet its MD5 would take the library minutes.
    const QString folder = dir.filePath(QStringLiteral("huge"));
    const QString huge = folder + QStringLiteral("/huge.exe");
    QVERIFY(QDir().mkpath(folder));
    QFile file(huge);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(Q_INT64_C(64) << 30));
    file.close();
    const QString dst = dir.filePath(QStringLiteral("huge.xlsx"));
    QVERIFY(writeFile(dst, "old destination"));

    libraryCalled = false;
    previousHandler = qInstallMessageHandler(watchMessages);
    worker->startExtract(folder, dst, {huge});
    QTRY_VERIFY_WITH_TIMEOUT(libraryCalled, 20000);
    qInstallMessageHandler(previousHandler);
    // Repeated as the controller does, since a request can come just before a call begins.
    QTRY_VERIFY_WITH_TIMEOUT((worker->stopExtract(), worker->isFinished()), 20000);
    QFile::remove(huge);
    QCOMPARE(receiver->records.size(), 0);
    QCOMPARE(receiver->failures.size(), 0);
    QCOMPARE(fileContent(dst), QByteArray("old destination"));
}

// An installer and a green-software folder named in GBK, as unzip leaves archives made
// on Chinese Windows: the very files listed are read, and the names come out readable.
void TestThreadSoftwareInfo::namesNotUtf8()
{
    const QByteArray source = QFile::encodeName(dir.filePath(QStringLiteral("gbk")));
    const QByteArray installer = source + "/\xb0\xb2\xd7\xb0setup.exe"; // 安装setup.exe
    const QByteArray folder = source + "/\xc2\xcc\xc9\xab";              // 绿色
    QVERIFY(copyFixture(fixtures.path(), "pe64-version.exe", QFile::decodeName(source + "/a")));
    QVERIFY(copyFixture(fixtures.path(), "signed-sha256.exe", QFile::decodeName(source + "/b")));
    QCOMPARE(::rename(source + "/a", installer), 0);
    QCOMPARE(::mkdir(folder, 0700), 0);
    QCOMPARE(::rename(source + "/b", folder + "/tool.exe"), 0);

    const QString src = Platform::decodeFileName(source);
    const QList<QString> files = listFilesRecursive(src);
    QCOMPARE(files.size(), 2);
    const QString dst = dir.filePath(QStringLiteral("gbk.xlsx"));
    runExport(src, dst, files);

    QCOMPARE(receiver->records.size(), 3);
    QCOMPARE(receiver->records.at(0).at(2), files.at(0));
    const QString id = md5Hex(folder);
    const QString product = QStringLiteral("测试产品 Test");
    const QString original = QStringLiteral("原始名.exe");
    // Name, product, process name, original name, MD5, containing folder and folder id of each row.
    const QStringList expected = {
        QStringList({"安装setup.exe", product, "安装setup.exe", original,
                     md5Hex(fileContent(fixtures.filePath("pe64-version.exe"))), "", ""}).join('|'),
        QStringList({"tool.exe", product, "tool.exe", original,
                     md5Hex(fileContent(fixtures.filePath("signed-sha256.exe"))), id, ""}).join('|'),
        QStringList({"绿色", "", "", "", "", "", id}).join('|'),
    };
    QStringList rows;
    for (const QStringList &row : workbookRows(readWorkbook(dst)).mid(1))
        rows.append(QStringList({row.value(3), row.value(7), row.value(9), row.value(11), row.value(13),
                                 row.value(16), row.value(17)}).join('|'));
    QCOMPARE(rows, expected);
}

void TestThreadSoftwareInfo::secondStartKeepsRunningInputs()
{
    const QString dst = dir.filePath(QStringLiteral("first.xlsx"));
    const QString other = dir.filePath(QStringLiteral("second.xlsx"));
    receiver->onRecord = [&](int index) {
        if (index == 1)
            worker->startExtract(src, other, {});
    };
    runExport(src, dst, {path("A/x.exe"), path("A/y.msi")});
    QCOMPARE(receiver->records.size(), 3);
    QCOMPARE(receiver->records.last().mid(0, 2), QStringList({"3", "3"}));
    QVERIFY(worker->isCopySucceeded());
    QCOMPARE(workbookRows(readWorkbook(dst)).size(), 4);
    QVERIFY(!QFile::exists(other));
}

// The library's usual log folder was made by another user: every run of the process
// logs into the private folder, and the program's log says why only once.
void TestThreadSoftwareInfo::readerLogMovedSaidOnce()
{
    if (geteuid() != 0)
        QSKIP("needs root to make a folder of another user's");
    QTemporaryDir shared;
    QTemporaryDir runtime;
    QVERIFY(shared.isValid() && runtime.isValid());
    const QString planted = shared.filePath(QStringLiteral("tarsel"));
    QVERIFY(QDir().mkdir(planted) && chown(QFile::encodeName(planted).constData(), 65534, 65534) == 0);
    const QByteArray tmpdir = qgetenv("TMPDIR");
    const QByteArray runtimeDir = qgetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(shared.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    readerLogNotes.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectReaderLogNotes);
    for (int run = 0; run < 2; ++run) {
        ReaderLibrary library;
        QVERIFY(library.load());
        QCOMPARE(library.read(path(QStringLiteral("A/x.exe"))).status, int(ReaderLibrary::Read));
    }
    qInstallMessageHandler(previous);
    qputenv("TMPDIR", tmpdir);
    if (runtimeDir.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", runtimeDir);

    const QString fallback = runtime.filePath(QStringLiteral("tarsel/Vantoril.log"));
    QCOMPARE(readerLogNotes, QStringList{QStringLiteral("ReaderLibrary::load=library log moved to \"%1\" because "
                                                        "\"%2 belongs to user 65534\"").arg(fallback, planted)});
    QFile log(fallback);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll().count('\n'), 2);
    QCOMPARE(QDir(planted).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

QTEST_GUILESS_MAIN(TestThreadSoftwareInfo)
#include "tst_threadsoftwareinfo.moc"
