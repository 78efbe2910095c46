#include "framesix.h"

FrameSix::FrameSix(QWidget *parent)
    : FrameBase(parent)
{
    setBanner(picture(QStringLiteral("://img/banner_5.png")));
    setTitle(QStringLiteral("完成"));
    setNextButton(true, QStringLiteral("关闭"));
    setPreButton(true);
}

void FrameSix::paintEvent(QPaintEvent *event)
{
    paintPage(event, QStringLiteral("://img/frame_finish.png"), 30);
}
