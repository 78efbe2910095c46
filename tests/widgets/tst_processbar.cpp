#include "processbar.h"

#include <QFontMetrics>
#include <QtTest>

namespace {
const QColor chunkColour("#38A4F5");
const QColor trackColour("#DFDFDF");
const int barWidth = 310;
const int barHeight = 17;

QFont textFont()
{
    QFont font(QStringLiteral("微软雅黑"));
    font.setPixelSize(12);
    return font;
}

int countInRow(const QImage &image, int y, const QColor &colour)
{
    int count = 0;
    for (int x = 0; x < image.width(); ++x)
        count += image.pixelColor(x, y) == colour;
    return count;
}

// Leftmost column that holds ink of the (black) text.
int textLeftEdge(const QImage &image)
{
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (image.pixelColor(x, y).alpha() > 0 && image.pixelColor(x, y).red() < 128
                && image.pixelColor(x, y) != chunkColour)
                return x;
    return -1;
}
}

class TestProcessBar : public QObject
{
    Q_OBJECT
private slots:
    void percentText_data();
    void percentText();
    void chunkWidth_data();
    void chunkWidth();
    void textStaysPutAsItGrows();
    void loweredMaximumKeepsTheValue();

private:
    ProcessBar *makeBar(QWidget *parent);
};

ProcessBar *TestProcessBar::makeBar(QWidget *parent)
{
    auto *bar = new ProcessBar(barHeight, barHeight, chunkColour, trackColour, 0, 0, textFont(), Qt::black, parent);
    bar->setFixedSize(barWidth, barHeight);
    return bar;
}

void TestProcessBar::percentText_data()
{
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("no maximum") << 0 << 5 << "0%";
    QTest::newRow("not started") << 200 << 0 << "0%";
    QTest::newRow("half a percent rounds up") << 200 << 1 << "1%";
    QTest::newRow("a tenth of a percent shows 1") << 1000 << 1 << "1%";
    QTest::newRow("a third") << 3 << 1 << "33%";
    QTest::newRow("two thirds") << 3 << 2 << "67%";
    QTest::newRow("99.5 stays below 100") << 200 << 199 << "99%";
    QTest::newRow("99.9 stays below 100") << 1000 << 999 << "99%";
    QTest::newRow("done") << 200 << 200 << "100%";
    QTest::newRow("above the maximum is done") << 7 << 12 << "100%";
}

void TestProcessBar::percentText()
{
    QFETCH(int, maximum);
    QFETCH(int, value);
    QFETCH(QString, text);

    QWidget window;
    ProcessBar *bar = makeBar(&window);
    bar->setMaximum(maximum);
    bar->setValue(value);
    QCOMPARE(bar->percentText(), text);
}

void TestProcessBar::chunkWidth_data()
{
    QTest::addColumn<bool>("showText");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<double>("ratio");

    QTest::newRow("no maximum") << true << 0 << 0 << 0.0;
    QTest::newRow("a third") << true << 3 << 1 << 1.0 / 3;
    QTest::newRow("99.5 percent") << true << 200 << 199 << 0.995;
    QTest::newRow("done") << true << 10 << 10 << 1.0;
    QTest::newRow("above the maximum") << true << 10 << 25 << 1.0;
    QTest::newRow("no text, a third") << false << 3 << 1 << 1.0 / 3;
    QTest::newRow("no text, done") << false << 4 << 4 << 1.0;
}

void TestProcessBar::chunkWidth()
{
    QFETCH(bool, showText);
    QFETCH(int, maximum);
    QFETCH(int, value);
    QFETCH(double, ratio);

    QWidget window;
    ProcessBar *bar = makeBar(&window);
    bar->setTextVisible(showText);
    bar->setMaximum(maximum);
    bar->setValue(value);

    // With text, the bar ends one pixel before a rectangle sized for four characters.
    const QString padded = bar->percentText().rightJustified(4, QLatin1Char('0'));
    const int trackWidth =
        showText ? barWidth - QFontMetrics(textFont()).boundingRect(padded).width() - 1 : barWidth;
    const int chunk = int(trackWidth * ratio);

    const QImage image = bar->grab().toImage();
    const int row = barHeight / 2;
    QCOMPARE(countInRow(image, row, chunkColour), chunk);
    QCOMPARE(countInRow(image, row, trackColour), trackWidth - chunk);
    if (chunk > 0)
        QCOMPARE(image.pixelColor(0, row), chunkColour);
    // Track and chunk fill the full height of the 17-pixel bar.
    QCOMPARE(countInRow(image, 0, chunkColour) + countInRow(image, 0, trackColour), trackWidth);
    QCOMPARE(textLeftEdge(image) >= trackWidth, showText);
}

void TestProcessBar::textStaysPutAsItGrows()
{
    QWidget window;
    ProcessBar *bar = makeBar(&window);
    bar->setMaximum(100);
    bar->setValue(5);
    const QImage five = bar->grab().toImage();
    bar->setValue(55);
    const QImage fiftyFive = bar->grab().toImage();

    QVERIFY(textLeftEdge(five) > 0);
    QCOMPARE(textLeftEdge(fiftyFive), textLeftEdge(five));
    QVERIFY(five != fiftyFive);
    // The bar ends at the same place as well.
    const int row = barHeight / 2;
    QCOMPARE(countInRow(fiftyFive, row, chunkColour) + countInRow(fiftyFive, row, trackColour),
             countInRow(five, row, chunkColour) + countInRow(five, row, trackColour));
}

void TestProcessBar::loweredMaximumKeepsTheValue()
{
    QWidget window;
    ProcessBar *bar = makeBar(&window);
    bar->setMaximum(10);
    bar->setValue(8);
    bar->setMaximum(4);
    QCOMPARE(bar->percentText(), QStringLiteral("99%"));
    bar->setValue(8);
    QCOMPARE(bar->percentText(), QStringLiteral("100%"));
}

QTEST_MAIN(TestProcessBar)
#include "tst_processbar.moc"
