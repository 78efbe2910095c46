#include "widgetmove.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

namespace {
const QPoint start(100, 100);
const QPoint pressPos(20, 10);
const int stripWidth = 300;
}

class TestWidgetMove : public QObject
{
    Q_OBJECT
private slots:
    void drag_data();
    void drag();
};

void TestWidgetMove::drag_data()
{
    QTest::addColumn<bool>("keepOnScreen");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QList<QPoint>>("steps");
    QTest::addColumn<QPoint>("expected");

    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint far(3000, 2000);
    QTest::newRow("free, far right and down") << false << "press" << QList<QPoint>{far} << start + far;
    QTest::newRow("free, far left and up") << false << "press" << QList<QPoint>{-far} << start - far;
    QTest::newRow("kept, in steps") << true << "press" << QList<QPoint>{{10, 5}, {-4, 7}} << start + QPoint(6, 12);
    QTest::newRow("kept, far down") << true << "press" << QList<QPoint>{{0, 3000}}
                                    << QPoint(start.x(), area.bottom() - 30);
    QTest::newRow("kept, far right") << true << "press" << QList<QPoint>{{3000, 0}}
                                     << QPoint(area.right() - 30, start.y());
    // Measured on the strip's width, not the window's.
    QTest::newRow("kept, far left") << true << "press" << QList<QPoint>{{-3000, 0}}
                                    << QPoint(area.left() + 30 - stripWidth, start.y());
    QTest::newRow("kept, up is not limited") << true << "press" << QList<QPoint>{{0, -3000}}
                                             << QPoint(start.x(), start.y() - 3000);
    QTest::newRow("never pressed") << false << "" << QList<QPoint>{{50, 50}} << start;
    QTest::newRow("released") << false << "press release" << QList<QPoint>{{50, 50}} << start;
    QTest::newRow("hidden during the drag") << false << "press hide" << QList<QPoint>{{50, 50}} << start;
}

void TestWidgetMove::drag()
{
    QFETCH(bool, keepOnScreen);
    QFETCH(QString, before);
    QFETCH(QList<QPoint>, steps);
    QFETCH(QPoint, expected);

    QWidget window;
    window.resize(400, 250);
    auto *strip = new WidgetMove(&window, keepOnScreen);
    strip->setFixedSize(stripWidth, 30);
    window.move(start);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    if (before.contains(QLatin1String("press")))
        QTest::mousePress(strip, Qt::LeftButton, {}, pressPos);
    if (before.contains(QLatin1String("release")))
        QTest::mouseRelease(strip, Qt::LeftButton, {}, pressPos);
    if (before.contains(QLatin1String("hide"))) {
        window.hide();
        window.show();
    }
    for (const QPoint &step : steps) {
        // As the cursor would: the strip moved with its window, so each step starts at the press position.
        const QPoint local = pressPos + step;
        QMouseEvent move(QEvent::MouseMove, local, strip->mapToGlobal(local), Qt::NoButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(strip, &move);
    }
    QCOMPARE(window.frameGeometry().topLeft(), expected);
}

QTEST_MAIN(TestWidgetMove)
#include "tst_widgetmove.moc"
