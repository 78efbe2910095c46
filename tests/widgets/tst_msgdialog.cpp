#include "btncolor.h"
#include "btnlabel.h"
#include "msgdialog.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QtTest>

#include <functional>

namespace {
const QString lineBreak = QStringLiteral("\r\n");
const int dialogWidth = 316;
const int dialogHeight = 190;
// The shadow's alpha from the dialog's outer edge inward, as the shadow image holds it.
const QList<int> shadowProfile{0, 0, 0, 2, 6, 12, 20, 30, 42, 56};

QFont dialogFont()
{
    QFont font(QStringLiteral("微软雅黑"));
    font.setPixelSize(14);
    return font;
}

template <typename T> T *child(QObject *dialog, const char *name)
{
    T *found = dialog->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("child %s not found", name);
    return found;
}

QString messageOf(MsgDialog *dialog)
{
    return child<QLabel>(dialog, "label_msg")->text();
}

// Calls action on the first modal MsgDialog for which match holds, from the running event loop.
void whenModal(const std::function<bool(MsgDialog *)> &match, const std::function<void(MsgDialog *)> &action)
{
    auto *poll = new QTimer(qApp);
    auto *deadline = new QElapsedTimer;
    deadline->start();
    QObject::connect(poll, &QTimer::timeout, qApp, [=] {
        auto *dialog = qobject_cast<MsgDialog *>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible() && match(dialog)) {
            poll->stop();
            poll->deleteLater();
            delete deadline;
            action(dialog);
        } else if (deadline->elapsed() > 5000) {
            poll->stop();
            poll->deleteLater();
            delete deadline;
            qWarning("no matching modal dialog appeared; active modal: %s",
                     QApplication::activeModalWidget() ? qPrintable(messageOf(qobject_cast<MsgDialog *>(QApplication::activeModalWidget()))) : "none");
        }
    });
    poll->start(5);
}

void whenModal(const std::function<void(MsgDialog *)> &action)
{
    whenModal([](MsgDialog *) { return true; }, action);
}

void clickOk(MsgDialog *dialog)
{
    QTest::mouseClick(child<BtnColor>(dialog, "btnColor_ok"), Qt::LeftButton);
}

void clickCancel(MsgDialog *dialog)
{
    QTest::mouseClick(child<BtnColor>(dialog, "btnColor_cancel"), Qt::LeftButton);
}

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

QImage imageOf(const char *name)
{
    return QImage(QString::fromLatin1(name)).convertToFormat(QImage::Format_ARGB32);
}
}

class TestMsgDialog : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void resultCodes_data();
    void resultCodes();
    void escapeKeepsTheLastResult();
    void wrapping_data();
    void wrapping();
    void buttons_data();
    void buttons();
    void icon_data();
    void icon();
    void placementOnThisScreen_data();
    void placementOnThisScreen();
    void placementOnScreens_data();
    void placementOnScreens();
    void shadowAndBody();
    void requestsWhileShownWaitTheirTurn();
    void screenshots();
};

void TestMsgDialog::cleanup()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), qPrintable(QStringLiteral("left open: ") + widget->metaObject()->className()));
}

void TestMsgDialog::resultCodes_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("result");

    QTest::newRow("OK") << "ok" << 0;
    QTest::newRow("cancel") << "cancel" << 1;
    QTest::newRow("title-bar close") << "close" << 2;
}

void TestMsgDialog::resultCodes()
{
    QFETCH(QString, button);
    QFETCH(int, result);

    MsgDialog dialog;
    whenModal([button](MsgDialog *shown) {
        if (button == QLatin1String("ok"))
            clickOk(shown);
        else if (button == QLatin1String("cancel"))
            clickCancel(shown);
        else
            QTest::mouseClick(child<BtnLabel>(shown, "btnLabel_close"), Qt::LeftButton);
    });
    QCOMPARE(dialog.showMsg(true, QStringLiteral("继续吗？"), 0, QStringLiteral("确定"), QStringLiteral("取消"), nullptr),
             result);
}

void TestMsgDialog::escapeKeepsTheLastResult()
{
    MsgDialog dialog;
    whenModal([](MsgDialog *shown) { QTest::keyClick(shown, Qt::Key_Escape); });
    QCOMPARE(dialog.showMsg(false, QStringLiteral("一"), 0, QStringLiteral("确定"), QString(), nullptr), -1);

    whenModal(clickCancel);
    QCOMPARE(dialog.showMsg(true, QStringLiteral("二"), 0, QStringLiteral("确定"), QStringLiteral("取消"), nullptr), 1);

    whenModal([](MsgDialog *shown) { QTest::keyClick(shown, Qt::Key_Escape); });
    QCOMPARE(dialog.showMsg(false, QStringLiteral("三"), 0, QStringLiteral("确定"), QString(), nullptr), 1);
}

void TestMsgDialog::wrapping_data()
{
    QTest::addColumn<QString>("msg");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("x");

    const QString chinese = QStringLiteral("没有找到可以提取的安装包或绿色软件请返回选择路径步骤重新指定目录");
    QTest::newRow("empty") << QString() << 1 << 158;
    QTest::newRow("two short paragraphs") << QStringLiteral("提取完毕\r\n请检查") << 2 << -1;
    QTest::newRow("lone newline is no separator") << QStringLiteral("第一行\n第二行") << 1 << -1;
    QTest::newRow("Chinese, two lines") << chinese.left(20) << 2 << 58;
    QTest::newRow("Chinese, three lines") << chinese.left(34) << 3 << 58;
    QTest::newRow("English sentence")
        << QStringLiteral("The extraction needs a writable destination folder and enough free disk space") << 3 << 58;
    QTest::newRow("English word longer than a line")
        << QStringLiteral("Averyveryverylongwordwithoutanyspacesthatcannotbebroken") << 1 << 58;
    QTest::newRow("failure with a file name")
        << QStringLiteral("提取失败，写入software_list_2022.xlsx文件错误，请检查：\r\n1：该文件是否已经打开；\r\n"
                          "2：该文件所在磁盘的空间是否已满。")
        << 5 << 58;
}

void TestMsgDialog::wrapping()
{
    QFETCH(QString, msg);
    QFETCH(int, lines);
    QFETCH(int, x);

    MsgDialog dialog;
    QString shown;
    QRect geometry;
    QPoint iconPos;
    whenModal([&](MsgDialog *dialog) {
        QLabel *label = child<QLabel>(dialog, "label_msg");
        shown = label->text();
        geometry = label->geometry();
        iconPos = child<QLabel>(dialog, "label_icon")->pos();
        clickOk(dialog);
    });
    dialog.showMsg(false, msg, 0, QStringLiteral("确定"), QString(), nullptr);

    // Only breaks are added; no character is lost or moved.
    QCOMPARE(QString(shown).remove(lineBreak), QString(msg).remove(lineBreak));
    QCOMPARE(msg.count(lineBreak), msg.split(lineBreak).size() - 1);
    const QStringList shownLines = shown.split(lineBreak);
    QCOMPARE(shownLines.size(), lines);

    const QFontMetrics fm(dialogFont());
    int searched = 0;
    for (int i = 0; i + 1 < shownLines.size(); ++i) {
        searched += shownLines.at(i).size();
        // An inserted break never sits between two ASCII letters.
        if (!msg.mid(searched, 2).startsWith(lineBreak)) {
            QVERIFY2(!(isAsciiLetter(shownLines.at(i).back()) && isAsciiLetter(shownLines.at(i + 1).front())),
                     qPrintable(shownLines.at(i)));
        } else {
            searched += 2;
        }
    }
    const QString first = shownLines.first();
    if (lines > 1 && !msg.startsWith(first + lineBreak) && !first.isEmpty() && !isAsciiLetter(first.back())) {
        // The first line of a paragraph ends just before the character that takes it past 200 pixels.
        QVERIFY(fm.boundingRect(first).width() <= 200);
        QVERIFY(fm.boundingRect(first + shownLines.at(1).front()).width() > 200);
    }

    QCOMPARE(geometry.height(), lines * fm.lineSpacing());
    QCOMPARE(geometry.width(), 240);
    QCOMPARE(geometry.y(), (149 - lines * fm.lineSpacing()) / 2 - 20);
    if (x >= 0)
        QCOMPARE(geometry.x(), x);
    QCOMPARE(iconPos, geometry.topLeft() + QPoint(-20, 2));
}

void TestMsgDialog::buttons_data()
{
    QTest::addColumn<bool>("isChooseMode");
    QTest::addColumn<QString>("okCaption");
    QTest::addColumn<QString>("cancelCaption");
    QTest::addColumn<int>("okX");
    QTest::addColumn<int>("cancelX");

    QTest::newRow("one short button") << false << QStringLiteral("关闭") << QStringLiteral("取消") << 116 << -1;
    QTest::newRow("two short buttons") << true << QStringLiteral("确定") << QStringLiteral("取消") << 74 << 158;
    QTest::newRow("one wide button") << false << QStringLiteral("我已知晓并继续") << QString() << -2 << -1;
    QTest::newRow("two wide buttons") << true << QStringLiteral("重新选择文件夹") << QStringLiteral("放弃本次提取")
                                      << -2 << -2;
}

void TestMsgDialog::buttons()
{
    QFETCH(bool, isChooseMode);
    QFETCH(QString, okCaption);
    QFETCH(QString, cancelCaption);
    QFETCH(int, okX);
    QFETCH(int, cancelX);

    MsgDialog dialog;
    // The previous request had two buttons, so a one-button request must hide cancel again.
    whenModal(clickOk);
    dialog.showMsg(true, QStringLiteral("上一条"), 0, QStringLiteral("好"), QStringLiteral("不"), nullptr);

    QRect ok, cancel;
    bool cancelShown = false;
    whenModal([&](MsgDialog *shown) {
        ok = child<BtnColor>(shown, "btnColor_ok")->geometry();
        cancel = child<BtnColor>(shown, "btnColor_cancel")->geometry();
        cancelShown = child<BtnColor>(shown, "btnColor_cancel")->isVisible();
        clickOk(shown);
    });
    dialog.showMsg(isChooseMode, QStringLiteral("消息"), 0, okCaption, cancelCaption, nullptr);

    const QFontMetrics fm(dialogFont());
    const int okWidth = qMax(fm.boundingRect(okCaption).width(), 60) + 4;
    QCOMPARE(ok.width(), okWidth);
    QCOMPARE(ok.height(), 28);
    QCOMPARE(ok.y(), 101);
    QCOMPARE(cancelShown, isChooseMode);
    if (okX == -2)
        QVERIFY(okWidth > 64);
    if (isChooseMode) {
        const int cancelWidth = qMax(fm.boundingRect(cancelCaption).width(), 60) + 4;
        QCOMPARE(cancel.width(), cancelWidth);
        QCOMPARE(cancel.y(), 101);
        // A 20-pixel gap, and the pair centred on the dialog less the body's 10-pixel offset.
        QCOMPARE(cancel.x() - ok.right() - 1, 20);
        QVERIFY(qAbs((ok.x() + 10) - (dialogWidth - cancel.right() - 1 - 10)) <= 1);
        if (okX >= 0) {
            QCOMPARE(ok.x(), okX);
            QCOMPARE(cancel.x(), cancelX);
        }
    } else {
        QCOMPARE(ok.x(), (dialogWidth - okWidth) / 2 - 10);
        if (okX >= 0)
            QCOMPARE(ok.x(), okX);
    }
}

void TestMsgDialog::icon_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("image");

    QTest::newRow("warning") << 0 << ":/img/warn.png";
    QTest::newRow("success") << 1 << ":/img/ok.png";
    QTest::newRow("error") << 2 << ":/img/msg_err.png";
    QTest::newRow("other keeps the last") << 7 << ":/img/ok.png";
}

void TestMsgDialog::icon()
{
    QFETCH(int, type);
    QFETCH(QString, image);

    MsgDialog dialog;
    QImage shown;
    whenModal(clickOk);
    dialog.showMsg(false, QStringLiteral("前一条"), 1, QStringLiteral("确定"), QString(), nullptr);
    whenModal([&](MsgDialog *dialog) {
        shown = child<QLabel>(dialog, "label_icon")->pixmap(Qt::ReturnByValue).toImage();
        clickOk(dialog);
    });
    dialog.showMsg(false, QStringLiteral("消息"), type, QStringLiteral("确定"), QString(), nullptr);

    // Compared as the label holds them, premultiplied.
    const QImage expected = QImage(image).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(expected.size(), QSize(16, 16));
    QCOMPARE(shown.convertToFormat(QImage::Format_ARGB32_Premultiplied), expected);
}

void TestMsgDialog::placementOnThisScreen_data()
{
    QTest::addColumn<QRect>("parent");
    QTest::addColumn<QPoint>("expected");

    const QSize screen = QGuiApplication::primaryScreen()->size();
    QTest::newRow("no parent: centred on the screen")
        << QRect() << QPoint((screen.width() - dialogWidth) / 2, (screen.height() - dialogHeight) / 2);
    QTest::newRow("centred on the parent") << QRect(50, 40, 600, 400) << QPoint(50 + 142, 40 + 105);
    QTest::newRow("parent off the top left") << QRect(-900, -700, 960, 640) << QPoint(0, 0);
    // Off the bottom the dialog keeps 50 pixels free for a task bar.
    QTest::newRow("parent off the bottom right")
        << QRect(screen.width() - 100, screen.height() - 60, 960, 640)
        << QPoint(screen.width() - dialogWidth, screen.height() - dialogHeight - 50);
}

void TestMsgDialog::placementOnThisScreen()
{
    QFETCH(QRect, parent);
    QFETCH(QPoint, expected);

    QWidget parentWindow;
    parentWindow.setGeometry(parent);
    MsgDialog dialog;
    QPoint shownAt;
    whenModal([&](MsgDialog *shown) {
        shownAt = shown->pos();
        clickOk(shown);
    });
    dialog.showMsg(false, QStringLiteral("消息"), 0, QStringLiteral("确定"), QString(),
                   parent.isNull() ? nullptr : &parentWindow);
    QCOMPARE(shownAt, expected);
}

void TestMsgDialog::placementOnScreens_data()
{
    QTest::addColumn<QRect>("reference");
    QTest::addColumn<QList<QRect>>("screens");
    QTest::addColumn<QPoint>("expected");

    const QRect full(0, 0, 1920, 1080);
    const QRect right(1920, 0, 1920, 1080);
    const QRect left(-1280, 0, 1280, 1024);
    QTest::newRow("one screen, centred") << full << QList<QRect>{full} << QPoint(802, 445);
    QTest::newRow("one screen, off the right") << QRect(1800, 100, 960, 640) << QList<QRect>{full}
                                               << QPoint(1920 - 316, 325);
    QTest::newRow("side by side, off the bottom") << QRect(2500, 1000, 960, 640) << QList<QRect>{full, right}
                                                  << QPoint(2822, 1080 - 190 - 50);
    QTest::newRow("side by side, across the seam goes onto one screen")
        << QRect(1500, 300, 960, 640) << QList<QRect>{full, right} << QPoint(1920, 525);
    QTest::newRow("screen left of the first") << QRect(-1000, 200, 600, 400) << QList<QRect>{full, left}
                                              << QPoint(-1000 + 142, 305);
    QTest::newRow("far outside every screen") << QRect(-5000, -5000, 960, 640) << QList<QRect>{full, left}
                                              << QPoint(-1280, 0);
}

void TestMsgDialog::placementOnScreens()
{
    QFETCH(QRect, reference);
    QFETCH(QList<QRect>, screens);
    QFETCH(QPoint, expected);
    QCOMPARE(MsgDialog::placement(reference, QSize(dialogWidth, dialogHeight), screens), expected);
}

void TestMsgDialog::shadowAndBody()
{
    MsgDialog dialog;
    QImage shot;
    whenModal([&](MsgDialog *shown) {
        shot = shown->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        clickOk(shown);
    });
    dialog.showMsg(false, QStringLiteral("消息"), 0, QStringLiteral("确定"), QString(), nullptr);

    QCOMPARE(shot.size(), QSize(dialogWidth, dialogHeight));
    const int w = dialogWidth;
    const int h = dialogHeight;
    // The edges: the 10-pixel band of the profile, then the opaque white body.
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(qAlpha(shot.pixel(i, 100)), shadowProfile.at(i));
        QCOMPARE(qAlpha(shot.pixel(w - 1 - i, 100)), shadowProfile.at(i));
        QCOMPARE(qAlpha(shot.pixel(150, h - 1 - i)), shadowProfile.at(i));
    }
    QCOMPARE(shot.pixel(10, 100), qRgba(255, 255, 255, 255));
    QCOMPARE(shot.pixel(w - 11, 100), qRgba(255, 255, 255, 255));
    QCOMPARE(shot.pixel(150, h - 11), qRgba(255, 255, 255, 255));
    // The title strip starts at the very top, over the top band.
    QCOMPARE(shot.pixel(150, 0), qRgba(56, 164, 245, 255));
    QCOMPARE(shot.pixel(10, 29), qRgba(56, 164, 245, 255));
    QCOMPARE(qAlpha(shot.pixel(9, 29)), shadowProfile.at(9));

    // Corners are drawn unscaled from the corners of the shadow image.
    const QImage big = imageOf(":/img/big.png");
    for (int j = 0; j < 10; ++j) {
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(shot.pixel(i, j), big.pixel(i, j));
            QCOMPARE(shot.pixel(w - 1 - i, j), big.pixel(big.width() - 1 - i, j));
            QCOMPARE(shot.pixel(i, h - 1 - j), big.pixel(i, big.height() - 1 - j));
            QCOMPARE(shot.pixel(w - 1 - i, h - 1 - j), big.pixel(big.width() - 1 - i, big.height() - 1 - j));
        }
    }
}

void TestMsgDialog::requestsWhileShownWaitTheirTurn()
{
    MsgDialog dialog;
    QStringList shownOrder;
    QList<MsgDialog *> visibleMsgDialogs;
    QString firstTextWhileWaiting;
    bool firstCancelShownWhileWaiting = true;
    int second = -100;
    int third = -100;

    auto visibleCount = [] {
        int count = 0;
        for (QWidget *widget : QApplication::topLevelWidgets())
            count += qobject_cast<MsgDialog *>(widget) && widget->isVisible();
        return count;
    };

    whenModal([&](MsgDialog *first) {
        shownOrder << messageOf(first);
        // Both requests are made from inside the first dialog's event loop, as a page's message and the
        // controller's final message can meet.
        whenModal([&](MsgDialog *) {
            whenModal([&, first](MsgDialog *) {
                firstTextWhileWaiting = messageOf(first);
                firstCancelShownWhileWaiting = child<BtnColor>(first, "btnColor_cancel")->isVisible();
                QCOMPARE(visibleCount(), 1);
                whenModal([&](MsgDialog *shown) { return messageOf(shown) != QStringLiteral("第一条"); },
                          [&](MsgDialog *shown) {
                              shownOrder << messageOf(shown);
                              QCOMPARE(visibleCount(), 1);
                              whenModal([&](MsgDialog *shown) { return messageOf(shown) == QStringLiteral("第三条"); },
                                        [&](MsgDialog *shown) {
                                            shownOrder << messageOf(shown);
                                            QCOMPARE(visibleCount(), 1);
                                            clickOk(shown);
                                        });
                              clickCancel(shown);
                          });
                clickOk(first);
            });
            third = dialog.showMsg(false, QStringLiteral("第三条"), 1, QStringLiteral("关闭"), QString(), nullptr);
        });
        second = dialog.showMsg(true, QStringLiteral("第二条"), 2, QStringLiteral("重试"), QStringLiteral("放弃"), nullptr);
    });
    const int first = dialog.showMsg(false, QStringLiteral("第一条"), 0, QStringLiteral("确定"), QString(), nullptr);

    QCOMPARE(firstTextWhileWaiting, QStringLiteral("第一条"));
    QVERIFY(!firstCancelShownWhileWaiting);
    QCOMPARE(shownOrder, (QStringList{QStringLiteral("第一条"), QStringLiteral("第二条"), QStringLiteral("第三条")}));
    QCOMPARE(first, 0);
    QCOMPARE(second, 1);
    QCOMPARE(third, 0);

    // The dialog serves the next request as usual.
    whenModal(clickCancel);
    QCOMPARE(dialog.showMsg(true, QStringLiteral("之后"), 0, QStringLiteral("确定"), QStringLiteral("取消"), nullptr), 1);
}

void TestMsgDialog::screenshots()
{
    const QString folder = QStringLiteral(PELBROOK_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(folder));
    const QString msg = QStringLiteral("没有找到可以提取的安装包或绿色软件，请返回“选择路径”步骤重新指定目录。");

    struct Shot
    {
        const char *file;
        bool isChooseMode;
        int type;
    };
    const QList<Shot> shots{{"msgdialog-one-button.png", false, 0}, {"msgdialog-two-buttons.png", true, 2}};
    for (const Shot &shot : shots) {
        MsgDialog dialog;
        QImage image;
        whenModal([&](MsgDialog *shown) {
            image = shown->grab().toImage();
            clickOk(shown);
        });
        dialog.showMsg(shot.isChooseMode, msg, shot.type, QStringLiteral("关闭"), QStringLiteral("取消"), nullptr);

        // On the wizard's white page, so that the shadow shows as it does on screen.
        QImage page(image.size() + QSize(40, 40), QImage::Format_ARGB32);
        page.fill(QColor(245, 246, 248));
        QPainter painter(&page);
        painter.drawImage(20, 20, image);
        painter.end();
        QVERIFY(page.save(folder + QLatin1Char('/') + QLatin1String(shot.file)));
    }
}

QTEST_MAIN(TestMsgDialog)
#include "tst_msgdialog.moc"
