#include "widgetmove.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

namespace {
const QPoint start(100, 100);
const int stripWidth = 300;
}

class TestWidgetMove : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void drag_data();
    void drag();
    void dragInSteps();
    void noMoveWithoutPress_data();
    void noMoveWithoutPress();
    void stripWithoutWindowMovesNothing();

private:
    void press(const QPoint &local);
    // Sends a move as the cursor would: the strip moved with its window, so its local
    // position is the press position plus the step since the last move.
    void moveBy(const QPoint &step);
    void setUpWindow(bool keepOnScreen);

    QWidget *window = nullptr;
    WidgetMove *strip = nullptr;
    QPoint pressPos;
};

void TestWidgetMove::init()
{
    window = new QWidget;
    window->resize(400, 250);
}

void TestWidgetMove::cleanup()
{
    delete window;
    window = nullptr;
}

void TestWidgetMove::setUpWindow(bool keepOnScreen)
{
    strip = new WidgetMove(window, keepOnScreen);
    strip->setFixedSize(stripWidth, 30);
    window->move(start);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->frameGeometry().topLeft(), start);
}

void TestWidgetMove::press(const QPoint &local)
{
    pressPos = local;
    QTest::mousePress(strip, Qt::LeftButton, {}, local);
}

void TestWidgetMove::moveBy(const QPoint &step)
{
    const QPoint local = pressPos + step;
    QMouseEvent event(QEvent::MouseMove, local, strip->mapToGlobal(local), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(strip, &event);
}

void TestWidgetMove::drag_data()
{
    QTest::addColumn<bool>("keepOnScreen");
    QTest::addColumn<QPoint>("step");
    QTest::addColumn<QPoint>("expected");

    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QTest::newRow("free, far right and down") << false << QPoint(3000, 2000) << start + QPoint(3000, 2000);
    QTest::newRow("free, far left and up") << false << QPoint(-3000, -2000) << start + QPoint(-3000, -2000);
    QTest::newRow("kept, inside") << true << QPoint(40, 25) << start + QPoint(40, 25);
    QTest::newRow("kept, far down") << true << QPoint(0, 3000) << QPoint(start.x(), area.bottom() - 30);
    QTest::newRow("kept, far right") << true << QPoint(3000, 0) << QPoint(area.right() - 30, start.y());
    QTest::newRow("kept, far left") << true << QPoint(-3000, 0)
                                    << QPoint(area.left() + 30 - stripWidth, start.y());
    QTest::newRow("kept, up is not limited") << true << QPoint(0, -3000) << QPoint(start.x(), start.y() - 3000);
}

void TestWidgetMove::drag()
{
    QFETCH(bool, keepOnScreen);
    QFETCH(QPoint, step);
    QFETCH(QPoint, expected);
    setUpWindow(keepOnScreen);

    press(QPoint(20, 10));
    moveBy(step);
    QCOMPARE(window->frameGeometry().topLeft(), expected);
}

void TestWidgetMove::dragInSteps()
{
    setUpWindow(true);
    press(QPoint(20, 10));
    moveBy(QPoint(10, 5));
    moveBy(QPoint(-4, 7));
    QCOMPARE(window->frameGeometry().topLeft(), start + QPoint(6, 12));

    QTest::mouseRelease(strip, Qt::LeftButton, {}, pressPos);
    moveBy(QPoint(50, 50));
    QCOMPARE(window->frameGeometry().topLeft(), start + QPoint(6, 12));
}

void TestWidgetMove::noMoveWithoutPress_data()
{
    QTest::addColumn<bool>("hideAndShow");
    QTest::newRow("never pressed") << false;
    QTest::newRow("hidden during the drag") << true;
}

void TestWidgetMove::noMoveWithoutPress()
{
    QFETCH(bool, hideAndShow);
    setUpWindow(false);
    if (hideAndShow) {
        press(QPoint(20, 10));
        window->hide();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
    moveBy(QPoint(50, 50));
    QCOMPARE(window->frameGeometry().topLeft(), start);
}

void TestWidgetMove::stripWithoutWindowMovesNothing()
{
    WidgetMove lonely(nullptr, true);
    lonely.setFixedSize(200, 30);
    lonely.move(start);
    lonely.show();
    QVERIFY(QTest::qWaitForWindowExposed(&lonely));
    QTest::mousePress(&lonely, Qt::LeftButton, {}, QPoint(5, 5));
    QMouseEvent event(QEvent::MouseMove, QPoint(80, 80), lonely.mapToGlobal(QPoint(80, 80)), Qt::NoButton,
                      Qt::LeftButton, {});
    QCoreApplication::sendEvent(&lonely, &event);
    QCOMPARE(lonely.frameGeometry().topLeft(), start);
}

QTEST_MAIN(TestWidgetMove)
#include "tst_widgetmove.moc"
