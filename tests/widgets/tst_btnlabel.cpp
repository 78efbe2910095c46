#include "btnlabel.h"

#include <QSignalSpy>
#include <QtTest>

class TestBtnLabel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void clickZone_data();
    void clickZone();
    void secondClick_data();
    void secondClick();
    void enterReappliesTheStyleSheet();

private:
    QWidget *window = nullptr;
    BtnLabel *label = nullptr;
};

void TestBtnLabel::init()
{
    window = new QWidget;
    label = new BtnLabel(window);
    label->setFixedSize(16, 16);
}

void TestBtnLabel::cleanup()
{
    delete window;
}

void TestBtnLabel::clickZone_data()
{
    QTest::addColumn<QPoint>("release");
    QTest::addColumn<int>("clicks");

    QTest::newRow("centre") << QPoint(8, 8) << 1;
    QTest::newRow("5 px left") << QPoint(-5, 8) << 1;
    QTest::newRow("6 px left") << QPoint(-6, 8) << 0;
    QTest::newRow("5 px right") << QPoint(20, 8) << 1;
    QTest::newRow("6 px right") << QPoint(21, 8) << 0;
    QTest::newRow("5 px above") << QPoint(8, -5) << 1;
    QTest::newRow("6 px below") << QPoint(8, 21) << 0;
}

void TestBtnLabel::clickZone()
{
    QFETCH(QPoint, release);
    QFETCH(int, clicks);
    QSignalSpy clicked(label, &BtnLabel::signal_clicked);
    QSignalSpy doubleClicked(label, &BtnLabel::signal_dClicked);

    QTest::mousePress(label, Qt::LeftButton);
    QTest::mouseRelease(label, Qt::LeftButton, {}, release);
    QCOMPARE(clicked.count(), clicks);

    // Only a click inside the zone opens the double-click window.
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(doubleClicked.count(), clicks);
}

void TestBtnLabel::secondClick_data()
{
    QTest::addColumn<QString>("between");
    QTest::addColumn<QList<QByteArray>>("calls");
    QTest::addColumn<int>("leftPresses");

    const QByteArray c("clicked"), d("dClicked");
    // A receiver of both signals, as the main window's title buttons are, runs three times.
    QTest::newRow("double-click event") << "double" << QList<QByteArray>{c, d, c, c} << 3;
    QTest::newRow("two quick clicks") << "" << QList<QByteArray>{c, d, c, c} << 3;
    QTest::newRow("window ran out") << "wait" << QList<QByteArray>{c, c, d, c} << 3;
    QTest::newRow("mouse left") << "leave" << QList<QByteArray>{c, c, d, c} << 3;
    QTest::newRow("right click in between") << "right" << QList<QByteArray>{c, d, c, c} << 3;
    QTest::newRow("release outside in between") << "outside" << QList<QByteArray>{c, c, d, c} << 4;
}

void TestBtnLabel::secondClick()
{
    QFETCH(QString, between);
    QFETCH(QList<QByteArray>, calls);
    QFETCH(int, leftPresses);
    QList<QByteArray> seen;
    connect(label, &BtnLabel::signal_clicked, this, [&seen] { seen << "clicked"; });
    connect(label, &BtnLabel::signal_dClicked, this, [&seen] { seen << "dClicked"; });
    QSignalSpy pressed(label, &BtnLabel::signal_press);

    QTest::mouseClick(label, Qt::LeftButton);
    if (between == QLatin1String("double")) {
        // As the system delivers it: the second press arrives as a double-click event.
        QTest::mouseDClick(label, Qt::LeftButton);
        QTest::mouseRelease(label, Qt::LeftButton);
    } else {
        if (between == QLatin1String("wait")) {
            QTest::qWait(700);
        } else if (between == QLatin1String("leave")) {
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(label, &leave);
        } else if (between == QLatin1String("right")) {
            QTest::mouseClick(label, Qt::RightButton);
        } else if (between == QLatin1String("outside")) {
            QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(40, 40));
        }
        QTest::mouseClick(label, Qt::LeftButton);
    }
    // A third click right away: after a pair it starts anew, after a single click it completes a pair.
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(seen, calls);
    QCOMPARE(pressed.count(), leftPresses);
}

void TestBtnLabel::enterReappliesTheStyleSheet()
{
    QCOMPARE(label->styleSheet(), QStringLiteral("border:0px solid black;background:rgba(0,0,0,0);"));
    const QString sheet = QStringLiteral("QLabel{background:red;}QLabel:hover{background:blue;}");
    label->setNormalStyleSheet(sheet);
    label->setStyleSheet(QStringLiteral("QLabel{background:green;}"));

    QSignalSpy entered(label, &BtnLabel::signal_enter);
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(label, &enter);
    QCOMPARE(label->styleSheet(), sheet);
    QCOMPARE(entered.count(), 1);
}

QTEST_MAIN(TestBtnLabel)
#include "tst_btnlabel.moc"
