// The whole road from the user interface: the real controller, window, pages,
// scanner and extraction threads, reader library and converter, driven by
// clicks and real file dialogs; the workbook is read back by openpyxl.
#include "btncolor.h"
#include "dialogdriver.h"
#include "exportfixtures.h"
#include "framemain.h"
#include "platform.h"
#include "producemain.h"
#include "workbookreader.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
const QString extractedMessage = QStringLiteral("提取完毕");
const QString emptyListWarning = QStringLiteral("没有找到可以提取的安装包或绿色软件，请返回“选择路径”步骤重新指定目录。");

// Column positions in a workbook row, counting from 0.
enum Column { Name = 3, Description = 4, Signature = 5, Product = 7, OriginalName = 11, Md5 = 13, IsFolder = 15,
              ParentId = 16, FolderId = 17, ProductFlag = 19 };

QString folderId(const QString &path)
{
    return md5Hex(path.toUtf8());
}

QString cell(const QStringList &row, int column)
{
    // The reader drops trailing empty cells; a folder row ends after its id.
    return column < row.size() ? row.at(column) : QString();
}

const QStringList *rowNamed(const QList<QStringList> &rows, const QString &name)
{
    for (const QStringList &row : rows) {
        if (cell(row, Name) == name)
            return &row;
    }
    return nullptr;
}
}

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void roadToWorkbookAndOut();
    void secondRunReplacesWorkbook();
    void emptyFolderIsRefused();

private:
    void start();
    void click(int pageIndex, const char *name);
    void walkToList(const QString &source, const QString &workbook, bool replace);
    // Extracts and checks the message: exactly message, or only its start when startOnly.
    void extract(const QString &message = extractedMessage, bool startOnly = false);

    QTemporaryDir folders;
    QString fixtures;
    QString source;
    QString greenFolder;
    std::unique_ptr<ProduceMain> controller;
    std::unique_ptr<DialogDriver> driver;
    FrameMain *window = nullptr;
    QStackedWidget *stack = nullptr;
};

void TestEndToEnd::initTestCase()
{
    Platform::substituteFonts();
    fixtures = folders.filePath(QStringLiteral("fixtures"));
    QVERIFY(makeFixtures(fixtures));
    // A signed installer and an MSI at the root, a program of its own folder below it.
    source = folders.filePath(QStringLiteral("软件信息提取目录"));
    greenFolder = source + QStringLiteral("/视频播放器");
    QVERIFY(copyFixture(fixtures, QStringLiteral("signed-sha256.exe"), source + QStringLiteral("/截图工具.exe")));
    QVERIFY(copyFixture(fixtures, QStringLiteral("product.msi"), source + QStringLiteral("/数据库客户端.msi")));
    QVERIFY(copyFixture(fixtures, QStringLiteral("pe32-version.exe"), greenFolder + QStringLiteral("/player.exe")));
    // The cache, which keeps each folder's last export, is this run's own.
    qputenv("XDG_DATA_HOME", folders.filePath(QStringLiteral("data")).toUtf8());
}

void TestEndToEnd::init()
{
    driver.reset(new DialogDriver);
}

void TestEndToEnd::cleanup()
{
    QCOMPARE(driver->pendingActions(), 0);
    if (controller) {
        controller->stopWorkers();
        controller.reset();
    }
    // The controller leaves its window to the end of the process; each test gets a fresh one.
    delete window;
    window = nullptr;
    driver.reset();
}

void TestEndToEnd::start()
{
    controller.reset(new ProduceMain);
    controller->showMainWindow();
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (FrameMain *candidate = qobject_cast<FrameMain *>(widget))
            window = candidate;
    }
    QVERIFY2(window, "the controller shows no main window");
    QVERIFY(QTest::qWaitForWindowExposed(window));
    stack = window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QVERIFY(stack);
}

void TestEndToEnd::click(int pageIndex, const char *name)
{
    QCOMPARE(stack->currentIndex(), pageIndex);
    BtnColor *button = stack->widget(pageIndex)->findChild<BtnColor *>(QLatin1String(name));
    QVERIFY2(button, name);
    QVERIFY2(button->isEnabled(), name);
    QTest::mouseClick(button, Qt::LeftButton);
}

// From the welcome page through both file dialogs to the list of the scan.
void TestEndToEnd::walkToList(const QString &folder, const QString &workbook, bool replace)
{
    click(0, "btnColor_start");
    click(1, "btnColor_done");
    click(1, "btnColor_next");
    driver->onFileDialog([folder](QFileDialog *d) { DialogDriver::chooseDirectory(d, folder); });
    click(2, "btnColor_browse");
    click(2, "btnColor_next");
    driver->onFileDialog([workbook](QFileDialog *d) { DialogDriver::chooseSaveFile(d, workbook); });
    if (replace) {
        // The dialog itself asks before an existing file is replaced.
        driver->onQuestion([](QMessageBox *box) { QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton); });
    }
    click(3, "btnColor_browse");
    QCOMPARE(driver->pendingActions(), 0);
    click(3, "btnColor_next");
    QLabel *loading = stack->widget(4)->findChild<QLabel *>(QStringLiteral("label_loading"));
    QTRY_VERIFY_WITH_TIMEOUT(!loading->isVisible(), 20000);
}

void TestEndToEnd::extract(const QString &message, bool startOnly)
{
    const int before = driver->messages.size();
    click(4, "btnColor_software");
    QTRY_VERIFY_WITH_TIMEOUT(driver->messages.size() > before, 60000);
    if (startOnly)
        QVERIFY2(driver->messages.last().startsWith(message), qPrintable(driver->messages.last()));
    else
        QCOMPARE(driver->messages.last(), message);
    BtnColor *next = stack->widget(4)->findChild<BtnColor *>(QStringLiteral("btnColor_next"));
    QVERIFY(next->isEnabled());
}

void TestEndToEnd::roadToWorkbookAndOut()
{
    start();
    if (QTest::currentTestFailed())
        return;
    const QString workbook = folders.filePath(QStringLiteral("导出/软件信息.xlsx"));
    QVERIFY(QDir().mkpath(QFileInfo(workbook).absolutePath()));
    walkToList(source, workbook, false);
    if (QTest::currentTestFailed())
        return;
    QTableWidget *table = stack->widget(4)->findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    QCOMPARE(table->rowCount(), 1);
    QStringList listed;
    for (int column = 0; column < 3; ++column)
        listed.append(table->item(0, column) ? table->item(0, column)->text() : QString());
    listed.sort();
    QCOMPARE(listed, QStringList({QStringLiteral("截图工具.exe"), QStringLiteral("数据库客户端.msi"),
                                  QStringLiteral("视频播放器")}));

    extract();
    if (QTest::currentTestFailed())
        return;
    const QList<QStringList> rows = workbookRows(readWorkbook(workbook));
    QCOMPARE(rows.size(), 5);
    QCOMPARE(rows.first(), headerTexts());

    const QStringList *tool = rowNamed(rows, QStringLiteral("截图工具.exe"));
    const QStringList *msi = rowNamed(rows, QStringLiteral("数据库客户端.msi"));
    const QStringList *player = rowNamed(rows, QStringLiteral("player.exe"));
    const QStringList *folder = rowNamed(rows, QStringLiteral("视频播放器"));
    QVERIFY(tool && msi && player && folder);
    QCOMPARE(cell(*tool, Product), QStringLiteral("测试产品 Test"));
    QCOMPARE(cell(*tool, OriginalName), QStringLiteral("原始名.exe"));
    QCOMPARE(cell(*tool, Signature), QStringLiteral("测试签名者 Test Signer"));
    QCOMPARE(cell(*tool, Description), QStringLiteral("中文描述"));
    QCOMPARE(cell(*tool, Md5), md5Hex(fileContent(source + QStringLiteral("/截图工具.exe"))));
    QCOMPARE(cell(*tool, ProductFlag), QStringLiteral("是"));
    QCOMPARE(cell(*tool, ParentId), QString());
    QCOMPARE(cell(*msi, Product), QStringLiteral("Tarsel Sample Product"));
    QCOMPARE(cell(*player, Product), QStringLiteral("Sample Product"));
    QCOMPARE(cell(*player, Description), QStringLiteral("Sample description"));
    QCOMPARE(cell(*player, ParentId), folderId(greenFolder));
    QCOMPARE(cell(*folder, IsFolder), QStringLiteral("是"));
    QCOMPARE(cell(*folder, FolderId), folderId(greenFolder));
    // The folder's row follows every file row.
    QCOMPARE(&rows.last(), folder);

    click(4, "btnColor_next");
    click(5, "btnColor_done");
    click(5, "btnColor_next");
    click(6, "btnColor_next");
    QVERIFY(!window->isVisible());
}

void TestEndToEnd::secondRunReplacesWorkbook()
{
    const QString workbook = folders.filePath(QStringLiteral("replaced.xlsx"));
    start();
    if (QTest::currentTestFailed())
        return;
    walkToList(source, workbook, false);
    if (QTest::currentTestFailed())
        return;
    // The folder may have been exported by an earlier test: the counts are not known yet.
    extract(extractedMessage, true);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(workbookRows(readWorkbook(workbook)).size(), 5);
    cleanup();

    // A new copy of the program, one more installer, the same destination.
    const QString added = source + QStringLiteral("/输入法安装程序.exe");
    QVERIFY(copyFixture(fixtures, QStringLiteral("pe-multilang.exe"), added));
    init();
    start();
    if (QTest::currentTestFailed())
        return;
    walkToList(source, workbook, true);
    if (QTest::currentTestFailed())
        return;
    // The message's line breaks are left out as the driver reads it.
    extract(extractedMessage + QStringLiteral("与上次导出相比：新增1行，变化0行，删除0行。"));
    QFile::remove(added);
    if (QTest::currentTestFailed())
        return;
    const QList<QStringList> rows = workbookRows(readWorkbook(workbook));
    QCOMPARE(rows.size(), 6);
    const QStringList *addedRow = rowNamed(rows, QStringLiteral("输入法安装程序.exe"));
    QVERIFY(addedRow);
    QCOMPARE(cell(*addedRow, Product), QStringLiteral("中文产品"));
}

void TestEndToEnd::emptyFolderIsRefused()
{
    const QString empty = folders.filePath(QStringLiteral("空目录"));
    QVERIFY(QDir().mkpath(empty));
    const QString workbook = folders.filePath(QStringLiteral("never.xlsx"));
    start();
    if (QTest::currentTestFailed())
        return;
    walkToList(empty, workbook, false);
    if (QTest::currentTestFailed())
        return;
    click(4, "btnColor_software");
    QTRY_COMPARE(driver->messages.size(), 1);
    QCOMPARE(driver->messages.first(), emptyListWarning);
    QVERIFY(!QFile::exists(workbook));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
