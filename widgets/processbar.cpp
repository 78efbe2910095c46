#include "processbar.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPaintEvent>
#include <QtGlobal>

ProcessBar::ProcessBar(int chunkHeight, int trackHeight, QColor chunkColor, QColor trackColor, int xRadius,
                       int yRadius, QFont font, QColor textColor, QWidget *parent)
    : QWidget(parent)
    , maximum(0)
    , value(0)
    , chunkHeight(chunkHeight)
    , trackHeight(trackHeight)
    , textGap(0)
    , xRadius(xRadius)
    , yRadius(yRadius)
    , chunkColor(chunkColor)
    , trackColor(trackColor)
    , textColor(textColor)
    , font(font)
    , showText(true)
{
}

void ProcessBar::setMaximum(int maximum)
{
    this->maximum = maximum;
}

void ProcessBar::setValue(int value)
{
    this->value = qMin(value, maximum);
    if (!paintedValid || int(paintedBarWidth * ratio()) != paintedChunkWidth || percentText() != paintedText)
        update();
}

void ProcessBar::setTextVisible(bool show)
{
    showText = show;
    update();
}

double ProcessBar::ratio() const
{
    return maximum == 0 ? 0.0 : double(value) / maximum;
}

QString ProcessBar::percentText() const
{
    if (maximum == 0)
        return QStringLiteral("0%");
    // Round to whole percents, but keep 99.5 % and above at 99 until the work is really complete.
    const double r = ratio() >= 0.995 ? 0.994 : ratio();
    const int n = int(r * 100 + 0.5);
    QString text = QString::number(double(n), 'g', 2) + QLatin1Char('%');
    if (value == maximum)
        text = QStringLiteral("100%");
    else if (value > 0 && text == QLatin1String("0%"))
        text = QStringLiteral("1%");
    return text;
}

void ProcessBar::paintEvent(QPaintEvent *event)
{
    const QRect r = event->rect();
    const int w = r.width();
    const int h = r.height();
    QPainter painter(this);
    painter.fillRect(r, QBrush(QColor(0, 0, 0, 0), Qt::SolidPattern));

    int barWidth = w;
    const QString text = percentText();
    if (showText) {
        // Measured on at least four characters, so the text's left edge stays put as the number grows.
        const QRect bound = QFontMetrics(font).boundingRect(text.rightJustified(4, QLatin1Char('0')));
        painter.setPen(textColor);
        painter.setFont(font);
        painter.drawText(QRectF(w - bound.width() - 1, (h - bound.height()) / 2, bound.width() + 1, bound.height() + 1),
                         text, QTextOption());
        barWidth = w - bound.width() - 1 - textGap;
        painter.setPen(Qt::NoPen);
    }

    QPainterPath track;
    track.addRoundedRect(QRectF(0, (h - trackHeight) / 2, barWidth, trackHeight), xRadius, yRadius, Qt::AbsoluteSize);
    painter.fillPath(track, QBrush(trackColor, Qt::SolidPattern));

    const int chunkWidth = int(barWidth * ratio());
    QPainterPath chunk;
    chunk.addRoundedRect(QRectF(0, (h - chunkHeight) / 2, chunkWidth, chunkHeight), xRadius, yRadius, Qt::AbsoluteSize);
    painter.fillPath(chunk, QBrush(chunkColor, Qt::SolidPattern));

    // Sizes taken from a part of the widget say nothing about the whole.
    paintedValid = r == rect();
    paintedText = text;
    paintedBarWidth = barWidth;
    paintedChunkWidth = chunkWidth;

    QWidget::paintEvent(event);
}
