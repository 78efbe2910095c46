#include "exportfixtures.h"
#include "framemain.h"
#include "messagecatcher.h"
#include "producemain.h"
#include "threadscanfile.h"
#include "threadsoftwareinfo.h"
#include "workbookreader.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

class TestProduceMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exportMessage_data();
    void exportMessage();

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
    QTest::newRow("destination not writable") << "src/a.exe/out.xlsx" << false << false << writeFailure;
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

    ProduceMain *controller = new ProduceMain;
    FrameMain *window = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *frame = qobject_cast<FrameMain *>(widget))
            window = frame;
    }
    QVERIFY(window);
    controller->showMainWindow();
    auto *scanner = controller->findChild<ThreadScanFile *>();
    auto *worker = controller->findChild<ThreadSoftwareInfo *>();
    QWidget *frameTwo = window->findChild<QWidget *>(QStringLiteral("frameTwo"));
    QWidget *frameFour = window->findChild<QWidget *>(QStringLiteral("frameFour"));
    QVERIFY(frameTwo && frameFour);
    auto *extract = frameFour->findChild<QWidget *>(QStringLiteral("btnColor_software"));
    auto *next = frameFour->findChild<QWidget *>(QStringLiteral("btnColor_next"));
    QVERIFY2(extract && next, "extraction page buttons not found");
    MessageCatcher catcher;

    // The two paths as the user would have chosen them on their pages.
    window->findChild<QLineEdit *>(QStringLiteral("lineEdit_path"))->setText(src);
    window->findChild<QWidget *>(QStringLiteral("frameThree"))
        ->findChild<QLineEdit *>(QStringLiteral("lineEdit_file"))
        ->setText(dst);
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

    controller->stopWorkers();
    delete controller;
    delete window;
}

QTEST_MAIN(TestProduceMain)
#include "tst_producemain.moc"
