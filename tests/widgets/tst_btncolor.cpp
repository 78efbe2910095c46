#include "btncolor.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
const QColor normalBackground(10, 20, 30), hoverBackground(40, 50, 60), pressBackground(70, 80, 90),
    disableBackground(100, 110, 120);
const QColor normalBorder(200, 0, 0), hoverBorder(0, 200, 0), pressBorder(0, 0, 200), disableBorder(200, 200, 0);

BtnColorStyle style(const QColor &background, const QColor &border, int borderWidth = 1, int xRadius = 0,
                    int yRadius = 0)
{
    QFont font(QStringLiteral("微软雅黑"));
    font.setPixelSize(14);
    return BtnColorStyle{Qt::white, font, background, border, borderWidth, xRadius, yRadius};
}

void send(QWidget *widget, QEvent::Type type)
{
    QEvent event(type);
    QCoreApplication::sendEvent(widget, &event);
}

// Steps: E enter, L leave, P press, R release, D disable, U enable, C right click, 2 double click.
void perform(BtnColor *button, const QString &steps)
{
    for (const QChar step : steps) {
        switch (step.toLatin1()) {
        case 'E': send(button, QEvent::Enter); break;
        case 'L': send(button, QEvent::Leave); break;
        case 'P': QTest::mousePress(button, Qt::LeftButton); break;
        case 'R': QTest::mouseRelease(button, Qt::LeftButton); break;
        case 'D': button->setBtnEnabled(false); break;
        case 'U': button->setBtnEnabled(true); break;
        case 'C': QTest::mouseClick(button, Qt::RightButton); break;
        case '2':
            // As the system delivers it: the second press arrives as a double-click event.
            QTest::mouseClick(button, Qt::LeftButton);
            QTest::mouseDClick(button, Qt::LeftButton);
            QTest::mouseRelease(button, Qt::LeftButton);
            break;
        }
    }
}
}

class TestBtnColor : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void states_data();
    void states();
    void dragOutsideStillClicks();
    void radiiFollowTheState();
    void captionIsCentred();

private:
    QWidget *window = nullptr;
    BtnColor *button = nullptr;
};

void TestBtnColor::init()
{
    window = new QWidget;
    button = new BtnColor(90, 28, QString(), window);
    button->setDisableStyle(style(disableBackground, disableBorder));
    button->setNormalStyle(style(normalBackground, normalBorder, 3));
    button->setHoverStyle(style(hoverBackground, hoverBorder));
    button->setPressStyle(style(pressBackground, pressBorder, 0));
}

void TestBtnColor::cleanup()
{
    delete window;
}

void TestBtnColor::states_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("border");
    QTest::addColumn<int>("presses");
    QTest::addColumn<int>("clicks");

    QTest::newRow("normal, thick border") << "" << normalBackground << normalBorder << 0 << 0;
    QTest::newRow("hover") << "E" << hoverBackground << hoverBorder << 0 << 0;
    QTest::newRow("pressed, no border") << "EP" << pressBackground << pressBackground << 1 << 0;
    QTest::newRow("released is hover") << "EPR" << hoverBackground << hoverBorder << 1 << 1;
    QTest::newRow("left is normal") << "EL" << normalBackground << normalBorder << 0 << 0;
    QTest::newRow("right click") << "C" << hoverBackground << hoverBorder << 1 << 1;
    QTest::newRow("double click") << "2" << hoverBackground << hoverBorder << 2 << 2;
    QTest::newRow("disabled ignores the mouse") << "DEPRL2" << disableBackground << disableBorder << 0 << 0;
    QTest::newRow("enabled again is normal") << "EDU" << normalBackground << normalBorder << 0 << 0;
}

void TestBtnColor::states()
{
    QFETCH(QString, steps);
    QFETCH(QColor, background);
    QFETCH(QColor, border);
    QFETCH(int, presses);
    QFETCH(int, clicks);
    QSignalSpy pressSpy(button, &BtnColor::signal_press);
    QSignalSpy clickSpy(button, &BtnColor::signal_click);
    QSignalSpy releaseSpy(button, &BtnColor::signal_release);
    QSignalSpy inSpy(button, &BtnColor::signal_in);

    perform(button, steps);
    QCOMPARE(pressSpy.count(), presses);
    QCOMPARE(clickSpy.count(), clicks);
    QCOMPARE(releaseSpy.count(), clicks);
    QCOMPARE(inSpy.count(), steps.startsWith(QLatin1Char('E')) ? 1 : 0);

    const QImage image = button->grab().toImage();
    // The outline is centred on the rectangle's edge: a 3-pixel pen shows 2 pixels inside.
    QCOMPARE(image.pixelColor(0, 14), border);
    QCOMPARE(image.pixelColor(1, 14), border == normalBorder ? border : background);
    QCOMPARE(image.pixelColor(45, 3), background);
}

void TestBtnColor::dragOutsideStillClicks()
{
    QList<QByteArray> order;
    QList<QPoint> positions;
    connect(button, &BtnColor::signal_click, this, [&order] { order << "click"; });
    connect(button, &BtnColor::signal_move, this, [&](QPoint pos) { order << "move"; positions << pos; });
    connect(button, &BtnColor::signal_release, this, [&](QPoint pos) { order << "release"; positions << pos; });

    const QPoint outside(200, 150);
    QTest::mousePress(button, Qt::LeftButton);
    QMouseEvent move(QEvent::MouseMove, outside, button->mapToGlobal(outside), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(button, &move);
    QTest::mouseRelease(button, Qt::LeftButton, {}, outside);

    QCOMPARE(order, (QList<QByteArray>{"move", "click", "release"}));
    QCOMPARE(positions, (QList<QPoint>{button->mapToGlobal(outside), button->mapToGlobal(outside)}));
    // Released outside, the button shows hover until the Leave arrives.
    QCOMPARE(button->grab().toImage().pixelColor(45, 3), hoverBackground);
}

void TestBtnColor::radiiFollowTheState()
{
    // The two looks differ only in the y radius; with one radius 0 the corners are square.
    button->setNormalStyle(style(normalBackground, normalBorder, 0, 8, 0));
    button->setHoverStyle(style(normalBackground, normalBorder, 0, 8, 8));
    const QColor outside = button->palette().color(QPalette::Window);

    QCOMPARE(button->grab().toImage().pixelColor(0, 0), normalBackground);
    // The fill covers the widget less its last column and row.
    QCOMPARE(button->grab().toImage().pixelColor(89, 14), outside);
    send(button, QEvent::Enter);
    QCOMPARE(button->grab().toImage().pixelColor(0, 0), outside);
    send(button, QEvent::Leave);
    QCOMPARE(button->grab().toImage().pixelColor(0, 0), normalBackground);
}

void TestBtnColor::captionIsCentred()
{
    button->setNormalStyle(style(normalBackground, normalBorder));
    button->setText(QStringLiteral("下一步"));

    const QImage image = button->grab().toImage();
    QRect ink;
    for (int y = 2; y < image.height() - 2; ++y)
        for (int x = 2; x < image.width() - 2; ++x)
            if (image.pixelColor(x, y) != normalBackground)
                ink |= QRect(x, y, 1, 1);
    // Ink and bounding box differ by a pixel or two of bearing; an uncentred caption is far off.
    QVERIFY(ink.width() > 30);
    QVERIFY(qAbs(ink.center().x() - 44) <= 2);
    QVERIFY(qAbs(ink.center().y() - 13) <= 3);
}

QTEST_MAIN(TestBtnColor)
#include "tst_btncolor.moc"
