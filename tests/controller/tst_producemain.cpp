#include "exportfixtures.h"
#include "framemain.h"
#include "messagecatcher.h"
#include "producemain.h"
#include "threadscanfile.h"
#include "threadsoftwareinfo.h"
#include "workbookreader.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The lines the wizard logs, from both threads, to see which files it read.
QMutex loggedMutex;
QStringList logged;
QtMessageHandler previousHandler = nullptr;

void keepLine(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    {
        QMutexLocker locker(&loggedMutex);
        logged.append(text);
    }
    if (previousHandler)
        previousHandler(type, context, text);
}

// The controller and its window, with the two paths as the user would have chosen them on
// their pages; ended whatever the outcome, so that a failed case leaves no window to the next.
struct Wizard
{
    ProduceMain *controller = new ProduceMain;
    FrameMain *window = nullptr;
    ThreadScanFile *scanner = nullptr;
    ThreadSoftwareInfo *worker = nullptr;
    QWidget *frameTwo = nullptr;
    QWidget *extract = nullptr;
    QWidget *next = nullptr;

    ~Wizard()
    {
        controller->stopWorkers();
        delete controller;
        delete window;
    }

    // False when a part of the window is missing.
    bool open(const QString &src, const QString &dst)
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *frame = qobject_cast<FrameMain *>(widget))
                window = frame;
        }
        if (!window)
            return false;
        controller->showMainWindow();
        scanner = controller->findChild<ThreadScanFile *>();
        worker = controller->findChild<ThreadSoftwareInfo *>();
        frameTwo = window->findChild<QWidget *>(QStringLiteral("frameTwo"));
        QWidget *frameFour = window->findChild<QWidget *>(QStringLiteral("frameFour"));
        auto *path = window->findChild<QLineEdit *>(QStringLiteral("lineEdit_path"));
        auto *file = window->findChild<QLineEdit *>(QStringLiteral("lineEdit_file"));
        if (!frameTwo || !frameFour || !path || !file)
            return false;
        extract = frameFour->findChild<QWidget *>(QStringLiteral("btnColor_software"));
        next = frameFour->findChild<QWidget *>(QStringLiteral("btnColor_next"));
        path->setText(src);
        file->setText(dst);
        return extract && next;
    }
};

} // namespace

class TestProduceMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exportMessage_data();
    void exportMessage();
    void changesSinceLastExport();
    void destinationCheckedFirst_data();
    void destinationCheckedFirst();

private:
    QTemporaryDir dir;
    QTemporaryDir fixtures;
};

void TestProduceMain::initTestCase()
{
    QVERIFY(dir.isValid() && fixtures.isValid());
    QVERIFY(makeFixtures(fixtures.path()));
    // The reader keeps its own log below the temporary folder; keep it inside this test's folder.
    qputenv("TMPDIR", dir.path().toUtf8());
    // And the cache, with the folders' last exports, too.
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
}

void TestProduceMain::exportMessage_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("longPath");
    QTest::addColumn<bool>("deleteSource");
    QTest::addColumn<QString>("message");

    const QString writeFailure = QStringLiteral("提取失败，写入%1文件错误，请检查：\r\n1：该文件是否已经打开；\r\n"
                                                "2：该文件所在磁盘的空间是否已满。");
    QTest::newRow("success") << "out.xlsx" << false << false << "提取完毕";
    QTest::newRow("a path too long") << "out.xlsx" << true << false << "提取完毕\r\n有1个文件路径过长，未能提取。";
    QTest::newRow("destination not writable") << "src/a.exe/out.xlsx" << false << false
                                              << "提取失败，无法在导出文件所在目录中写入：%SRC%/a.exe";
    QTest::newRow("source deleted after the scan") << "out.xlsx" << false << true
                                                   << "提取失败，软件信息提取目录不存在：%SRC%";
}

void TestProduceMain::exportMessage()
{
    QFETCH(QString, destination);
    QFETCH(bool, longPath);
    QFETCH(bool, deleteSource);
    QFETCH(QString, message);

    const QString src = dir.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_') + "/src");
    QVERIFY(copyFixture(fixtures.path(), "pe64-version.exe", src + "/a.exe"));
    QVERIFY(copyFixture(fixtures.path(), "product.msi", src + "/绿色/b.msi"));
    if (longPath)
        QVERIFY(copyFixture(fixtures.path(), "pe32-version.exe",
                            src + "/绿色/" + QString(300, QLatin1Char('x')).replace(100, 1, '/').replace(200, 1, '/')
                                + ".exe"));
    const QString dst = QFileInfo(src).path() + '/' + destination;
    if (!destination.contains("a.exe"))
        QVERIFY(writeFile(dst, "old destination"));

    Wizard wizard;
    QVERIFY2(wizard.open(src, dst), "a part of the window was not found");
    QWidget *frameTwo = wizard.frameTwo, *extract = wizard.extract, *next = wizard.next;
    ThreadScanFile *scanner = wizard.scanner;
    ThreadSoftwareInfo *worker = wizard.worker;
    MessageCatcher catcher;
    QVERIFY(QMetaObject::invokeMethod(frameTwo, "signal_scanPath", Q_ARG(QString, src)));
    QTRY_VERIFY_WITH_TIMEOUT(scanner->isFinished() && extract->isEnabled(), 30000);
    if (deleteSource)
        QVERIFY(QDir(src).removeRecursively());
    QTest::mouseClick(extract, Qt::LeftButton);
    QVERIFY(!extract->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 60000);

    message.replace("%SRC%", src);
    if (message.contains("%1"))
        message = message.arg(QFileInfo(dst).fileName());
    QCOMPARE(catcher.messages.size(), 1);
    QVERIFY2(isWrappedFrom(catcher.messages.first(), message), qPrintable(catcher.messages.first()));
    const bool succeeded = message.startsWith(QStringLiteral("提取完毕"));
    if (succeeded)
        QCOMPARE(workbookRows(readWorkbook(dst)).size(), 4);
    else if (QFile::exists(dst))
        QCOMPARE(fileContent(dst), QByteArray("old destination"));
    // The page is usable again; only a written workbook opens the next step.
    QVERIFY(extract->isEnabled());
    QCOMPARE(next->isEnabled(), succeeded);
}

// The success message of a folder exported again counts the rows new, changed and gone;
// its second button lists them, with the rows the console matches by MD5 alone.
void TestProduceMain::changesSinceLastExport()
{
    const QString src = dir.filePath(QStringLiteral("again/src"));
    QVERIFY(copyFixture(fixtures.path(), "pe64-version.exe", src + "/a.exe"));
    QVERIFY(copyFixture(fixtures.path(), "product.msi", src + "/b.msi"));
    const QString dst = dir.filePath(QStringLiteral("again/out.xlsx"));

    Wizard wizard;
    QVERIFY2(wizard.open(src, dst), "a part of the window was not found");
    QWidget *frameTwo = wizard.frameTwo, *extract = wizard.extract;
    ThreadScanFile *scanner = wizard.scanner;
    ThreadSoftwareInfo *worker = wizard.worker;
    // Plays the user: reads each message and presses its second button when it has one,
    // then reads the list and closes it.
    QStringList messages;
    QList<QStringList> listed;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto *table = modal->findChild<QTableWidget *>(QStringLiteral("tableWidget"))) {
            for (int row = 0; row < table->rowCount(); ++row)
                listed.append({table->item(row, 0)->text(), table->item(row, 1)->text(), table->item(row, 2)->text()});
            QMetaObject::invokeMethod(modal, "on_close");
            return;
        }
        messages.append(modal->findChild<QLabel *>(QStringLiteral("label_msg"))->text());
        QWidget *second = modal->findChild<QWidget *>(QStringLiteral("btnColor_cancel"));
        QMetaObject::invokeMethod(modal, second && second->isVisible() ? "on_cancel" : "on_ok");
    });
    user.start(20);
    const auto exportOnce = [&] {
        QVERIFY(QMetaObject::invokeMethod(frameTwo, "signal_scanPath", Q_ARG(QString, src)));
        QTRY_VERIFY_WITH_TIMEOUT(scanner->isFinished() && extract->isEnabled(), 30000);
        QTest::mouseClick(extract, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished() && extract->isEnabled(), 60000);
    };

    exportOnce();
    QCOMPARE(messages, QStringList{"提取完毕"});
    QCOMPARE(listed, QList<QStringList>());

    QVERIFY(QFile::remove(src + "/b.msi"));
    QVERIFY(copyFixture(fixtures.path(), "junk.exe", src + "/c.exe"));
    exportOnce();
    QCOMPARE(messages.size(), 2);
    QVERIFY2(isWrappedFrom(messages.last(), QStringLiteral("提取完毕\r\n与上次导出相比：新增1行，变化0行，删除1行。")),
             qPrintable(messages.last()));
    const QString c = QDir::toNativeSeparators(src + "/c.exe");
    const QString md5 = QString::fromLatin1(
        QCryptographicHash::hash(fileContent(src + "/c.exe"), QCryptographicHash::Md5).toHex());
    QCOMPARE(listed, QList<QStringList>({
                         {c, "仅按MD5匹配", "仅能按文件MD5匹配，软件更新后规则将失效"},
                         {c, "新增", "进程名：c.exe；文件MD5：" + md5},
                         {QDir::toNativeSeparators(src + "/b.msi"), "删除",
                          "产品名称：Tarsel Sample Product；进程名：b.msi；文件MD5："
                              + QString::fromLatin1(QCryptographicHash::hash(fileContent(fixtures.filePath("product.msi")),
                                                                             QCryptographicHash::Md5).toHex())
                              + "；文件描述：Sample comments text"},
                     }));
}

void TestProduceMain::destinationCheckedFirst_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("planted"); // what stands at the destination: "", "folder" or "their link"

    QTest::newRow("destination is a folder") << "first/out.xlsx" << "folder";
    QTest::newRow("destination's folder missing") << "first/nowhere/out.xlsx" << "";
    QTest::newRow("another user's link") << "first/sticky/out.xlsx" << "their link";
}

// A destination that cannot be written is refused before the first file is read, in the
// words pelbrook-export uses for it, and left as it was.
void TestProduceMain::destinationCheckedFirst()
{
    QFETCH(QString, destination);
    QFETCH(QString, planted);

    const QString src = dir.filePath(QStringLiteral("first/src"));
    QVERIFY(copyFixture(fixtures.path(), "pe64-version.exe", src + "/a.exe") || QFile::exists(src + "/a.exe"));
    const QString dst = dir.filePath(destination);
    if (planted == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(dst));
    } else if (planted == QLatin1String("their link")) {
        if (geteuid() != 0)
            QSKIP("needs root to make a link of another user's");
        const QString sticky = QFileInfo(dst).path();
        QVERIFY(QDir().mkpath(sticky) && ::chmod(QFile::encodeName(sticky).constData(), 01777) == 0);
        QVERIFY(writeFile(dir.filePath("first/precious"), "precious"));
        QFile::remove(dst);
        QVERIFY(QFile::link(dir.filePath("first/precious"), dst));
        QVERIFY(::lchown(QFile::encodeName(dst).constData(), 65534, 65534) == 0);
    }

    QProcess console;
    console.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pelbrook-export"), {src, dst});
    QVERIFY(console.waitForFinished(60000));
    QCOMPARE(console.exitCode(), 1);
    const QString consoleMessage = QString::fromUtf8(console.readAllStandardError()).trimmed().split('\n').last();
    QVERIFY2(consoleMessage.startsWith(QStringLiteral("提取失败，")), qPrintable(consoleMessage));

    Wizard wizard;
    QVERIFY2(wizard.open(src, dst), "a part of the window was not found");
    QWidget *frameTwo = wizard.frameTwo, *extract = wizard.extract;
    ThreadScanFile *scanner = wizard.scanner;
    ThreadSoftwareInfo *worker = wizard.worker;
    MessageCatcher catcher;
    QVERIFY(QMetaObject::invokeMethod(frameTwo, "signal_scanPath", Q_ARG(QString, src)));
    QTRY_VERIFY_WITH_TIMEOUT(scanner->isFinished() && extract->isEnabled(), 30000);
    struct LogCapture
    {
        LogCapture()
        {
            logged.clear();
            previousHandler = qInstallMessageHandler(keepLine);
        }
        ~LogCapture() { qInstallMessageHandler(previousHandler); }
    } capture;
    QTest::mouseClick(extract, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished() && extract->isEnabled(), 60000);
    QCOMPARE(catcher.messages.size(), 1);
    QVERIFY2(isWrappedFrom(catcher.messages.first(), consoleMessage),
             qPrintable(catcher.messages.first() + " / " + consoleMessage));
    QVERIFY2(logged.filter(QStringLiteral("ThreadSoftwareInfo::run=fun start")).isEmpty(), qPrintable(logged.join('\n')));
    QVERIFY(!logged.filter(QStringLiteral("ThreadSoftwareInfo::run=start")).isEmpty());
    if (planted == QLatin1String("folder"))
        QVERIFY(QFileInfo(dst).isDir());
    else if (planted == QLatin1String("their link"))
        QCOMPARE(fileContent(dir.filePath("first/precious")), QByteArray("precious"));
    else
        QVERIFY(!QFileInfo::exists(dst));
}

QTEST_MAIN(TestProduceMain)
#include "tst_producemain.moc"
