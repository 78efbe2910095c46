#include "framebase.h"

#include "artwork.h"
#include "btncolor.h"

#include <QImage>
#include <QLabel>
#include <QPainter>

namespace {
const QColor frameColor(QStringLiteral("#E0E0E0"));

BtnColorStyle buttonStyle(const QColor &text, const QColor &background, const QColor &border)
{
    return BtnColorStyle{text, FrameBase::pageFont(14), background, border, 1, 2, 2};
}

// Disabled, normal, hover and pressed, in the order the states are applied.
void applyStyles(BtnColor *button, const BtnColorStyle (&styles)[4])
{
    button->setDisableStyle(styles[0]);
    button->setNormalStyle(styles[1]);
    button->setHoverStyle(styles[2]);
    button->setPressStyle(styles[3]);
}

const QColor grey(QStringLiteral("#D6D9DE"));
const QColor blue(QStringLiteral("#38A4F5"));
const QColor lightBlue(QStringLiteral("#63C1FF"));
const QColor darkBlue(QStringLiteral("#2580CF"));
}

FrameBase::FrameBase(QWidget *parent)
    : QWidget(parent)
    , label_banner(nullptr)
    , btnColor_pre(nullptr)
    , btnColor_next(nullptr)
{
    label_title = new QLabel(this);
    label_title->setObjectName(QStringLiteral("label_title"));
    label_title->setFont(pageFont(18));
    label_title->setStyleSheet(QStringLiteral("color:#474747"));
    label_title->move(47, 90);
}

QFont FrameBase::pageFont(int pixelSize)
{
    QFont font(QStringLiteral("微软雅黑"));
    font.setPixelSize(pixelSize);
    return font;
}

QLabel *FrameBase::addTextLabel(const QString &objectName, QPoint position, const QString &text)
{
    auto *label = new QLabel(this);
    label->setObjectName(objectName);
    label->setFont(pageFont(16));
    label->setStyleSheet(QStringLiteral("color:#474747"));
    label->setText(text);
    label->move(position);
    return label;
}

void FrameBase::applyFilledStyle(BtnColor *button)
{
    const BtnColorStyle styles[4] = {
        buttonStyle(Qt::white, grey, grey),
        buttonStyle(Qt::white, blue, blue),
        buttonStyle(Qt::white, lightBlue, lightBlue),
        buttonStyle(Qt::white, darkBlue, darkBlue),
    };
    applyStyles(button, styles);
}

void FrameBase::applyOutlinedStyle(BtnColor *button)
{
    const BtnColorStyle styles[4] = {
        buttonStyle(grey, Qt::white, grey),
        buttonStyle(blue, Qt::white, blue),
        buttonStyle(lightBlue, Qt::white, lightBlue),
        buttonStyle(darkBlue, Qt::white, darkBlue),
    };
    applyStyles(button, styles);
}

void FrameBase::setTitle(QString title)
{
    label_title->setText(title);
}

void FrameBase::setBanner(QPixmap banner)
{
    if (!label_banner) {
        label_banner = new QLabel(this);
        label_banner->setObjectName(QStringLiteral("label_banner"));
    }

    // The banner covers the top of the page frame, so it carries the frame's side lines on, one
    // design pixel wide. Its size in design pixels is fractional where the picture was resampled
    // to a fractional scale, so that the lines reach its last pixels.
    QImage image = banner.toImage();
    {
        const QSizeF size = QSizeF(image.size()) / image.devicePixelRatioF();
        QPainter painter(&image);
        painter.fillRect(QRectF(0, 0, 1, size.height()), frameColor);
        painter.fillRect(QRectF(size.width() - 1, 0, 1, size.height()), frameColor);
    }
    label_banner->setPixmap(QPixmap::fromImage(image));
    label_banner->move(0, 0);
    label_banner->show();
}

void FrameBase::setNextButton(bool enabled, QString text)
{
    if (!btnColor_next) {
        btnColor_next = new BtnColor(86, 32, text, this);
        btnColor_next->setObjectName(QStringLiteral("btnColor_next"));
    }
    applyFilledStyle(btnColor_next);
    btnColor_next->move(480, 510);
    btnColor_next->setBtnEnabled(enabled);
    disconnect(btnColor_next, SIGNAL(signal_click()), this, SIGNAL(signal_next()));
    connect(btnColor_next, SIGNAL(signal_click()), this, SIGNAL(signal_next()));
}

void FrameBase::setPreButton(bool enabled)
{
    if (!btnColor_pre) {
        btnColor_pre = new BtnColor(86, 32, QStringLiteral("上一步"), this);
        btnColor_pre->setObjectName(QStringLiteral("btnColor_pre"));
    }
    applyOutlinedStyle(btnColor_pre);
    btnColor_pre->move(360, 510);
    btnColor_pre->setBtnEnabled(enabled);
    disconnect(btnColor_pre, SIGNAL(signal_click()), this, SIGNAL(signal_pre()));
    connect(btnColor_pre, SIGNAL(signal_click()), this, SIGNAL(signal_pre()));
}

void FrameBase::paintEvent(QPaintEvent *event)
{
    paintPage(event, QStringLiteral("://img/innerFrame.png"), 30);
}

QPixmap FrameBase::picture(const QString &path) const
{
    return Artwork::load(path, devicePixelRatioF());
}

void FrameBase::paintPage(QPaintEvent *event, const QString &picture, int offset)
{
    QPainter painter(this);
    painter.fillRect(rect(), QBrush(Qt::white, Qt::SolidPattern));
    // Loaded on every paint, so a window moved to a screen of another scale gets the matching picture.
    const QPixmap pixmap = this->picture(picture);
    const QSize size = Artwork::logicalSize(pixmap);
    painter.drawPixmap(QRect((width() - size.width()) / 2, (height() - size.height()) / 2 + offset,
                             size.width(), size.height()),
                       pixmap);
    // The frame as four filled strips, not a stroked rectangle: a stroke of one design pixel
    // straddles device pixels at fractional scales and can leave the outermost ones unpainted.
    const int w = width();
    const int h = height();
    painter.fillRect(QRect(0, 0, w, 1), frameColor);
    painter.fillRect(QRect(0, h - 1, w, 1), frameColor);
    painter.fillRect(QRect(0, 0, 1, h), frameColor);
    painter.fillRect(QRect(w - 1, 0, 1, h), frameColor);
    painter.end();
    QWidget::paintEvent(event);
}
