#include "framepicture.h"

#include "btncolor.h"

FramePicture::FramePicture(QWidget *parent)
    : FrameBase(parent)
{
    btnColor_back = new BtnColor(86, 32, QStringLiteral("返回"), this);
    btnColor_back->setObjectName(QStringLiteral("btnColor_back"));
    applyFilledStyle(btnColor_back);
    btnColor_back->move(692, 420);
    connect(btnColor_back, SIGNAL(signal_click()), this, SIGNAL(signal_back()));

    setBanner(picture(QStringLiteral("://img/banner_0.png")));
    setTitle(QStringLiteral("文件准备"));
}

void FramePicture::paintEvent(QPaintEvent *event)
{
    paintPage(event, QStringLiteral("://img/frame_picture.png"), 30);
}
