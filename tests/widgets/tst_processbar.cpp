#include "processbar.h"

#include <QFontMetrics>
#include <QPainter>
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

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

int countInRow(const QImage &image, int y, const QColor &colour)
{
    int count = 0;
    for (int x = 0; x < image.width(); ++x)
        count += image.pixelColor(x, y) == colour;
    return count;
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
    void text_data();
    void text();
    void repaintsOnlyWhatChanges_data();
    void repaintsOnlyWhatChanges();

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
}

void TestProcessBar::text_data()
{
    QTest::addColumn<int>("value");
    QTest::newRow("5%") << 5;
    QTest::newRow("55%") << 55;
    QTest::newRow("100%") << 100;
}

void TestProcessBar::text()
{
    QFETCH(int, value);
    QWidget window;
    ProcessBar *bar = makeBar(&window);
    bar->setMaximum(100);
    bar->setValue(value);
    const QImage shot = bar->grab().toImage().convertToFormat(QImage::Format_ARGB32);

    // The real text, left-aligned in a rectangle measured on at least four characters.
    const QRect bound = QFontMetrics(textFont()).boundingRect(bar->percentText().rightJustified(4, QLatin1Char('0')));
    const QRect textRect(barWidth - bound.width() - 1, (barHeight - bound.height()) / 2, bound.width() + 1,
                         bound.height() + 1);
    QImage expected(shot.size(), QImage::Format_ARGB32);
    expected.fill(bar->palette().color(QPalette::Window));
    QPainter painter(&expected);
    painter.setFont(textFont());
    painter.setPen(Qt::black);
    painter.drawText(QRectF(textRect), QStringLiteral("%1%").arg(value), QTextOption());
    painter.end();

    const QRect right(textRect.left(), 0, barWidth - textRect.left(), barHeight);
    QCOMPARE(shot.copy(right), expected.copy(right));
    QCOMPARE(shot.pixelColor(textRect.left() - 1, barHeight / 2), value == 100 ? chunkColour : trackColour);
}


// An export moves the bar once per file: a step that draws the same picture must not
// paint, and one that changes it must, up to the final step's 100 %.
void TestProcessBar::repaintsOnlyWhatChanges_data()
{
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");

    QTest::newRow("same percent, same chunk") << 20001 << 100 << 101;
    QTest::newRow("first step") << 20001 << 0 << 1;
    QTest::newRow("next percent") << 200 << 2 << 3;
    QTest::newRow("chunk grows, percent stays") << 20001 << 4000 << 4100;
    QTest::newRow("last file to the final step") << 20001 << 20000 << 20001;
    QTest::newRow("back to the start") << 20001 << 20001 << 0;
    QTest::newRow("a step of a small export") << 3 << 1 << 2;
}

void TestProcessBar::repaintsOnlyWhatChanges()
{
    QFETCH(int, maximum);
    QFETCH(int, from);
    QFETCH(int, to);

    QWidget window;
    ProcessBar *bar = makeBar(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    bar->setMaximum(maximum);
    bar->setValue(from);
    const QImage before = bar->grab().toImage();
    QCoreApplication::processEvents();

    PaintCounter counter;
    bar->installEventFilter(&counter);
    bar->setValue(to);
    QCoreApplication::processEvents();
    bar->removeEventFilter(&counter);
    const QImage after = bar->grab().toImage();
    QCOMPARE(counter.paints > 0, before != after);
    if (to == maximum)
        QCOMPARE(bar->percentText(), QStringLiteral("100%"));
}

QTEST_MAIN(TestProcessBar)
#include "tst_processbar.moc"
