#include "artwork.h"

#include <QFile>
#include <QImage>
#include <QPixmapCache>

namespace Artwork {

namespace {
const int cacheKilobytes = 64 * 1024;
}

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
    // The page pictures of a 200 % display alone fill Qt's default 10 MB of cache, and a
    // picture pushed out is read and resampled again on the next paint.
    if (QPixmapCache::cacheLimit() < cacheKilobytes)
        QPixmapCache::setCacheLimit(cacheKilobytes);
    const QString key = QStringLiteral("artwork:%1:%2").arg(path).arg(devicePixelRatio);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;

    // Read as an image, which Qt does not cache as well. Its reader gives a file named
    // name@2x a device pixel ratio of 2.
    QImage image(fileFor(path, devicePixelRatio));
    if (!image.isNull() && devicePixelRatio > 1.0 && !qFuzzyCompare(image.devicePixelRatioF(), devicePixelRatio)) {
        // Resampled once, smoothly, to the display's own pixels: a painter or a label would
        // otherwise scale it on every paint, and without smoothing.
        const QSizeF deviceSize = QSizeF(image.size()) / image.devicePixelRatioF() * devicePixelRatio;
        image = image.scaled(deviceSize.toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        image.setDevicePixelRatio(devicePixelRatio);
    }
    pixmap = QPixmap::fromImage(image);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

QSize logicalSize(const QPixmap &pixmap)
{
    // A picture that failed to load has no ratio to divide by.
    const qreal ratio = pixmap.devicePixelRatioF();
    if (pixmap.isNull() || !(ratio > 0))
        return pixmap.size();
    return (QSizeF(pixmap.size()) / ratio).toSize();
}

} // namespace Artwork
