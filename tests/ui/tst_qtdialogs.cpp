// Qt's own dialogs, opened by the pages' browse buttons, speak the wizard's Chinese.
#include "dialogdriver.h"
#include "framethree.h"
#include "frametwo.h"
#include "platform.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {
QString qtText(const char *context, const char *source)
{
    return QCoreApplication::translate(context, source);
}

bool hasChinese(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff)
            return true;
    }
    return false;
}

void clickBrowse(QWidget *page)
{
    QTest::mouseClick(page->findChild<QWidget *>(QStringLiteral("btnColor_browse")), Qt::LeftButton);
}
}

class TestQtDialogs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void folderDialog();
    void saveDialogAndItsOverwriteQuestion();
};

void TestQtDialogs::initTestCase()
{
    Platform::substituteFonts();
    QVERIFY2(Platform::loadQtTranslations(), "Qt's Simplified Chinese translation is not installed");
}

void TestQtDialogs::folderDialog()
{
    FrameTwo page(nullptr);
    page.show();
    DialogDriver driver;
    QString title, chooseButton, cancelButton, lookIn;
    driver.onFileDialog([&](QFileDialog *dialog) {
        title = dialog->windowTitle();
        const auto *box = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        chooseButton = box->button(QDialogButtonBox::Open)->text();
        cancelButton = box->button(QDialogButtonBox::Cancel)->text();
        lookIn = dialog->findChild<QLabel *>(QStringLiteral("lookInLabel"))->text();
        DialogDriver::cancel(dialog);
    });
    clickBrowse(&page);
    QCOMPARE(driver.pendingActions(), 0);

    QCOMPARE(title, qtText("QFileDialog", "Find Directory"));
    QCOMPARE(chooseButton, qtText("QFileDialog", "&Choose"));
    QCOMPARE(lookIn, qtText("QFileDialog", "Look in:"));
    for (const QString &text : {title, chooseButton, cancelButton, lookIn})
        QVERIFY2(hasChinese(text), qPrintable(text));
}

void TestQtDialogs::saveDialogAndItsOverwriteQuestion()
{
    QTemporaryDir folder;
    const QString existing = folder.filePath(QStringLiteral("软件信息.xlsx"));
    QFile file(existing);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    FrameThree page(nullptr);
    page.show();
    DialogDriver driver;
    QString title, question, yesButton;
    driver.onFileDialog([&](QFileDialog *dialog) {
        title = dialog->windowTitle();
        DialogDriver::chooseSaveFile(dialog, existing);
    });
    driver.onQuestion([&](QMessageBox *box) {
        question = box->text();
        yesButton = box->button(QMessageBox::Yes)->text();
        QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    });
    // Declining the question leaves the save dialog open; it is then cancelled.
    driver.onFileDialog(DialogDriver::cancel);
    clickBrowse(&page);
    QCOMPARE(driver.pendingActions(), 0);

    QCOMPARE(title, qtText("QFileDialog", "Save As"));
    QCOMPARE(question,
             qtText("QFileDialog", "%1 already exists.\nDo you want to replace it?").arg(QStringLiteral("软件信息.xlsx")));
    for (const QString &text : {title, question, yesButton})
        QVERIFY2(hasChinese(text), qPrintable(text));
    QVERIFY(page.dstFileName().isEmpty());
}

QTEST_MAIN(TestQtDialogs)
#include "tst_qtdialogs.moc"
