#include "shadowdialog.h"

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
}

ShadowDialog::ShadowDialog(QWidget *parent)
    : QDialog(parent)
    , translucent(true)
{
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground, true);

    const QPixmap image(QStringLiteral(":/img/big.png"));
    const int w = image.width();
    const int h = image.height();
    shadowPieces << image.copy(0, 50, pieceSize, pieceSize)                    // left edge
                 << image.copy(w - pieceSize, 50, pieceSize, pieceSize)        // right edge
                 << image.copy(50, 0, pieceSize, pieceSize)                    // top edge
                 << image.copy(50, h - pieceSize, pieceSize, pieceSize)        // bottom edge
                 << image.copy(0, 0, pieceSize, pieceSize)                     // top-left corner
                 << image.copy(w - pieceSize, 0, pieceSize, pieceSize)         // top-right corner
                 << image.copy(0, h - pieceSize, pieceSize, pieceSize)         // bottom-left corner
                 << image.copy(w - pieceSize, h - pieceSize, pieceSize, pieceSize); // bottom-right corner
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

    painter.drawPixmap(0, 0, shadowPieces[4]);
    painter.drawPixmap(w - s, 0, shadowPieces[5]);
    painter.drawPixmap(0, h - s, shadowPieces[6]);
    painter.drawPixmap(w - s, h - s, shadowPieces[7]);

    painter.drawPixmap(0, s, shadowPieces[0].scaled(s, h - 2 * s, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    painter.drawPixmap(w - s, s, shadowPieces[1].scaled(s, h - 2 * s, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    painter.drawPixmap(s, 0, shadowPieces[2].scaled(w - 2 * s, s, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    painter.drawPixmap(s, h - s, shadowPieces[3].scaled(w - 2 * s, s, Qt::IgnoreAspectRatio, Qt::FastTransformation));

    // The body covers the inner half of every band, so the visible shadow is the outer 10 pixels.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(Qt::white, Qt::SolidPattern));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawRoundedRect(QRectF(10, 10, w - 20, h - 20), 0, 0);

    QWidget::paintEvent(event);
}
