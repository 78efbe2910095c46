#include "framewelcome.h"

#include "btncolor.h"

#include <QLabel>

FrameWelcome::FrameWelcome(QWidget *parent)
    : FrameBase(parent)
{
    label_info = new QLabel(this);
    label_info->setObjectName(QStringLiteral("label_info"));
    label_info->setWordWrap(true);
    label_info->setFont(pageFont(12));
    label_info->setStyleSheet(QStringLiteral("color:#474747"));
    label_info->setText(QStringLiteral("此软件配合软件管控功能使用，支持提取软件安装包或免安装软件的数字签名、特征码等信息，"
                                       "支持单个软件或批量软件提取。"));
    label_info->setFixedWidth(317);
    label_info->setFixedHeight(label_info->heightForWidth(317));
    label_info->move(322, 392);

    btnColor_start = new BtnColor(86, 32, QStringLiteral("开始使用"), this);
    btnColor_start->setObjectName(QStringLiteral("btnColor_start"));
    applyFilledStyle(btnColor_start);
    btnColor_start->move(436, 487);
    connect(btnColor_start, SIGNAL(signal_click()), this, SIGNAL(signal_next()));

    setTitle(QStringLiteral("欢迎使用软件信息提取工具"));
}

void FrameWelcome::paintEvent(QPaintEvent *event)
{
    paintPage(event, QStringLiteral("://img/frame_welcome.png"), -2);
}
