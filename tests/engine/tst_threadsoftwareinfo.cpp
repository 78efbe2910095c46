#include "exportfixtures.h"
#include "threadsoftwareinfo.h"
#include "workbookreader.h"

#include "platform.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

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
    void destinationUnwritable();
    void tooLongPathSkipped();
    void stopAfterFileInProgress();
    void secondStartKeepsRunningInputs();

private:
    QString path(const QString &relative) const { return src + QLatin1Char('/') + relative; }
    // Starts a run and waits until the thread has ended.
    void runExport(const QString &source, const QString &destination, const QList<QString> &files);

    QTemporaryDir dir;
    QString src;
    ThreadSoftwareInfo *worker = nullptr;
    ExportReceiver *receiver = nullptr;
};

void TestThreadSoftwareInfo::initTestCase()
{
    QVERIFY(dir.isValid());
    src = dir.filePath(QStringLiteral("软件 src"));
    QVERIFY(writeFile(path("__Tool++ 7.9.exe"),
                      "sign=测试签名, Ltd. \"Q\"\nproduct=办公 \"软件\"\nprocess=tool.exe\noriginal=Tool.exe\n"
                      "description=第一行\\n第二行, 带逗号\n"));
    QVERIFY(writeFile(path("notes.txt"), "not an installer"));
    QVERIFY(writeFile(path("A/x.exe"), "original=x.exe\nprocess=x\n"));
    QVERIFY(writeFile(path("A/y.msi"), "sign=???\n"));
    QVERIFY(writeFile(path("B/readme.txt"), "no installer here"));
    QVERIFY(writeFile(path("C/sub/z.exe"), "product=Z\n"));
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
              {path("__Tool++ 7.9.exe"), path("A/x.exe"), path("notes.txt"), path("C/sub/z.exe"), path("A/y.msi")});

    const QString idA = md5Hex((src + "/A").toUtf8());
    const QString idC = md5Hex((src + "/C").toUtf8());
    const QString md5Tool = md5Hex(fileContent(path("__Tool++ 7.9.exe")));
    const QString md5X = md5Hex(fileContent(path("A/x.exe")));
    const QString md5Z = md5Hex(fileContent(path("C/sub/z.exe")));
    const QString md5Y = md5Hex(fileContent(path("A/y.msi")));

    // The non-installer keeps its place in the numbering but gets no record.
    const QList<QStringList> records = {
        {"1", "6", path("__Tool++ 7.9.exe"), "\"测试签名, Ltd. \"\"Q\"\"\"", "\"办公 \"\"软件\"\"\"", "\"tool.exe\"",
         "\"Tool.exe\"", '"' + md5Tool + '"', "", "\"第一行\n第二行, 带逗号\""},
        {"2", "6", path("A/x.exe"), "\"\"", "\"\"", "\"x\"", "\"x.exe\"", '"' + md5X + '"', idA, "\"\""},
        {"4", "6", path("C/sub/z.exe"), "\"\"", "\"Z\"", "\"\"", "\"\"", '"' + md5Z + '"', idC, "\"\""},
        {"5", "6", path("A/y.msi"), "\"\"", "\"\"", "\"\"", "\"\"", '"' + md5Y + '"', idA, "\"\""},
        {"6", "6", "", "", "", "", "", "", "", ""},
    };
    QCOMPARE(receiver->records, records);
    QVERIFY(worker->isCopySucceeded());
    QCOMPARE(worker->tooLongPathCount(), 0);

    const QList<QStringList> rows = workbookRows(readWorkbook(dst));
    const QList<QStringList> expected = {
        headerTexts(),
        {"", "", "", "Tool_7.9.exe", "第一行\n第二行, 带逗号", "测试签名, Ltd. \"Q\"", "否", "办公 \"软件\"", "否",
         "tool.exe", "否", "Tool.exe", "否", md5Tool, "是", "否", "", "", "否", "是", "否", "否", "否"},
        {"", "", "", "x.exe", "", "", "否", "", "否", "x", "否", "x.exe", "否", md5X, "是", "否", idA, "", "否", "否",
         "否", "是", "否"},
        {"", "", "", "z.exe", "", "", "否", "Z", "否", "", "否", "", "否", md5Z, "是", "否", idC, "", "否", "是", "否",
         "否", "否"},
        {"", "", "", "y.msi", "", "", "否", "", "否", "", "否", "", "否", md5Y, "是", "否", idA, "", "否", "否", "否",
         "否", "是"},
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
    QCOMPARE(receiver->failures, (QList<QPair<int, QString>>{{ThreadSoftwareInfo::SourceFolderMissing, missing}}));
    QCOMPARE(fileContent(dst), QByteArray("old destination"));
}

void TestThreadSoftwareInfo::destinationUnwritable()
{
    // A folder that cannot exist: its parent is a regular file.
    const QString dst = path("notes.txt") + QStringLiteral("/out.xlsx");
    runExport(src, dst, {path("A/x.exe")});
    QCOMPARE(receiver->records.size(), 2);
    QCOMPARE(receiver->records.last().mid(0, 2), QStringList({"2", "2"}));
    QVERIFY(!worker->isCopySucceeded());
    QCOMPARE(fileContent(path("notes.txt")), QByteArray("not an installer"));
}

void TestThreadSoftwareInfo::tooLongPathSkipped()
{
    QString deep = src;
    while (deep.size() < 300)
        deep += QStringLiteral("/long folder name part");
    const QString longFile = deep + QStringLiteral("/deep.exe");
    QVERIFY(writeFile(longFile, "product=deep\n"));
    // One unit shorter than the buffer still fits with its terminator.
    QString fitting = src + QLatin1Char('/');
    fitting += QString(259 - fitting.size() - 4, QLatin1Char('f')) + QStringLiteral(".exe");
    QCOMPARE(fitting.size(), 259);
    QVERIFY(writeFile(fitting, "product=fits\n"));

    const QString dst = dir.filePath(QStringLiteral("long.xlsx"));
    runExport(src, dst, {longFile, fitting});
    QCOMPARE(receiver->records.size(), 2);
    QCOMPARE(receiver->records.first().mid(0, 3), QStringList({"2", "3", fitting}));
    QCOMPARE(worker->tooLongPathCount(), 1);
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

QTEST_GUILESS_MAIN(TestThreadSoftwareInfo)
#include "tst_threadsoftwareinfo.moc"
