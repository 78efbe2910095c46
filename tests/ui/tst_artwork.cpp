#include "framemain.h"

#include <QDir>
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
