#include "shadowdialog.h"

#include "artwork.h"
#include "platform.h"

#include <QColor>
#include <QPainter>
#include <QRegion>

namespace {
const int pieceSize = 20;
// The shadow's band outside the body.
const int shadowWidth = 10;
// The outline of the opaque look, in the blue of the title strips.
const QColor outlineColor(56, 164, 245);

// A piece of the shadow image, given in design pixels, cut from the image's own pixels.
QPixmap cut(const QPixmap &image, int x, int y, int w, int h)
{
    const qreal ratio = image.devicePixelRatioF();
    QPixmap piece = image.copy(QRectF(x * ratio, y * ratio, w * ratio, h * ratio).toRect());
    piece.setDevicePixelRatio(ratio);
    return piece;
}
}

ShadowDialog::ShadowDialog(QWidget *parent)
    : QDialog(parent)
    , translucent(true)
{
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground, true);

    const QPixmap image = Artwork::load(QStringLiteral(":/img/big.png"), devicePixelRatioF());
    const QSize size = Artwork::logicalSize(image);
    const int w = size.width();
    const int h = size.height();
    const int s = pieceSize;
    shadowPieces << cut(image, 0, 50, s, s)         // left edge
                 << cut(image, w - s, 50, s, s)     // right edge
                 << cut(image, 50, 0, s, s)         // top edge
                 << cut(image, 50, h - s, s, s)     // bottom edge
                 << cut(image, 0, 0, s, s)          // top-left corner
                 << cut(image, w - s, 0, s, s)      // top-right corner
                 << cut(image, 0, h - s, s, s)      // bottom-left corner
                 << cut(image, w - s, h - s, s, s); // bottom-right corner
}

// The body and whatever children stand out of it (a title strip over the top band), with a one-pixel outline.
QRect ShadowDialog::opaqueArea() const
{
    const QRect body = rect().adjusted(shadowWidth, shadowWidth, -shadowWidth, -shadowWidth);
    return (body | childrenRect()).adjusted(-1, -1, 1, 1) & rect();
}

void ShadowDialog::showEvent(QShowEvent *event)
{
    // Asked at every show: a compositing manager can start or stop while the program runs.
    translucent = Platform::canShowTranslucentWindows();
    if (translucent)
        clearMask();
    else
        setMask(QRegion(opaqueArea()));
    QDialog::showEvent(event);
}

void ShadowDialog::paintEvent(QPaintEvent *event)
{
    const int w = width();
    const int h = height();
    const int s = pieceSize;
    QPainter painter(this);

    if (!translucent) {
        // Every pixel left inside the mask is opaque, so nothing is left for the window system to show black.
        const QRect area = opaqueArea();
        painter.fillRect(area, outlineColor);
        painter.fillRect(area.adjusted(1, 1, -1, -1), Qt::white);
        QWidget::paintEvent(event);
        return;
    }

    // Drawn into their rectangles, so the pieces are stretched in design pixels at any scale.
    painter.drawPixmap(QRect(0, 0, s, s), shadowPieces[4]);
    painter.drawPixmap(QRect(w - s, 0, s, s), shadowPieces[5]);
    painter.drawPixmap(QRect(0, h - s, s, s), shadowPieces[6]);
    painter.drawPixmap(QRect(w - s, h - s, s, s), shadowPieces[7]);

    painter.drawPixmap(QRect(0, s, s, h - 2 * s), shadowPieces[0]);
    painter.drawPixmap(QRect(w - s, s, s, h - 2 * s), shadowPieces[1]);
    painter.drawPixmap(QRect(s, 0, w - 2 * s, s), shadowPieces[2]);
    painter.drawPixmap(QRect(s, h - s, w - 2 * s, s), shadowPieces[3]);

    // The body covers the inner half of every band, so the visible shadow is the outer 10 pixels.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(Qt::white, Qt::SolidPattern));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawRoundedRect(QRectF(10, 10, w - 20, h - 20), 0, 0);

    QWidget::paintEvent(event);
}
