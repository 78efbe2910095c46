#include "artwork.h"

#include <QFile>
#include <QPixmapCache>

namespace Artwork {

QString fileFor(const QString &path, qreal devicePixelRatio)
{
    if (devicePixelRatio <= 1.0)
        return path;
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    QString doubled = path;
    doubled.insert(dot > slash ? dot : path.size(), QStringLiteral("@2x"));
    return QFile::exists(doubled) ? doubled : path;
}

QPixmap load(const QString &path, qreal devicePixelRatio)
{
    // Qt's image reader gives a file named name@2x a device pixel ratio of 2.
    const QPixmap pixmap(fileFor(path, devicePixelRatio));
    if (pixmap.isNull() || devicePixelRatio <= 1.0 || qFuzzyCompare(pixmap.devicePixelRatioF(), devicePixelRatio))
        return pixmap;

    // Resampled once, smoothly, to the display's own pixels: a painter or a label would
    // otherwise scale it on every paint, and without smoothing.
    const QString key = QStringLiteral("artwork:%1:%2").arg(path).arg(devicePixelRatio);
    QPixmap scaled;
    if (QPixmapCache::find(key, &scaled))
        return scaled;
    const QSizeF deviceSize = QSizeF(logicalSize(pixmap)) * devicePixelRatio;
    scaled = pixmap.scaled(deviceSize.toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, scaled);
    return scaled;
}

QSize logicalSize(const QPixmap &pixmap)
{
    return (QSizeF(pixmap.size()) / pixmap.devicePixelRatioF()).toSize();
}

} // namespace Artwork
