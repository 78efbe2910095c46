#include "frameone.h"

#include "btncolor.h"

#include <QLabel>

FrameOne::FrameOne(QWidget *parent)
    : FrameBase(parent)
{
    label_info = addTextLabel(QStringLiteral("label_info"), QPoint(180, 220), QStringLiteral(
        "1) 创建一个目录作为软件信息提取目录；\r\n"
        "2) 如果安装包或免安装软件仅一个文件，请直接放到软件信息提取目录的根目录；\r\n"
        "3) 如果安装包或免安装软件包含多个文件，请在软件信息提取目录下新建一个文件夹，\r\n"
        "把该软件所有文件存放到此文件夹，并把文件夹名称重命名为该软件名称；\r\n"
        "4) 支持安装包为exe或msi格式；\r\n"
        "5) 如果安装包为压缩包或ISO格式，请先解压后再按照上述要求存放到软件信息提取目\r\n"
        "录。"));

    btnColor_picture = new BtnColor(100, 32, QStringLiteral("查看示意图"), this);
    btnColor_picture->setObjectName(QStringLiteral("btnColor_picture"));
    applyOutlinedStyle(btnColor_picture);
    btnColor_picture->move(560, 420);

    btnColor_done = new BtnColor(100, 32, QStringLiteral("已完成"), this);
    btnColor_done->setObjectName(QStringLiteral("btnColor_done"));
    applyFilledStyle(btnColor_done);
    btnColor_done->move(686, 420);

    connect(btnColor_picture, SIGNAL(signal_click()), this, SIGNAL(signal_showPicture()));
    connect(btnColor_done, SIGNAL(signal_click()), this, SLOT(on_hasDone()));

    setBanner(picture(QStringLiteral("://img/banner_0.png")));
    setTitle(QStringLiteral("文件准备"));
    setNextButton(false, QStringLiteral("下一步"));
    setPreButton(true);
}

void FrameOne::on_hasDone()
{
    setNextButton(true, QStringLiteral("下一步"));
}
