#include "btnlabel.h"

#include <QEvent>
#include <QSignalSpy>
#include <QtTest>

namespace {
// Longer than the 500 ms double-click window, with room for a busy machine.
const int pastTheWindow = 700;

void leave(QWidget *widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}
}

class TestBtnLabel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void clickZone_data();
    void clickZone();
    void doubleClickRunsAReceiverThreeTimes_data();
    void doubleClickRunsAReceiverThreeTimes();
    void secondClickCounts_data();
    void secondClickCounts();
    void pressSignalsLeftButtonOnly();
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
    label->move(40, 40);
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

    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(8, 8));
    QTest::mouseRelease(label, Qt::LeftButton, {}, release);
    QCOMPARE(clicked.count(), clicks);

    // Only a click inside the zone opens the double-click window.
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(doubleClicked.count(), clicks);
}

void TestBtnLabel::doubleClickRunsAReceiverThreeTimes_data()
{
    QTest::addColumn<bool>("qtDoubleClick");
    QTest::newRow("double-click event") << true;
    QTest::newRow("two clicks") << false;
}

void TestBtnLabel::doubleClickRunsAReceiverThreeTimes()
{
    QFETCH(bool, qtDoubleClick);
    QList<QByteArray> calls;
    connect(label, &BtnLabel::signal_clicked, this, [&calls] { calls << "clicked"; });
    connect(label, &BtnLabel::signal_dClicked, this, [&calls] { calls << "dClicked"; });

    if (qtDoubleClick) {
        // What the system delivers: the second press arrives as a double-click event.
        QTest::mouseClick(label, Qt::LeftButton);
        QTest::mouseDClick(label, Qt::LeftButton);
        QTest::mouseRelease(label, Qt::LeftButton);
    } else {
        QTest::mouseClick(label, Qt::LeftButton);
        QTest::qWait(100);
        QTest::mouseClick(label, Qt::LeftButton);
    }
    QCOMPARE(calls, (QList<QByteArray>{"clicked", "dClicked", "clicked"}));

    // The pair is used up: the next click is a first click again.
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(calls.size(), 4);
    QCOMPARE(calls.last(), QByteArray("clicked"));
}

void TestBtnLabel::secondClickCounts_data()
{
    QTest::addColumn<QString>("between");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<int>("doubleClicks");

    QTest::newRow("nothing") << "" << 2 << 1;
    QTest::newRow("window ran out") << "wait" << 2 << 0;
    QTest::newRow("mouse left") << "leave" << 2 << 0;
    QTest::newRow("right click") << "right" << 2 << 1;
    QTest::newRow("release outside the zone") << "outside" << 2 << 0;
}

void TestBtnLabel::secondClickCounts()
{
    QFETCH(QString, between);
    QFETCH(int, clicks);
    QFETCH(int, doubleClicks);
    QSignalSpy clicked(label, &BtnLabel::signal_clicked);
    QSignalSpy doubleClicked(label, &BtnLabel::signal_dClicked);

    QTest::mouseClick(label, Qt::LeftButton);
    if (between == QLatin1String("wait")) {
        QTest::qWait(pastTheWindow);
    } else if (between == QLatin1String("leave")) {
        leave(label);
    } else if (between == QLatin1String("right")) {
        QTest::mouseClick(label, Qt::RightButton);
    } else if (between == QLatin1String("outside")) {
        // Ends the wait without a signal, so the click after it is a first click.
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(40, 40));
    }
    QCOMPARE(clicked.count(), 1);
    QTest::mouseClick(label, Qt::LeftButton);

    QCOMPARE(clicked.count(), clicks);
    QCOMPARE(doubleClicked.count(), doubleClicks);
}

void TestBtnLabel::pressSignalsLeftButtonOnly()
{
    QSignalSpy pressed(label, &BtnLabel::signal_press);
    QTest::mousePress(label, Qt::RightButton);
    QTest::mouseRelease(label, Qt::RightButton);
    QCOMPARE(pressed.count(), 0);
    QTest::mousePress(label, Qt::LeftButton);
    QCOMPARE(pressed.count(), 1);
}

void TestBtnLabel::enterReappliesTheStyleSheet()
{
    QCOMPARE(label->styleSheet(), QStringLiteral("border:0px solid black;background:rgba(0,0,0,0);"));
    const QString sheet = QStringLiteral("QLabel{background:red;}QLabel:hover{background:blue;}");
    label->setNormalStyleSheet(sheet);
    label->setStyleSheet(QStringLiteral("QLabel{background:green;}"));

    QSignalSpy entered(label, &BtnLabel::signal_enter);
    QSignalSpy left(label, &BtnLabel::signal_leave);
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(label, &enter);
    QCOMPARE(label->styleSheet(), sheet);
    QCOMPARE(entered.count(), 1);
    leave(label);
    QCOMPARE(left.count(), 1);
}

QTEST_MAIN(TestBtnLabel)
#include "tst_btnlabel.moc"
