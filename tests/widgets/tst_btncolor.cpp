#include "btncolor.h"

#include <QEvent>
#include <QSignalSpy>
#include <QtTest>

namespace {
const QColor normalBackground(10, 20, 30);
const QColor hoverBackground(40, 50, 60);
const QColor pressBackground(70, 80, 90);
const QColor disableBackground(100, 110, 120);
const QColor normalBorder(200, 0, 0);
const QColor hoverBorder(0, 200, 0);
const QColor pressBorder(0, 0, 200);
const QColor disableBorder(200, 200, 0);

BtnColorStyle style(const QColor &background, const QColor &border, int borderWidth = 1, int xRadius = 0,
                    int yRadius = 0)
{
    QFont font(QStringLiteral("微软雅黑"));
    font.setPixelSize(14);
    return BtnColorStyle{Qt::white, font, background, border, borderWidth, xRadius, yRadius};
}

void sendPlain(QWidget *widget, QEvent::Type type)
{
    QEvent event(type);
    QCoreApplication::sendEvent(widget, &event);
}

// Steps: E enter, L leave, P press, R release, D disable, U enable (all with the left button).
void perform(BtnColor *button, const QString &steps)
{
    for (const QChar step : steps) {
        switch (step.toLatin1()) {
        case 'E': sendPlain(button, QEvent::Enter); break;
        case 'L': sendPlain(button, QEvent::Leave); break;
        case 'P': QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5)); break;
        case 'R': QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5)); break;
        case 'D': button->setBtnEnabled(false); break;
        case 'U': button->setBtnEnabled(true); break;
        default: QFAIL("unknown step");
        }
    }
}

// What the system delivers to a widget: the second press arrives as a double-click event.
void doubleClick(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
    QTest::mouseDClick(widget, Qt::LeftButton);
    QTest::mouseRelease(widget, Qt::LeftButton);
}

QColor pixel(QWidget *widget, int x, int y)
{
    return widget->grab().toImage().pixelColor(x, y);
}
}

class TestBtnColor : public QObject
{
    Q_OBJECT
private slots:
    void stateColours_data();
    void stateColours();
    void clickSignals_data();
    void clickSignals();
    void dragOutsideStillClicks();
    void radiiFollowTheState();
    void zeroBorderDrawsNoOutline();
    void styleSettersShowWhenTheStateIsEntered();
    void captionIsCentred();

private:
    BtnColor *makeButton(QWidget *parent);
};

BtnColor *TestBtnColor::makeButton(QWidget *parent)
{
    auto *button = new BtnColor(90, 28, QString(), parent);
    button->setDisableStyle(style(disableBackground, disableBorder));
    button->setNormalStyle(style(normalBackground, normalBorder, 3));
    button->setHoverStyle(style(hoverBackground, hoverBorder));
    button->setPressStyle(style(pressBackground, pressBorder));
    return button;
}

void TestBtnColor::stateColours_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("border");
    QTest::addColumn<int>("borderWidth");

    QTest::newRow("normal") << "" << normalBackground << normalBorder << 3;
    QTest::newRow("hover") << "E" << hoverBackground << hoverBorder << 1;
    QTest::newRow("pressed") << "EP" << pressBackground << pressBorder << 1;
    QTest::newRow("released is hover") << "EPR" << hoverBackground << hoverBorder << 1;
    QTest::newRow("left is normal") << "EL" << normalBackground << normalBorder << 3;
    QTest::newRow("disabled") << "D" << disableBackground << disableBorder << 1;
    QTest::newRow("disabled ignores the mouse") << "DEPRL" << disableBackground << disableBorder << 1;
    QTest::newRow("enabled again is normal") << "EDU" << normalBackground << normalBorder << 3;
}

void TestBtnColor::stateColours()
{
    QFETCH(QString, steps);
    QFETCH(QColor, background);
    QFETCH(QColor, border);
    QFETCH(int, borderWidth);

    QWidget window;
    BtnColor *button = makeButton(&window);
    perform(button, steps);

    const QImage image = button->grab().toImage();
    // The outline is centred on the edge of the rectangle, so half of it lies inside the widget.
    QCOMPARE(image.pixelColor(0, 14), border);
    QCOMPARE(image.pixelColor(1, 14), borderWidth > 1 ? border : background);
    QCOMPARE(image.pixelColor(4, 14), background);
    QCOMPARE(image.pixelColor(45, 3), background);
}

void TestBtnColor::clickSignals_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("presses");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<int>("releases");

    QTest::newRow("left click") << "left" << 1 << 1 << 1;
    QTest::newRow("right click") << "right" << 1 << 1 << 1;
    QTest::newRow("double click") << "double" << 2 << 2 << 2;
    QTest::newRow("disabled click") << "disabled" << 0 << 0 << 0;
}

void TestBtnColor::clickSignals()
{
    QFETCH(QString, action);
    QFETCH(int, presses);
    QFETCH(int, clicks);
    QFETCH(int, releases);

    QWidget window;
    BtnColor *button = makeButton(&window);
    QSignalSpy pressSpy(button, &BtnColor::signal_press);
    QSignalSpy clickSpy(button, &BtnColor::signal_click);
    QSignalSpy releaseSpy(button, &BtnColor::signal_release);
    QSignalSpy inSpy(button, &BtnColor::signal_in);

    if (action == QLatin1String("left")) {
        QTest::mouseClick(button, Qt::LeftButton);
    } else if (action == QLatin1String("right")) {
        QTest::mouseClick(button, Qt::RightButton);
    } else if (action == QLatin1String("double")) {
        doubleClick(button);
    } else {
        button->setBtnEnabled(false);
        sendPlain(button, QEvent::Enter);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(inSpy.count(), 0);
    }

    QCOMPARE(pressSpy.count(), presses);
    QCOMPARE(clickSpy.count(), clicks);
    QCOMPARE(releaseSpy.count(), releases);
}

void TestBtnColor::dragOutsideStillClicks()
{
    QWidget window;
    window.resize(300, 200);
    BtnColor *button = makeButton(&window);
    button->move(20, 20);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QSignalSpy clickSpy(button, &BtnColor::signal_click);
    QSignalSpy moveSpy(button, &BtnColor::signal_move);
    QSignalSpy releaseSpy(button, &BtnColor::signal_release);
    QList<QByteArray> order;
    connect(button, &BtnColor::signal_click, this, [&order] { order << "click"; });
    connect(button, &BtnColor::signal_release, this, [&order] { order << "release"; });

    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    const QPoint outside(200, 150);
    QMouseEvent move(QEvent::MouseMove, outside, button->mapToGlobal(outside), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(button, &move);
    QTest::mouseRelease(button, Qt::LeftButton, {}, outside);

    QCOMPARE(moveSpy.count(), 1);
    QCOMPARE(moveSpy.at(0).at(0).toPoint(), button->mapToGlobal(outside));
    QCOMPARE(clickSpy.count(), 1);
    QCOMPARE(releaseSpy.at(0).at(0).toPoint(), button->mapToGlobal(outside));
    QCOMPARE(order, (QList<QByteArray>{"click", "release"}));
    // Released outside, the button shows hover until the Leave arrives.
    QCOMPARE(pixel(button, 45, 3), hoverBackground);
}

void TestBtnColor::radiiFollowTheState()
{
    QWidget window;
    auto *button = new BtnColor(90, 28, QString(), &window);
    // The two looks differ only in the y radius; with one radius 0 the corners are square.
    button->setNormalStyle(style(normalBackground, normalBorder, 0, 8, 0));
    button->setHoverStyle(style(normalBackground, normalBorder, 0, 8, 8));

    QCOMPARE(pixel(button, 0, 0), normalBackground);
    sendPlain(button, QEvent::Enter);
    QCOMPARE(pixel(button, 0, 0), button->palette().color(QPalette::Window));
    QCOMPARE(pixel(button, 45, 14), normalBackground);
    sendPlain(button, QEvent::Leave);
    QCOMPARE(pixel(button, 0, 0), normalBackground);
}

void TestBtnColor::zeroBorderDrawsNoOutline()
{
    QWidget window;
    auto *button = new BtnColor(90, 28, QString(), &window);
    button->setNormalStyle(style(normalBackground, normalBorder, 0));
    const QImage image = button->grab().toImage();
    QCOMPARE(image.pixelColor(0, 14), normalBackground);
    // The fill covers the widget less its last column and row.
    QCOMPARE(image.pixelColor(88, 14), normalBackground);
    QCOMPARE(image.pixelColor(89, 14), button->palette().color(QPalette::Window));
}

void TestBtnColor::styleSettersShowWhenTheStateIsEntered()
{
    QWidget window;
    BtnColor *button = makeButton(&window);
    sendPlain(button, QEvent::Enter);
    button->setHoverStyle(style(pressBackground, pressBorder));
    QCOMPARE(pixel(button, 45, 3), hoverBackground);
    sendPlain(button, QEvent::Leave);
    sendPlain(button, QEvent::Enter);
    QCOMPARE(pixel(button, 45, 3), pressBackground);

    button->setNormalStyle(style(disableBackground, normalBorder));
    QCOMPARE(pixel(button, 45, 3), disableBackground);
}

void TestBtnColor::captionIsCentred()
{
    QWidget window;
    auto *button = new BtnColor(120, 40, QStringLiteral("确定"), &window);
    button->setNormalStyle(style(normalBackground, normalBorder));
    button->setText(QStringLiteral("下一步"));

    const QImage image = button->grab().toImage();
    int left = image.width(), right = -1, top = image.height(), bottom = -1;
    for (int y = 2; y < image.height() - 2; ++y) {
        for (int x = 2; x < image.width() - 2; ++x) {
            if (image.pixelColor(x, y) != normalBackground) {
                left = qMin(left, x);
                right = qMax(right, x);
                top = qMin(top, y);
                bottom = qMax(bottom, y);
            }
        }
    }
    QVERIFY2(right > left, "no caption drawn");
    // Ink and bounding box differ by a pixel or two of bearing; a caption left at the edge is far off.
    QVERIFY(qAbs((left + right) / 2 - 59) <= 2);
    QVERIFY(qAbs((top + bottom) / 2 - 19) <= 3);
    QVERIFY(right - left > 30);
}

QTEST_MAIN(TestBtnColor)
#include "tst_btncolor.moc"
