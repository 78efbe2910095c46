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
const QSize dialogSize(316, 190);
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

void clickOk(MsgDialog *dialog)
{
    QTest::mouseClick(child<BtnColor>(dialog, "btnColor_ok"), Qt::LeftButton);
}

void clickCancel(MsgDialog *dialog)
{
    QTest::mouseClick(child<BtnColor>(dialog, "btnColor_cancel"), Qt::LeftButton);
}

// Runs action, from the event loop, on the first shown modal MsgDialog whose message is text (or any).
void whenModal(const std::function<void(MsgDialog *)> &action, const QString &text = QString())
{
    auto *poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, qApp, [=] {
        auto *dialog = qobject_cast<MsgDialog *>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible() && (text.isNull() || messageOf(dialog) == text)) {
            poll->deleteLater();
            poll->stop();
            action(dialog);
        }
    });
    poll->start(5);
}

bool isAsciiLetter(QChar c)
{
    return c.unicode() < 128 && c.isLetter();
}
}

class TestMsgDialog : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void resultCodes_data();
    void resultCodes();
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
    void opaqueWithoutCompositor();
    void buttonLookWhenShownAgain_data();
    void buttonLookWhenShownAgain();
    void requestsWhileShownWaitTheirTurn();
    void screenshots();
};

void TestMsgDialog::cleanup()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), widget->metaObject()->className());
}

void TestMsgDialog::resultCodes_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("asked");

    QTest::newRow("OK") << "" << "ok" << 0 << false;
    QTest::newRow("cancel") << "" << "cancel" << 1 << false;
    QTest::newRow("title-bar close") << "" << "close" << 2 << false;
    QTest::newRow("Escape at first") << "" << "escape" << -1 << false;
    QTest::newRow("Escape keeps the last code") << "cancel" << "escape" << 1 << false;
    // A question whose answer is acted on: Escape is the close button, whatever came before.
    QTest::newRow("asked: cancel") << "" << "cancel" << 1 << true;
    QTest::newRow("asked: Escape after a cancel") << "cancel" << "escape" << 2 << true;
    QTest::newRow("asked: Escape after an OK") << "ok" << "escape" << 2 << true;
}

void TestMsgDialog::resultCodes()
{
    QFETCH(QString, before);
    QFETCH(QString, button);
    QFETCH(int, result);
    QFETCH(bool, asked);

    MsgDialog dialog;
    auto press = [](const QString &button) {
        return [button](MsgDialog *shown) {
            if (button == QLatin1String("ok"))
                clickOk(shown);
            else if (button == QLatin1String("cancel"))
                clickCancel(shown);
            else if (button == QLatin1String("close"))
                QTest::mouseClick(child<BtnLabel>(shown, "btnLabel_close"), Qt::LeftButton);
            else
                QTest::keyClick(shown, Qt::Key_Escape);
        };
    };
    const QString ok = QStringLiteral("确定"), cancel = QStringLiteral("取消");
    if (!before.isEmpty()) {
        whenModal(press(before));
        dialog.showMsg(true, QStringLiteral("之前"), 0, ok, cancel, nullptr);
    }
    whenModal(press(button));
    QCOMPARE(asked ? dialog.askMsg(QStringLiteral("继续吗？"), 0, ok, cancel, nullptr)
                   : dialog.showMsg(true, QStringLiteral("继续吗？"), 0, ok, cancel, nullptr),
             result);
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
        shown = messageOf(dialog);
        geometry = child<QLabel>(dialog, "label_msg")->geometry();
        iconPos = child<QLabel>(dialog, "label_icon")->pos();
        clickOk(dialog);
    });
    dialog.showMsg(false, msg, 0, QStringLiteral("确定"), QString(), nullptr);

    // Only breaks are added; no character is lost or moved.
    QCOMPARE(QString(shown).remove(lineBreak), QString(msg).remove(lineBreak));
    const QStringList shownLines = shown.split(lineBreak);
    QCOMPARE(shownLines.size(), lines);
    const QStringList paragraphs = msg.split(lineBreak);
    for (int i = 0; i + 1 < shownLines.size(); ++i) {
        const QString &line = shownLines.at(i);
        // An inserted break never splits a run of ASCII letters.
        if (!paragraphs.contains(line))
            QVERIFY2(!(isAsciiLetter(line.back()) && isAsciiLetter(shownLines.at(i + 1).front())), qPrintable(line));
    }
    const QFontMetrics fm(dialogFont());
    const QString &first = shownLines.first();
    if (lines > 1 && !paragraphs.contains(first) && !isAsciiLetter(first.back())) {
        // A paragraph's first line ends just before the character that takes it past 200 pixels.
        QVERIFY(fm.boundingRect(first).width() <= 200);
        QVERIFY(fm.boundingRect(first + shownLines.at(1).front()).width() > 200);
    }

    QCOMPARE(geometry.size(), QSize(240, lines * fm.lineSpacing()));
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
    QTest::newRow("one wide button") << false << QStringLiteral("我已知晓并继续") << QString() << -1 << -1;
    QTest::newRow("two wide buttons") << true << QStringLiteral("重新选择文件夹") << QStringLiteral("放弃本次提取")
                                      << -1 << -1;
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
    QCOMPARE(ok.size(), QSize(qMax(fm.boundingRect(okCaption).width(), 60) + 4, 28));
    QCOMPARE(ok.y(), 101);
    QCOMPARE(cancelShown, isChooseMode);
    if (okX >= 0)
        QCOMPARE(ok.x(), okX);
    if (!isChooseMode) {
        QCOMPARE(ok.x(), (dialogSize.width() - ok.width()) / 2 - 10);
        return;
    }
    QCOMPARE(cancel.size(), QSize(qMax(fm.boundingRect(cancelCaption).width(), 60) + 4, 28));
    QCOMPARE(cancel.y(), 101);
    // A 20-pixel gap, and the pair centred on the dialog less the body's 10-pixel offset.
    QCOMPARE(cancel.x() - ok.right() - 1, 20);
    QVERIFY(qAbs((ok.x() + 10) - (dialogSize.width() - cancel.right() - 1 - 10)) <= 1);
    if (cancelX >= 0)
        QCOMPARE(cancel.x(), cancelX);
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
    whenModal(clickOk);
    dialog.showMsg(false, QStringLiteral("前一条"), 1, QStringLiteral("确定"), QString(), nullptr);
    QImage shown;
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
    QTest::newRow("no parent: centred on the screen") << QRect() << QPoint((screen.width() - 316) / 2,
                                                                           (screen.height() - 190) / 2);
    QTest::newRow("centred on the parent") << QRect(50, 40, 600, 400) << QPoint(50 + 142, 40 + 105);
    QTest::newRow("parent off the top left") << QRect(-900, -700, 960, 640) << QPoint(0, 0);
    // Off the bottom the dialog keeps 50 pixels free for a task bar.
    QTest::newRow("parent off the bottom right") << QRect(screen.width() - 100, screen.height() - 60, 960, 640)
                                                 << QPoint(screen.width() - 316, screen.height() - 190 - 50);
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

    const QRect full(0, 0, 1920, 1080), right(1920, 0, 1920, 1080), left(-1280, 0, 1280, 1024);
    QTest::newRow("one screen, centred") << full << QList<QRect>{full} << QPoint(802, 445);
    QTest::newRow("one screen, off the right") << QRect(1800, 100, 960, 640) << QList<QRect>{full}
                                               << QPoint(1920 - 316, 325);
    QTest::newRow("side by side, off the bottom") << QRect(2500, 1000, 960, 640) << QList<QRect>{full, right}
                                                  << QPoint(2822, 1080 - 190 - 50);
    QTest::newRow("across the seam goes onto one screen") << QRect(1500, 300, 960, 640)
                                                          << QList<QRect>{full, right} << QPoint(1920, 525);
    QTest::newRow("screen left of the first") << QRect(-1000, 200, 600, 400) << QList<QRect>{full, left}
                                              << QPoint(-858, 305);
    QTest::newRow("far outside every screen") << QRect(-5000, -5000, 960, 640) << QList<QRect>{full, left}
                                              << QPoint(-1280, 0);
}

void TestMsgDialog::placementOnScreens()
{
    QFETCH(QRect, reference);
    QFETCH(QList<QRect>, screens);
    QFETCH(QPoint, expected);
    QCOMPARE(MsgDialog::placement(reference, dialogSize, screens), expected);
}

void TestMsgDialog::shadowAndBody()
{
    // As with a compositing manager, also where the test runs on an X server without one.
    qputenv("PELBROOK_TRANSLUCENT_WINDOWS", "1");
    MsgDialog dialog;
    QImage shot;
    whenModal([&](MsgDialog *shown) {
        shot = shown->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        clickOk(shown);
    });
    dialog.showMsg(false, QStringLiteral("消息"), 0, QStringLiteral("确定"), QString(), nullptr);
    qunsetenv("PELBROOK_TRANSLUCENT_WINDOWS");

    QCOMPARE(shot.size(), dialogSize);
    const int w = shot.width(), h = shot.height();
    // Left, right and bottom: the 10-pixel band of the profile, then the opaque white body.
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(qAlpha(shot.pixel(i, 100)), shadowProfile.at(i));
        QCOMPARE(qAlpha(shot.pixel(w - 1 - i, 100)), shadowProfile.at(i));
        QCOMPARE(qAlpha(shot.pixel(150, h - 1 - i)), shadowProfile.at(i));
    }
    const QRgb white = qRgba(255, 255, 255, 255);
    QCOMPARE(shot.pixel(10, 100), white);
    QCOMPARE(shot.pixel(w - 11, 100), white);
    QCOMPARE(shot.pixel(150, h - 11), white);
    // The title strip starts at the very top, over the top band.
    QCOMPARE(shot.pixel(150, 0), qRgba(56, 164, 245, 255));
    QCOMPARE(shot.pixel(10, 29), qRgba(56, 164, 245, 255));

    // Corners are drawn unscaled from the corners of the shadow image.
    const QImage big = QImage(QStringLiteral(":/img/big.png")).convertToFormat(QImage::Format_ARGB32);
    for (int j = 0; j < 10; ++j) {
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(shot.pixel(i, j), big.pixel(i, j));
            QCOMPARE(shot.pixel(w - 1 - i, j), big.pixel(big.width() - 1 - i, j));
            QCOMPARE(shot.pixel(i, h - 1 - j), big.pixel(i, big.height() - 1 - j));
            QCOMPARE(shot.pixel(w - 1 - i, h - 1 - j), big.pixel(big.width() - 1 - i, big.height() - 1 - j));
        }
    }
}

// Where translucent windows cannot be shown, the shadow's alpha would show as a black band.
void TestMsgDialog::opaqueWithoutCompositor()
{
    struct Shown
    {
        QImage shot;
        QRegion mask;
        QList<QRect> layout;
    };
    auto show = [](MsgDialog &dialog, const char *translucentWindows) {
        qputenv("PELBROOK_TRANSLUCENT_WINDOWS", translucentWindows);
        Shown seen;
        whenModal([&](MsgDialog *shown) {
            seen.shot = shown->grab().toImage().convertToFormat(QImage::Format_ARGB32);
            seen.mask = shown->mask();
            for (const char *name : {"widgetMove", "label_back", "label_icon", "label_msg", "btnColor_ok", "btnColor_cancel"}) {
                const QWidget *widget = child<QWidget>(shown, name);
                seen.layout << QRect(widget->mapTo(shown, QPoint(0, 0)), widget->size());
            }
            clickOk(shown);
        });
        dialog.showMsg(true, QStringLiteral("消息"), 0, QStringLiteral("确定"), QStringLiteral("取消"), nullptr);
        qunsetenv("PELBROOK_TRANSLUCENT_WINDOWS");
        return seen;
    };

    MsgDialog dialog;
    const Shown withShadow = show(dialog, "1");
    const Shown opaque = show(dialog, "0");
    const Shown shadowAgain = show(dialog, "1");

    QVERIFY(withShadow.mask.isEmpty());
    QVERIFY(shadowAgain.mask.isEmpty());
    QCOMPARE(opaque.layout, withShadow.layout);
    // The window is cut to the title strip and the body, with a one-pixel outline round them.
    const QRect kept(9, 0, dialogSize.width() - 18, dialogSize.height() - 9);
    QCOMPARE(opaque.mask, QRegion(kept));

    int translucentPixels = 0, blackPixels = 0;
    for (int y = kept.top(); y <= kept.bottom(); ++y) {
        for (int x = kept.left(); x <= kept.right(); ++x) {
            const QRgb pixel = opaque.shot.pixel(x, y);
            translucentPixels += qAlpha(pixel) != 255;
            blackPixels += (pixel & 0xffffff) == 0;
        }
    }
    QCOMPARE(translucentPixels, 0);
    QCOMPARE(blackPixels, 0);

    const QRgb blue = qRgba(56, 164, 245, 255), white = qRgba(255, 255, 255, 255);
    QCOMPARE(opaque.shot.pixel(kept.left(), 100), blue);
    QCOMPARE(opaque.shot.pixel(kept.right(), 100), blue);
    QCOMPARE(opaque.shot.pixel(150, kept.bottom()), blue);
    QCOMPARE(opaque.shot.pixel(kept.left() + 1, 100), white);
    QCOMPARE(opaque.shot.pixel(kept.right() - 1, 100), white);
    QCOMPARE(opaque.shot.pixel(150, kept.bottom() - 1), white);
    QCOMPARE(opaque.shot.pixel(150, 0), blue);
    // Inside the outline the dialog looks as it does with its shadow.
    QCOMPARE(opaque.shot.copy(kept.adjusted(1, 0, -1, -1)), withShadow.shot.copy(kept.adjusted(1, 0, -1, -1)));
}

void TestMsgDialog::buttonLookWhenShownAgain_data()
{
    QTest::addColumn<bool>("pointerOverOk");
    QTest::addColumn<QColor>("expected");

    QTest::newRow("pointer elsewhere: normal") << false << QColor(56, 164, 245);
    QTest::newRow("pointer over the button: hover") << true << QColor(99, 193, 255);
}

// A click's release leaves the hover look behind, and the dialog hides before any Leave arrives.
void TestMsgDialog::buttonLookWhenShownAgain()
{
    QFETCH(bool, pointerOverOk);
    QFETCH(QColor, expected);

    auto fillOf = [](BtnColor *button) { return QColor(button->grab().toImage().pixel(4, button->height() / 2)); };
    MsgDialog dialog;
    QCursor::setPos(0, 0);
    QPoint okCentre;
    whenModal([&](MsgDialog *shown) {
        BtnColor *ok = child<BtnColor>(shown, "btnColor_ok");
        okCentre = ok->mapToGlobal(ok->rect().center());
        QTest::mouseMove(ok);
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    dialog.showMsg(false, QStringLiteral("第一条"), 0, QStringLiteral("确定"), QString(), nullptr);

    QCursor::setPos(pointerOverOk ? okCentre : QPoint(0, 0));
    QColor seen;
    whenModal([&](MsgDialog *shown) {
        seen = fillOf(child<BtnColor>(shown, "btnColor_ok"));
        QTest::keyClick(shown, Qt::Key_Escape);
    });
    dialog.showMsg(false, QStringLiteral("第二条"), 0, QStringLiteral("确定"), QString(), nullptr);
    QCOMPARE(seen, expected);
}

void TestMsgDialog::requestsWhileShownWaitTheirTurn()
{
    const QString first = QStringLiteral("第一条"), second = QStringLiteral("第二条"), third = QStringLiteral("第三条");
    MsgDialog dialog;
    QStringList shownOrder;
    QList<int> visibleCounts;
    QString firstTextWhileWaiting;
    bool firstCancelShownWhileWaiting = true;
    int secondResult = -100, thirdResult = -100;

    auto record = [&](MsgDialog *shown) {
        shownOrder << messageOf(shown);
        int count = 0;
        for (QWidget *widget : QApplication::topLevelWidgets())
            count += qobject_cast<MsgDialog *>(widget) && widget->isVisible();
        visibleCounts << count;
    };
    whenModal([&](MsgDialog *shown) {
        record(shown);
        // Both later requests come from inside the first dialog's event loop, as a page's message and
        // the controller's final message can meet.
        whenModal([&](MsgDialog *) {
            whenModal([&](MsgDialog *firstDialog) {
                firstTextWhileWaiting = messageOf(firstDialog);
                firstCancelShownWhileWaiting = child<BtnColor>(firstDialog, "btnColor_cancel")->isVisible();
                whenModal([&](MsgDialog *shown) {
                    record(shown);
                    whenModal([&](MsgDialog *shown) { record(shown); clickOk(shown); }, third);
                    clickCancel(shown);
                }, second);
                clickOk(firstDialog);
            });
            thirdResult = dialog.showMsg(false, third, 1, QStringLiteral("关闭"), QString(), nullptr);
        });
        secondResult = dialog.showMsg(true, second, 2, QStringLiteral("重试"), QStringLiteral("放弃"), nullptr);
    });
    const int firstResult = dialog.showMsg(false, first, 0, QStringLiteral("确定"), QString(), nullptr);

    QCOMPARE(firstTextWhileWaiting, first);
    QVERIFY(!firstCancelShownWhileWaiting);
    QCOMPARE(shownOrder, (QStringList{first, second, third}));
    QCOMPARE(visibleCounts, (QList<int>{1, 1, 1}));
    QCOMPARE(firstResult, 0);
    QCOMPARE(secondResult, 1);
    QCOMPARE(thirdResult, 0);

    // Afterwards the dialog serves requests as usual.
    whenModal(clickCancel);
    QCOMPARE(dialog.showMsg(true, QStringLiteral("之后"), 0, QStringLiteral("确定"), QStringLiteral("取消"), nullptr), 1);
}

void TestMsgDialog::screenshots()
{
    const QString folder = QStringLiteral(PELBROOK_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(folder));
    const QString msg = QStringLiteral("没有找到可以提取的安装包或绿色软件，请返回“选择路径”步骤重新指定目录。");

    for (const bool isChooseMode : {false, true}) {
        MsgDialog dialog;
        QImage image;
        whenModal([&](MsgDialog *shown) {
            image = shown->grab().toImage();
            clickOk(shown);
        });
        dialog.showMsg(isChooseMode, msg, isChooseMode ? 2 : 0, QStringLiteral("关闭"), QStringLiteral("取消"), nullptr);

        // On a light page, so that the shadow shows as it does on screen.
        QImage page(image.size() + QSize(40, 40), QImage::Format_ARGB32);
        page.fill(QColor(245, 246, 248));
        QPainter painter(&page);
        painter.drawImage(20, 20, image);
        painter.end();
        const QString name = isChooseMode ? QStringLiteral("msgdialog-two-buttons.png")
                                          : QStringLiteral("msgdialog-one-button.png");
        QVERIFY(page.save(folder + QLatin1Char('/') + name));
    }
}

QTEST_MAIN(TestMsgDialog)
#include "tst_msgdialog.moc"
