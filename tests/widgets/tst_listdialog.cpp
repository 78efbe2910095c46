// The list of files the wizard offers after an export: its table, its CSV and its buttons.
#include "btncolor.h"
#include "listdialog.h"

#include <QFileDialog>
#include <QLabel>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Runs action from the event loop on the first modal widget of type T.
template <typename T> void whenModal(const std::function<void(T *)> &action)
{
    auto *poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, qApp, [=] {
        auto *modal = qobject_cast<T *>(QApplication::activeModalWidget());
        if (modal && modal->isVisible()) {
            poll->stop();
            poll->deleteLater();
            action(modal);
        }
    });
    poll->start(5);
}

const QStringList headers{QStringLiteral("文件"), QStringLiteral("情况"), QStringLiteral("说明")};
const QList<QStringList> rows{
    {QStringLiteral("C:\\安装包\\a.exe"), QStringLiteral("无法读取"), QStringLiteral("cannot open: denied")},
    {QStringLiteral("b \"quoted\", with comma.msi"), QStringLiteral("新增"), QString()},
};

} // namespace

class TestListDialog : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void table();
    void csv();
    void saveThroughDialog();
};

void TestListDialog::cleanup()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), widget->metaObject()->className());
}

void TestListDialog::table()
{
    ListDialog dialog;
    dialog.setRows(QStringLiteral("文件详情"), headers, rows);
    auto *table = dialog.findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->columnCount(), 3);
    for (int row = 0; row < rows.size(); ++row)
        for (int column = 0; column < 3; ++column)
            QCOMPARE(table->item(row, column)->text(), rows.at(row).at(column));
    QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("情况"));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label_title"))->text(), QStringLiteral("文件详情"));

    // A second list replaces the first.
    dialog.setRows(QStringLiteral("文件详情"), headers, rows.mid(1));
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 0)->text(), rows.at(1).at(0));

    whenModal<ListDialog>([](ListDialog *shown) {
        QTest::mouseClick(shown->findChild<BtnColor *>(QStringLiteral("btnColor_close")), Qt::LeftButton);
    });
    QCOMPARE(dialog.showList(nullptr), int(QDialog::Rejected));
}

// Quotes doubled, every field quoted, CRLF lines, and a byte-order mark for spreadsheets.
void TestListDialog::csv()
{
    QTemporaryDir dir;
    ListDialog dialog;
    dialog.setRows(QStringLiteral("文件详情"), headers, rows);
    const QString path = dir.filePath(QStringLiteral("list.csv"));
    QVERIFY(dialog.saveCsv(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\xEF\xBB\xBF")
                                 + QStringLiteral("\"文件\",\"情况\",\"说明\"\r\n"
                                                  "\"C:\\安装包\\a.exe\",\"无法读取\",\"cannot open: denied\"\r\n"
                                                  "\"b \"\"quoted\"\", with comma.msi\",\"新增\",\"\"\r\n")
                                       .toUtf8());
    QVERIFY(!dialog.saveCsv(dir.filePath(QStringLiteral("missing/list.csv"))));
}

// The save button asks for a file name (".csv" added when missing) and says where it saved.
void TestListDialog::saveThroughDialog()
{
    QTemporaryDir dir;
    ListDialog dialog;
    dialog.setRows(QStringLiteral("文件详情"), headers, rows);
    whenModal<ListDialog>([&](ListDialog *shown) {
        whenModal<QFileDialog>([&](QFileDialog *files) {
            files->selectFile(dir.filePath(QStringLiteral("saved")));
            QMetaObject::invokeMethod(files, "accept");
            QTimer::singleShot(0, shown, [shown] { shown->on_close(); });
        });
        QTest::mouseClick(shown->findChild<BtnColor *>(QStringLiteral("btnColor_save")), Qt::LeftButton);
    });
    dialog.showList(nullptr);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("saved.csv"))));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label_status"))->text(),
             QStringLiteral("已保存：") + QDir::toNativeSeparators(dir.filePath(QStringLiteral("saved.csv"))));
}

QTEST_MAIN(TestListDialog)
#include "tst_listdialog.moc"
