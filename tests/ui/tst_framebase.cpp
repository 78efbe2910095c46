#include "btncolor.h"
#include "framebase.h"

#include <QLabel>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
// A page that paints a picture of the test's choice with the page painting.
class PicturePage : public FrameBase
{
public:
    PicturePage(const QString &picture, int offset)
        : picture(picture)
        , offset(offset)
    {
    }

protected:
    void paintEvent(QPaintEvent *event) override { paintPage(event, picture, offset); }

private:
    QString picture;
    int offset;
};

QImage reference(const QString &text, bool enabled)
{
    BtnColor button(86, 32, text);
    FrameBase::applyFilledStyle(&button);
    button.setBtnEnabled(enabled);
    return button.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}
}

class TestFrameBase : public QObject
{
    Q_OBJECT
private slots:
    void pictureIsCentred_data();
    void pictureIsCentred();
    void nextButtonKeepsFirstCaptionAndOneConnection();
    void disabledNextButtonIgnoresClicks();
    void bannerIsReusedAndFramed();
};

void TestFrameBase::pictureIsCentred_data()
{
    QTest::addColumn<QSize>("page");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QPoint>("topLeft");

    QTest::newRow("wizard page") << QSize(960, 596) << QSize(920, 503) << 30 << QPoint(20, 76);
    QTest::newRow("welcome picture") << QSize(960, 596) << QSize(958, 594) << -2 << QPoint(1, -1);
    QTest::newRow("odd remainder truncates") << QSize(101, 80) << QSize(40, 31) << 10 << QPoint(30, 34);
    // (60 - 75) / 2 is -7, not -8: the division truncates toward zero.
    QTest::newRow("larger picture") << QSize(60, 60) << QSize(20, 75) << 30 << QPoint(20, 23);
}

void TestFrameBase::pictureIsCentred()
{
    QFETCH(QSize, page);
    QFETCH(QSize, picture);
    QFETCH(int, offset);
    QFETCH(QPoint, topLeft);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("picture.png"));
    QImage image(picture, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(path));

    PicturePage widget(path, offset);
    widget.resize(page);
    const QImage shot = widget.grab().toImage();
    const QRect drawn = QRect(topLeft, picture) & QRect(QPoint(1, 1), page - QSize(2, 2));

    // Inside the frame the picture covers exactly its rectangle; outside it the page is white.
    for (int y = 1; y < page.height() - 1; ++y) {
        for (int x = 1; x < page.width() - 1; ++x) {
            const QColor expected = drawn.contains(x, y) ? QColor(Qt::red) : QColor(Qt::white);
            if (shot.pixelColor(x, y) != expected)
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) is %3").arg(x).arg(y).arg(shot.pixelColor(x, y).name())));
        }
    }
    // The grey frame is drawn over the picture on the outermost pixels.
    const QColor frame(QStringLiteral("#E0E0E0"));
    QCOMPARE(shot.pixelColor(0, page.height() / 2), frame);
    QCOMPARE(shot.pixelColor(page.width() - 1, page.height() / 2), frame);
    QCOMPARE(shot.pixelColor(page.width() / 2, 0), frame);
    QCOMPARE(shot.pixelColor(page.width() / 2, page.height() - 1), frame);
}

void TestFrameBase::nextButtonKeepsFirstCaptionAndOneConnection()
{
    FrameBase page;
    page.resize(960, 596);
    page.setNextButton(true, QStringLiteral("下一步"));
    page.setNextButton(true, QStringLiteral("关闭"));
    page.setNextButton(true, QStringLiteral("关闭"));

    BtnColor *next = page.findChild<BtnColor *>(QStringLiteral("btnColor_next"));
    QVERIFY2(next, "next button not found");
    QCOMPARE(page.findChildren<BtnColor *>().size(), 1);
    QCOMPARE(next->geometry(), QRect(480, 510, 86, 32));
    QCOMPARE(next->grab().toImage().convertToFormat(QImage::Format_ARGB32), reference(QStringLiteral("下一步"), true));

    QSignalSpy nextSpy(&page, SIGNAL(signal_next()));
    QTest::mouseClick(next, Qt::LeftButton);
    QCOMPARE(nextSpy.count(), 1);
}

void TestFrameBase::disabledNextButtonIgnoresClicks()
{
    FrameBase page;
    page.setNextButton(true, QStringLiteral("下一步"));
    page.setNextButton(false, QStringLiteral("下一步"));
    page.setPreButton(true);
    BtnColor *next = page.findChild<BtnColor *>(QStringLiteral("btnColor_next"));
    BtnColor *pre = page.findChild<BtnColor *>(QStringLiteral("btnColor_pre"));
    QVERIFY(next && pre);

    QCOMPARE(next->grab().toImage().pixelColor(4, 4), QColor(QStringLiteral("#D6D9DE")));
    QSignalSpy nextSpy(&page, SIGNAL(signal_next()));
    QSignalSpy preSpy(&page, SIGNAL(signal_pre()));
    QTest::mouseClick(next, Qt::LeftButton);
    QCOMPARE(nextSpy.count(), 0);

    QCOMPARE(pre->geometry(), QRect(360, 510, 86, 32));
    QTest::mouseClick(pre, Qt::LeftButton);
    QCOMPARE(preSpy.count(), 1);
    QCOMPARE(nextSpy.count(), 0);
}

void TestFrameBase::bannerIsReusedAndFramed()
{
    FrameBase page;
    QPixmap first(960, 70);
    first.fill(Qt::blue);
    QPixmap second(960, 70);
    second.fill(Qt::green);
    page.setBanner(first);
    page.setBanner(second);

    const QList<QLabel *> banners = page.findChildren<QLabel *>(QStringLiteral("label_banner"));
    QCOMPARE(banners.size(), 1);
    const QImage shown = banners.first()->pixmap(Qt::ReturnByValue).toImage();
    const QColor side(QStringLiteral("#E0E0E0"));
    for (int y : {0, 35, 69}) {
        QCOMPARE(shown.pixelColor(0, y), side);
        QCOMPARE(shown.pixelColor(959, y), side);
    }
    QCOMPARE(shown.pixelColor(1, 35), QColor(Qt::green));
    QCOMPARE(shown.pixelColor(958, 35), QColor(Qt::green));
    QCOMPARE(banners.first()->pos(), QPoint(0, 0));
}

QTEST_MAIN(TestFrameBase)
#include "tst_framebase.moc"
