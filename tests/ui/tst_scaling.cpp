// The wizard on scaled X displays: each case starts the window in a private X server whose
// Xft.dpi is the display's scale, with no Qt variable set unless the case names one.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtMath>

namespace {
const QSize designWindow(960, 640);
const QSize designDialog(316, 190);
const int stripHeight = 44;
const QRgb frameGrey = qRgb(0xE0, 0xE0, 0xE0);
const QRgb stripBlue = qRgb(56, 164, 245);

QString describe(const QImage &image, int x, int y)
{
    const QRgb pixel = image.pixel(x, y);
    return QStringLiteral("(%1, %2) is #%3 with alpha %4")
        .arg(x)
        .arg(y)
        .arg(pixel & 0xFFFFFF, 6, 16, QLatin1Char('0'))
        .arg(qAlpha(pixel));
}

// The title strip's outer pixels are its blue down to the page, and the page's left, right and
// bottom edges are the frame's grey: a seam, a transparent line or a black pixel shows here first.
QString firstStrayEdgePixel(const QImage &window, qreal factor)
{
    const int w = window.width();
    const int h = window.height();
    const int pageTop = qRound(stripHeight * factor);
    for (int y = 0; y < h; ++y) {
        const QRgb expected = y < pageTop ? stripBlue : frameGrey;
        for (int x : {0, w - 1}) {
            if (window.pixel(x, y) != expected)
                return describe(window, x, y);
        }
    }
    for (int x = 0; x < w; ++x) {
        if (window.pixel(x, 0) != stripBlue)
            return describe(window, x, 0);
        if (window.pixel(x, h - 1) != frameGrey)
            return describe(window, x, h - 1);
    }
    return QString();
}

// Every pixel the window system keeps of the dialog's opaque look is painted, and none is black:
// there is no alpha without a compositor, so a pixel left unpainted shows black. Qt rounds each
// rectangle of the mask to the nearest device pixels.
QString firstStrayDialogPixel(const QImage &dialog, const QList<QRect> &mask, qreal factor)
{
    for (const QRect &kept : mask) {
        const QRect pixels = QRectF(kept.x() * factor, kept.y() * factor, kept.width() * factor,
                                    kept.height() * factor).toRect();
        for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
            for (int x = pixels.left(); x <= pixels.right(); ++x) {
                const QRgb pixel = dialog.pixel(x, y);
                if (qAlpha(pixel) != 255 || (pixel & 0xFFFFFF) == 0)
                    return describe(dialog, x, y);
            }
        }
    }
    return QString();
}

// Outside the dialog's body its shadow is black at no more than the profile's alpha of 56,
// whatever lies over it; a piece cut or stretched wrongly leaves darker pixels or none.
QString firstStrayShadowPixel(const QImage &dialog, qreal factor)
{
    const QImage image = dialog.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int band = qFloor(10 * factor);
    int strongest = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (x >= band && x < image.width() - band && y < image.height() - band)
                continue;
            const QRgb pixel = image.pixel(x, y);
            // The black in a premultiplied pixel: its alpha less its brightest colour.
            const int black = qAlpha(pixel) - qMax(qRed(pixel), qMax(qGreen(pixel), qBlue(pixel)));
            if (black > 60)
                return describe(dialog, x, y);
            if (y == image.height() / 2)
                strongest = qMax(strongest, black);
        }
    }
    return strongest >= 40 ? QString() : QStringLiteral("no shadow at the sides: darkest alpha %1").arg(strongest);
}
}

class TestScaling : public QObject
{
    Q_OBJECT
private slots:
    void windowFollowsDisplayScale_data();
    void windowFollowsDisplayScale();
};

void TestScaling::windowFollowsDisplayScale_data()
{
    QTest::addColumn<int>("xftDpi"); // 0: the X server has no Xft.dpi
    QTest::addColumn<QString>("variable");
    QTest::addColumn<qreal>("factor");

    QTest::newRow("no Xft.dpi") << 0 << QString() << 1.0;
    QTest::newRow("96 dpi") << 96 << QString() << 1.0;
    QTest::newRow("120 dpi: 125 %") << 120 << QString() << 1.25;
    QTest::newRow("144 dpi: 150 %") << 144 << QString() << 1.5;
    QTest::newRow("192 dpi: 200 %") << 192 << QString() << 2.0;
    QTest::newRow("144 dpi, the user's rounding policy wins")
        << 144 << QStringLiteral("QT_SCALE_FACTOR_ROUNDING_POLICY=Round") << 2.0;
    QTest::newRow("144 dpi, scaling turned off by the user")
        << 144 << QStringLiteral("QT_ENABLE_HIGHDPI_SCALING=0") << 1.0;
}

void TestScaling::windowFollowsDisplayScale()
{
    QFETCH(int, xftDpi);
    QFETCH(QString, variable);
    QFETCH(qreal, factor);

    for (const char *tool : {"xvfb-run", "xrdb"})
        QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(), "scripts/setup installs it");

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys()) {
        if (name.startsWith(QLatin1String("QT_")) || name == QLatin1String("DISPLAY"))
            environment.remove(name);
    }
    // In the sanitizer build: libxkbcommon-x11, which the X platform loads, gives strndup a bounded
    // string with no terminating zero, which the strict string check reports as an overflow.
    if (environment.contains(QStringLiteral("ASAN_OPTIONS")))
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":strict_string_checks=0"));
    if (!variable.isEmpty())
        environment.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));

    QTemporaryDir out;
    QVERIFY(out.isValid());
    // A server that resets when its last client leaves would forget the resources before the window starts.
    const QString server = QStringLiteral("-noreset -nolisten tcp -dpi 96 -screen 0 3840x2160x24");
    QString script = QStringLiteral("exec \"$0\" \"$1\"");
    if (xftDpi > 0)
        script.prepend(QStringLiteral("echo 'Xft.dpi: %1' | xrdb -nocpp -merge && ").arg(xftDpi));
    QProcess run;
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    run.start(QStringLiteral("xvfb-run"),
              {QStringLiteral("-a"), QStringLiteral("-s"), server, QStringLiteral("/bin/sh"), QStringLiteral("-c"),
               script, QCoreApplication::applicationDirPath() + QStringLiteral("/scaled_window"), out.path()});
    QVERIFY(run.waitForFinished(-1));
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);

    QFile reportFile(QDir(out.path()).filePath(QStringLiteral("report.txt")));
    QVERIFY(reportFile.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList report = QString::fromUtf8(reportFile.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QSize windowSize = (QSizeF(designWindow) * factor).toSize();
    QVERIFY2(report.contains(QStringLiteral("window %1 %2").arg(windowSize.width()).arg(windowSize.height())),
             qPrintable(report.join(QLatin1String("; "))));
    // Dragging the title strip moves the window by the cursor's path, in the window's own units.
    QVERIFY2(report.contains(QStringLiteral("drag 40 30")), qPrintable(report.join(QLatin1String("; "))));
    const QStringList cut = report.filter(QStringLiteral("cut "));
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1String("; "))));

    for (int page = 0; page < 8; ++page) {
        const QImage window(QDir(out.path()).filePath(QStringLiteral("window-%1.png").arg(page)));
        QCOMPARE(window.size(), windowSize);
        const QString stray = firstStrayEdgePixel(window, factor);
        QVERIFY2(stray.isEmpty(), qPrintable(QStringLiteral("page %1: %2").arg(page).arg(stray)));
    }

    const QImage dialog(QDir(out.path()).filePath(QStringLiteral("dialog.png")));
    QCOMPARE(dialog.size(), (QSizeF(designDialog) * factor).toSize());
    QList<QRect> mask;
    for (const QString &line : report.filter(QStringLiteral("mask dialog.png "))) {
        const QStringList numbers = line.split(QLatin1Char(' ')).mid(2);
        mask << QRect(numbers[0].toInt(), numbers[1].toInt(), numbers[2].toInt(), numbers[3].toInt());
    }
    QVERIFY2(!mask.isEmpty(), "without a compositor the dialog is cut to its body");
    QString stray = firstStrayDialogPixel(dialog, mask, factor);
    QVERIFY2(stray.isEmpty(), qPrintable(stray));

    const QImage shadowed(QDir(out.path()).filePath(QStringLiteral("dialog-shadow.png")));
    QCOMPARE(shadowed.size(), dialog.size());
    stray = firstStrayShadowPixel(shadowed, factor);
    QVERIFY2(stray.isEmpty(), qPrintable(stray));
}

QTEST_GUILESS_MAIN(TestScaling)
#include "tst_scaling.moc"
