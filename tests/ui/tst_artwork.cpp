#include "artwork.h"
#include "framemain.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QMovie>
#include <QTest>

class TestArtwork : public QObject
{
    Q_OBJECT
private slots:
    void picturesHaveTheirSizes_data();
    void picturesHaveTheirSizes();
    void everyPictureHasItsDoubleSize_data();
    void everyPictureHasItsDoubleSize();
    void pictureFollowsDeviceRatio_data();
    void pictureFollowsDeviceRatio();
    void spinnerIsAnimated();
    void windowIconHoldsEverySize();
    void desktopEntryNamesInstalledIcon();
};

void TestArtwork::picturesHaveTheirSizes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    for (int step = 0; step < 6; ++step)
        QTest::newRow(qPrintable(QStringLiteral("banner_%1").arg(step)))
            << QStringLiteral("://img/banner_%1.png").arg(step) << QSize(960, 70);
    QTest::newRow("welcome") << QStringLiteral("://img/frame_welcome.png") << QSize(958, 594);
    QTest::newRow("inner frame") << QStringLiteral("://img/innerFrame.png") << QSize(920, 503);
    QTest::newRow("finish") << QStringLiteral("://img/frame_finish.png") << QSize(920, 503);
    QTest::newRow("diagram") << QStringLiteral("://img/frame_picture.png") << QSize(920, 503);
}

void TestArtwork::picturesHaveTheirSizes()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
}

void TestArtwork::everyPictureHasItsDoubleSize_data()
{
    QTest::addColumn<QString>("path");
    QDirIterator pictures(QStringLiteral(":/img"));
    while (pictures.hasNext()) {
        const QString path = pictures.next();
        if (!path.contains(QLatin1String("@2x")))
            QTest::newRow(qPrintable(QFileInfo(path).fileName())) << path;
    }
}

// Drawn afresh at twice the size, so a 200 % display shows them as sharp as 100 % does.
void TestArtwork::everyPictureHasItsDoubleSize()
{
    QFETCH(QString, path);
    const QString doubled = Artwork::fileFor(path, 2.0);
    QVERIFY2(doubled != path, "no @2x file");
    const QSize size = QImageReader(path).size();
    QVERIFY(size.isValid());
    QCOMPARE(QImageReader(doubled).size(), size * 2);
}

void TestArtwork::pictureFollowsDeviceRatio_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QSize>("pixels");

    // innerFrame is 920 x 503; between 1 and 2 the @2x file is resampled to the display's pixels.
    QTest::newRow("100 %") << 1.0 << QSize(920, 503);
    QTest::newRow("125 %") << 1.25 << QSize(1150, 629);
    QTest::newRow("150 %") << 1.5 << QSize(1380, 755);
    QTest::newRow("200 %") << 2.0 << QSize(1840, 1006);
    QTest::newRow("300 %") << 3.0 << QSize(2760, 1509);
}

void TestArtwork::pictureFollowsDeviceRatio()
{
    QFETCH(qreal, ratio);
    QFETCH(QSize, pixels);
    const QPixmap picture = Artwork::load(QStringLiteral("://img/innerFrame.png"), ratio);
    QCOMPARE(picture.size(), pixels);
    QCOMPARE(picture.devicePixelRatioF(), ratio);
    QCOMPARE(Artwork::logicalSize(picture), QSize(920, 503));
    // Loaded again from the cache, the same pixels.
    QCOMPARE(Artwork::load(QStringLiteral("://img/innerFrame.png"), ratio).toImage(), picture.toImage());
}

void TestArtwork::spinnerIsAnimated()
{
    QMovie movie(QStringLiteral("://img/load.gif"));
    QVERIFY(movie.isValid());
    QVERIFY(movie.frameCount() > 1);
    QVERIFY(movie.jumpToFrame(0));
    const QImage first = movie.currentImage();
    QCOMPARE(first.size(), QSize(40, 40));
    QVERIFY(movie.jumpToNextFrame());
    QVERIFY(movie.currentImage() != first);
}

void TestArtwork::windowIconHoldsEverySize()
{
    FrameMain window;
    const QList<QSize> sizes = window.windowIcon().availableSizes();
    for (int size : {256, 128, 96, 72, 64, 48, 32, 24, 16})
        QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
}

void TestArtwork::desktopEntryNamesInstalledIcon()
{
    const QDir resources(qEnvironmentVariable("PELBROOK_SOURCE_DIR") + QStringLiteral("/resources"));
    QFile entry(resources.filePath(QStringLiteral("pelbrook.desktop")));
    QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    QString icon;
    QString exec;
    while (!entry.atEnd()) {
        const QString line = QString::fromUtf8(entry.readLine()).trimmed();
        if (line.startsWith(QStringLiteral("Icon=")))
            icon = line.mid(5);
        else if (line.startsWith(QStringLiteral("Exec=")))
            exec = line.mid(5);
    }
    QCOMPARE(exec, QStringLiteral("Pelbrook"));
    for (int size : {256, 128, 96, 72, 64, 48, 32, 24, 16}) {
        const QString path = resources.filePath(QStringLiteral("icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(icon));
        QImageReader reader(path);
        QCOMPARE(reader.size(), QSize(size, size));
    }
}

QTEST_MAIN(TestArtwork)
#include "tst_artwork.moc"
