#include "btncolor.h"
#include "btnlabel.h"
#include "dialogdriver.h"
#include "framebase.h"
#include "framemain.h"
#include "msgdialog.h"
#include "platform.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
const QString emptyListWarning = QStringLiteral("没有找到可以提取的安装包或绿色软件，请返回“选择路径”步骤重新指定目录。");

// One of the steps a row of the extraction page's state table goes through.
enum Step { List7, List0, Extract, ProgressHalf, ProgressEnd, Finished, Stopped, Reset, Refresh };
}

class TestFrameMain : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void forwardRoadByClicks();
    void nextAndPreviousStopAtTheEnds();
    void diagramReturnsToPreparation_data();
    void diagramReturnsToPreparation();
    void finishPageClosesWindow();
    void closeButtonClosesWindow();
    void uploadPageNeedsDone();
    void extractionPageStates_data();
    void extractionPageStates();
    void extractionGridHoldsThreeNamesARow();
    void sourcePageChoices();
    void sourcePageRefusesRoot();
    void exportUsesShownPathsAndRefreshRescansShownFolder();
    void messageParentFollowsVisibility();
    void labelsKeepTheirNaturalSize();

private:
    QWidget *page(int index) { return stack->widget(index); }
    BtnColor *button(int pageIndex, const char *name)
    {
        BtnColor *found = page(pageIndex)->findChild<BtnColor *>(QLatin1String(name));
        if (!found)
            qWarning("page %d has no %s", pageIndex, name);
        return found;
    }
    void click(int pageIndex, const char *name) { QTest::mouseClick(button(pageIndex, name), Qt::LeftButton); }
    bool enabled(int pageIndex, const char *name) { return button(pageIndex, name)->isEnabled(); }
    void showPage(int index);

    std::unique_ptr<FrameMain> window;
    std::unique_ptr<DialogDriver> driver;
    QStackedWidget *stack = nullptr;
    QTemporaryDir folders;
};

void TestFrameMain::initTestCase()
{
    // As the program does: the pages then measure their texts in the installed CJK font.
    Platform::substituteFonts();
}

void TestFrameMain::init()
{
    window.reset(new FrameMain);
    window->move(40, 30);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    stack = window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QVERIFY2(stack, "page stack not found");
    driver.reset(new DialogDriver);
}

void TestFrameMain::cleanup()
{
    QCOMPARE(driver->pendingActions(), 0);
    driver.reset();
    window.reset();
    // Neither the window nor its message dialog may outlive the test.
    const QList<QWidget *> left = QApplication::topLevelWidgets();
    for (QWidget *widget : left) {
        QVERIFY2(!qobject_cast<FrameMain *>(widget) && !qobject_cast<MsgDialog *>(widget),
                 qPrintable(widget->metaObject()->className()));
    }
}

// Walks the real road up to a page: every page's condition is met by clicks, the dialogs by the driver.
void TestFrameMain::showPage(int index)
{
    const QString source = folders.filePath(QStringLiteral("source"));
    QDir().mkpath(source);
    while (stack->currentIndex() < index) {
        switch (stack->currentIndex()) {
        case 0:
            click(0, "btnColor_start");
            break;
        case 1:
            click(1, "btnColor_done");
            click(1, "btnColor_next");
            break;
        case 2:
            driver->onFileDialog([source](QFileDialog *d) { DialogDriver::chooseDirectory(d, source); });
            click(2, "btnColor_browse");
            click(2, "btnColor_next");
            break;
        case 3: {
            const QString file = folders.filePath(QStringLiteral("export.xlsx"));
            driver->onFileDialog([file](QFileDialog *d) { DialogDriver::chooseSaveFile(d, file); });
            click(3, "btnColor_browse");
            click(3, "btnColor_next");
            break;
        }
        case 4:
            window->showSoftwareList({QStringLiteral("a.exe")});
            click(4, "btnColor_software");
            window->showExtractProgress(2, 2);
            window->extractFinished();
            click(4, "btnColor_next");
            break;
        case 5:
            click(5, "btnColor_done");
            click(5, "btnColor_next");
            break;
        default:
            QFAIL("no road beyond the finish page");
        }
    }
    QCOMPARE(stack->currentIndex(), index);
}

void TestFrameMain::forwardRoadByClicks()
{
    QCOMPARE(stack->currentIndex(), 0);
    click(0, "btnColor_start");
    QCOMPARE(stack->currentIndex(), 1);

    // The next step stays closed until "已完成" has been pressed.
    QVERIFY(!enabled(1, "btnColor_next"));
    click(1, "btnColor_next");
    QCOMPARE(stack->currentIndex(), 1);
    click(1, "btnColor_pre");
    QCOMPARE(stack->currentIndex(), 0);

    showPage(6);
    for (int index = 6; index > 1; --index) {
        click(index, "btnColor_pre");
        QCOMPARE(stack->currentIndex(), index - 1);
    }
}

void TestFrameMain::nextAndPreviousStopAtTheEnds()
{
    QVERIFY(QMetaObject::invokeMethod(window.get(), "on_swidth_pre"));
    QCOMPARE(stack->currentIndex(), 0);

    showPage(1);
    click(1, "btnColor_picture");
    QCOMPARE(stack->currentIndex(), 7);
    QVERIFY(QMetaObject::invokeMethod(window.get(), "on_switch_next"));
    QCOMPARE(stack->currentIndex(), 7);
    QVERIFY(window->isVisible());
}

void TestFrameMain::diagramReturnsToPreparation_data()
{
    QTest::addColumn<bool>("donePressed");
    QTest::newRow("before done") << false;
    QTest::newRow("after done") << true;
}

void TestFrameMain::diagramReturnsToPreparation()
{
    QFETCH(bool, donePressed);
    showPage(1);
    if (donePressed)
        click(1, "btnColor_done");

    click(1, "btnColor_picture");
    QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("framePicture"));
    click(7, "btnColor_back");
    QCOMPARE(stack->currentIndex(), 1);
    QCOMPARE(enabled(1, "btnColor_next"), donePressed);
}

void TestFrameMain::finishPageClosesWindow()
{
    showPage(6);
    BtnColor *close = button(6, "btnColor_next");
    QVERIFY(close->isEnabled());
    BtnColor reference(86, 32, QStringLiteral("关闭"));
    FrameBase::applyFilledStyle(&reference);
    QCOMPARE(close->grab().toImage().convertToFormat(QImage::Format_ARGB32),
             reference.grab().toImage().convertToFormat(QImage::Format_ARGB32));

    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!window->isVisible());
}

void TestFrameMain::closeButtonClosesWindow()
{
    // Also while the extraction page waits for a scan: no question is asked.
    showPage(4);
    window->showSoftwareList({QStringLiteral("a.exe")});
    click(4, "btnColor_software");
    BtnLabel *close = window->findChild<BtnLabel *>(QStringLiteral("btnLabel_close"));
    QVERIFY(close);
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!window->isVisible());
    QVERIFY(driver->messages.isEmpty());
}

void TestFrameMain::uploadPageNeedsDone()
{
    showPage(5);
    QVERIFY(!enabled(5, "btnColor_next"));
    click(5, "btnColor_next");
    QCOMPARE(stack->currentIndex(), 5);
    click(5, "btnColor_done");
    click(5, "btnColor_done");
    QVERIFY(enabled(5, "btnColor_next"));
    click(5, "btnColor_next");
    QCOMPARE(stack->currentIndex(), 6);
}

void TestFrameMain::extractionPageStates_data()
{
    QTest::addColumn<QList<int>>("steps");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("loading");
    QTest::addColumn<bool>("extract");
    QTest::addColumn<bool>("refresh");
    QTest::addColumn<bool>("previous");
    QTest::addColumn<bool>("next");
    QTest::addColumn<int>("exports");
    QTest::addColumn<bool>("warned");

    //                                                                 rows loading extract refresh pre  next  exports warned
    QTest::newRow("loading") << QList<int>{} << 0 << true << false << false << true << false << 0 << false;
    QTest::newRow("listed") << QList<int>{List7} << 3 << false << true << true << true << false << 0 << false;
    QTest::newRow("extracting") << QList<int>{List7, Extract} << 3 << false << false << false << false << false << 1
                                << false;
    QTest::newRow("progress changes no button")
        << QList<int>{List7, Extract, ProgressHalf} << 3 << false << false << false << false << false << 1 << false;
    QTest::newRow("extracted") << QList<int>{List7, Extract, ProgressEnd} << 3 << false << true << true << true
                               << false << 1 << false;
    QTest::newRow("done") << QList<int>{List7, Extract, ProgressEnd, Finished} << 3 << false << true << true << true
                          << true << 1 << false;
    QTest::newRow("extract again from done") << QList<int>{List7, Extract, ProgressEnd, Finished, Extract} << 3
                                             << false << false << false << false << false << 2 << false;
    QTest::newRow("new scan keeps next") << QList<int>{List7, Extract, ProgressEnd, Finished, Reset} << 0 << true
                                         << false << false << true << true << 1 << false;
    QTest::newRow("stopped early") << QList<int>{List7, Extract, ProgressHalf, Stopped} << 3 << false << true << true
                                   << true << false << 1 << false;
    QTest::newRow("refresh empties at once") << QList<int>{List7, Refresh} << 0 << true << false << false << true
                                             << false << 0 << false;
    QTest::newRow("empty result") << QList<int>{List0} << 0 << false << true << true << true << false << 0 << false;
    QTest::newRow("extract with empty result warns") << QList<int>{List0, Extract} << 0 << false << true << true
                                                     << true << false << 0 << true;
}

void TestFrameMain::extractionPageStates()
{
    QFETCH(QList<int>, steps);
    QFETCH(int, rows);
    QFETCH(bool, loading);
    QFETCH(bool, extract);
    QFETCH(bool, refresh);
    QFETCH(bool, previous);
    QFETCH(bool, next);
    QFETCH(int, exports);
    QFETCH(bool, warned);

    showPage(4);
    QSignalSpy exportSpy(window.get(), SIGNAL(signal_export_software(QString,QString)));
    const QList<QString> seven = {QStringLiteral("1.exe"), QStringLiteral("2.msi"), QStringLiteral("3"),
                                  QStringLiteral("4.exe"), QStringLiteral("5.exe"), QStringLiteral("6"),
                                  QStringLiteral("7.msi")};
    for (int step : steps) {
        switch (step) {
        case List7: window->showSoftwareList(seven); break;
        case List0: window->showSoftwareList({}); break;
        case Extract: click(4, "btnColor_software"); break;
        case ProgressHalf: window->showExtractProgress(3, 8); break;
        case ProgressEnd: window->showExtractProgress(8, 8); break;
        case Finished: window->extractFinished(); break;
        case Stopped: window->extractStopped(); break;
        case Reset: QVERIFY(QMetaObject::invokeMethod(window.get(), "on_scanPath", Q_ARG(QString, QString()))); break;
        case Refresh: click(4, "btnColor_frush"); break;
        }
    }

    QTableWidget *table = page(4)->findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    QLabel *loadingPanel = page(4)->findChild<QLabel *>(QStringLiteral("label_loading"));
    QVERIFY(table && loadingPanel);
    QCOMPARE(table->rowCount(), rows);
    QCOMPARE(loadingPanel->isVisible(), loading);
    QCOMPARE(enabled(4, "btnColor_software"), extract);
    QCOMPARE(enabled(4, "btnColor_frush"), refresh);
    QCOMPARE(enabled(4, "btnColor_pre"), previous);
    QCOMPARE(enabled(4, "btnColor_next"), next);
    QCOMPARE(exportSpy.count(), exports);
    QTRY_COMPARE(driver->messages.size(), warned ? 1 : 0);
    if (warned)
        QCOMPARE(driver->messages.first(), emptyListWarning);
}

void TestFrameMain::extractionGridHoldsThreeNamesARow()
{
    showPage(4);
    const QList<QString> names = {QStringLiteral("a.exe"), QStringLiteral("b.msi"), QStringLiteral("绿色软件"),
                                  QStringLiteral("d.exe"), QStringLiteral("e.exe"), QStringLiteral("f"),
                                  QStringLiteral("一个很长很长很长很长很长很长的安装包名称.exe")};
    window->showSoftwareList(names);
    QTableWidget *table = page(4)->findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    QCOMPARE(table->rowCount(), 3);
    for (int i = 0; i < names.size(); ++i) {
        QTableWidgetItem *item = table->item(i / 3, i % 3);
        QVERIFY(item);
        QCOMPARE(item->text(), names.at(i));
        QCOMPARE(item->toolTip(), names.at(i));
        QVERIFY(!(item->flags() & Qt::ItemIsEditable));
    }
    QVERIFY(!table->item(2, 1));
    QVERIFY(!table->item(2, 2));

    // A new result replaces the old one.
    window->showSoftwareList({QStringLiteral("x.exe")});
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("x.exe"));
}

void TestFrameMain::sourcePageChoices()
{
    showPage(2);
    QSignalSpy scanSpy(window.get(), SIGNAL(signal_scanPath(QString)));
    QLineEdit *field = page(2)->findChild<QLineEdit *>(QStringLiteral("lineEdit_path"));
    QVERIFY(field);

    // Cancelling on a fresh page changes nothing.
    driver->onFileDialog(DialogDriver::cancel);
    click(2, "btnColor_browse");
    QCOMPARE(scanSpy.count(), 0);
    QVERIFY(!enabled(2, "btnColor_next"));

    const QString first = folders.filePath(QStringLiteral("安装 包"));
    const QString second = folders.filePath(QStringLiteral("second"));
    QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
    driver->onFileDialog([first](QFileDialog *d) { DialogDriver::chooseDirectory(d, first); });
    click(2, "btnColor_browse");
    QCOMPARE(scanSpy.count(), 1);
    QCOMPARE(scanSpy.at(0).at(0).toString(), first);
    QCOMPARE(field->text(), first);
    QCOMPARE(field->toolTip(), first);
    QVERIFY(enabled(2, "btnColor_next"));

    driver->onFileDialog(DialogDriver::cancel);
    click(2, "btnColor_browse");
    QCOMPARE(scanSpy.count(), 1);
    QCOMPARE(field->text(), first);

    driver->onFileDialog([second](QFileDialog *d) { DialogDriver::chooseDirectory(d, second); });
    click(2, "btnColor_browse");
    QCOMPARE(scanSpy.count(), 2);
    QCOMPARE(scanSpy.at(1).at(0).toString(), second);
    QCOMPARE(field->toolTip(), second);
}

void TestFrameMain::sourcePageRefusesRoot()
{
    showPage(2);
    QSignalSpy scanSpy(window.get(), SIGNAL(signal_scanPath(QString)));
    driver->onFileDialog([](QFileDialog *d) { DialogDriver::chooseDirectory(d, QStringLiteral("/")); });
    click(2, "btnColor_browse");
    QTRY_COMPARE(driver->messages.size(), 1);
    QCOMPARE(driver->messages.first(), QStringLiteral("请选择一个文件夹"));
    QCOMPARE(scanSpy.count(), 0);
    QVERIFY(page(2)->findChild<QLineEdit *>(QStringLiteral("lineEdit_path"))->text().isEmpty());
    QVERIFY(!enabled(2, "btnColor_next"));
}

void TestFrameMain::exportUsesShownPathsAndRefreshRescansShownFolder()
{
    showPage(3);
    QSignalSpy scanSpy(window.get(), SIGNAL(signal_scanPath(QString)));
    QSignalSpy exportSpy(window.get(), SIGNAL(signal_export_software(QString,QString)));

    // Back to the source page for another folder and a new export file, then on to the list.
    const QString other = folders.filePath(QStringLiteral("other"));
    const QString file = folders.filePath(QStringLiteral("second.xlsx"));
    QVERIFY(QDir().mkpath(other));
    click(3, "btnColor_pre");
    driver->onFileDialog([other](QFileDialog *d) { DialogDriver::chooseDirectory(d, other); });
    click(2, "btnColor_browse");
    click(2, "btnColor_next");
    driver->onFileDialog([file](QFileDialog *d) { DialogDriver::chooseSaveFile(d, file); });
    click(3, "btnColor_browse");
    click(3, "btnColor_next");
    QCOMPARE(stack->currentIndex(), 4);
    QCOMPARE(window->exportFilePath(), file);

    window->showSoftwareList({QStringLiteral("a.exe")});
    click(4, "btnColor_frush");
    QCOMPARE(scanSpy.count(), 2);
    QCOMPARE(scanSpy.at(1).at(0).toString(), other);
    QVERIFY(page(4)->findChild<QLabel *>(QStringLiteral("label_loading"))->isVisible());

    window->showSoftwareList({QStringLiteral("a.exe")});
    click(4, "btnColor_software");
    QCOMPARE(exportSpy.count(), 1);
    QCOMPARE(exportSpy.at(0).at(0).toString(), other);
    QCOMPARE(exportSpy.at(0).at(1).toString(), file);
}

void TestFrameMain::messageParentFollowsVisibility()
{
    // Centred on the window while it is shown; on the screen (800 x 600 offscreen) once it is hidden.
    window->on_showMsg(false, QStringLiteral("提取完毕"), 1, QStringLiteral("关闭"));
    window->hide();
    window->on_showMsg(false, QStringLiteral("程序已启动"));
    QCOMPARE(driver->messages, QStringList({QStringLiteral("提取完毕"), QStringLiteral("程序已启动")}));
    QCOMPARE(driver->messagePositions.at(0), QPoint(40 + (960 - 316) / 2, 30 + (640 - 190) / 2));
    QCOMPARE(driver->messagePositions.at(1), QPoint((800 - 316) / 2, (600 - 190) / 2));
}

void TestFrameMain::labelsKeepTheirNaturalSize()
{
    window->showSoftwareList({});
    for (int index = 0; index < stack->count(); ++index) {
        stack->setCurrentIndex(index);
        QWidget *shown = page(index);
        const QList<QLabel *> labels = shown->findChildren<QLabel *>();
        const QList<BtnColor *> buttons = shown->findChildren<BtnColor *>();
        for (QLabel *label : labels) {
            if (!label->isVisible() || label->minimumSize() == label->maximumSize())
                continue;
            const QString where = shown->objectName() + QLatin1Char('/') + label->objectName();
            QVERIFY2(label->width() >= label->sizeHint().width() && label->height() >= label->sizeHint().height(),
                     qPrintable(where + QStringLiteral(" is clipped")));
            const QRect area(label->mapTo(shown, QPoint(0, 0)), label->size());
            QVERIFY2(shown->rect().contains(area), qPrintable(where + QStringLiteral(" leaves the page")));
            for (BtnColor *button : buttons) {
                QVERIFY2(!button->isVisible() || !area.intersects(button->geometry()),
                         qPrintable(where + QStringLiteral(" runs into ") + button->objectName()));
            }
        }
    }
}

QTEST_MAIN(TestFrameMain)
#include "tst_framemain.moc"
