#include "btncolor.h"

#include <QCursor>
#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

BtnColor::BtnColor(int width, int height, QString text, QWidget *parent)
    : QWidget(parent)
    , text(text)
{
    setFixedSize(width, height);
    setFocusPolicy(Qt::ClickFocus);

    BtnColorStyle initial;
    initial.textColor = Qt::black;
    initial.font.setFamily(QStringLiteral("微软雅黑"));
    initial.backgroundColor = Qt::white;
    initial.borderColor = Qt::black;
    currentStyle = initial;
    normalStyle = initial;
    hoverStyle = initial;
    pressStyle = initial;
    // The disabled look keeps invalid colours: every owner sets it before disabling the button.
}

void BtnColor::setNormalStyle(BtnColorStyle style)
{
    normalStyle = style;
    currentStyle = style;
}

void BtnColor::setHoverStyle(BtnColorStyle style)
{
    hoverStyle = style;
}

void BtnColor::setPressStyle(BtnColorStyle style)
{
    pressStyle = style;
}

void BtnColor::setDisableStyle(BtnColorStyle style)
{
    disableStyle = style;
}

void BtnColor::setBtnEnabled(bool enable)
{
    currentStyle = enable ? normalStyle : disableStyle;
    update();
    QWidget::setEnabled(enable);
}

void BtnColor::setText(QString text)
{
    this->text = text;
    update();
}

bool BtnColor::event(QEvent *event)
{
    if (isEnabled()) {
        if (event->type() == QEvent::Enter) {
            emit signal_in();
            currentStyle = hoverStyle;
            update();
        } else if (event->type() == QEvent::Leave) {
            emit signal_out();
            currentStyle = normalStyle;
            update();
        } else if (event->type() == QEvent::Show) {
            // A window can hide under the pointer before its Leave arrives, and none comes while it is
            // hidden, so the look left by the last click or hover is stale by the time it shows again.
            currentStyle = rect().contains(mapFromGlobal(QCursor::pos())) ? hoverStyle : normalStyle;
        }
    }
    return QWidget::event(event);
}

void BtnColor::mousePressEvent(QMouseEvent *event)
{
    if (isEnabled()) {
        currentStyle = pressStyle;
        emit signal_press(event->globalPos());
        update();
    }
    QWidget::mousePressEvent(event);
}

void BtnColor::mouseReleaseEvent(QMouseEvent *event)
{
    if (isEnabled()) {
        // Hover even when released outside: the Leave that follows restores the normal look.
        currentStyle = hoverStyle;
        update();
        emit signal_click();
        emit signal_release(event->globalPos());
    }
    QWidget::mouseReleaseEvent(event);
}

void BtnColor::mouseMoveEvent(QMouseEvent *event)
{
    if (isEnabled())
        emit signal_move(event->globalPos());
    QWidget::mouseMoveEvent(event);
}

void BtnColor::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    QRect r = event->rect();
    painter.fillRect(r, QBrush(QColor(0, 0, 0, 0), Qt::SolidPattern));

    r = r.adjusted(0, 0, -1, -1);
    QPainterPath path;
    path.addRoundedRect(QRectF(r), currentStyle.xRadius, currentStyle.yRadius, Qt::AbsoluteSize);
    painter.fillPath(path, QBrush(currentStyle.backgroundColor, Qt::SolidPattern));
    if (currentStyle.borderWidth > 0) {
        painter.setPen(QPen(currentStyle.borderColor, currentStyle.borderWidth));
        painter.drawPath(path);
        painter.setPen(Qt::NoPen);
    }

    const QRect bound = QFontMetrics(currentStyle.font).boundingRect(text);
    painter.setPen(currentStyle.textColor);
    painter.setFont(currentStyle.font);
    painter.drawText(QRectF((r.width() - bound.width()) / 2, (r.height() - bound.height()) / 2, r.width(), r.height()),
                     text, QTextOption());

    QWidget::paintEvent(event);
}
