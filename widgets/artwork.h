#ifndef ARTWORK_H
#define ARTWORK_H

#include <QPixmap>
#include <QString>

// The compiled-in pictures come as name.png at their design size and name@2x.png at
// twice that. QIcon and style sheets choose between them by themselves; QPixmap and
// QMovie load exactly the file they are given, so they go through here.
namespace Artwork {

// The file drawn for a display of the given device pixel ratio: the @2x file above 1
// (a 1.25 display is sharper with the larger picture scaled down than with the smaller
// one scaled up), the file itself at 1 or where no @2x file exists.
QString fileFor(const QString &path, qreal devicePixelRatio);

// That file loaded and, at a ratio other than 1 or 2, resampled to the display's pixels.
// The pixmap carries its ratio, so it still measures its design size.
QPixmap load(const QString &path, qreal devicePixelRatio);

// A pixmap's size in the widget coordinates it is drawn in.
QSize logicalSize(const QPixmap &pixmap);

} // namespace Artwork

#endif
