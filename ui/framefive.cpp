#include "framefive.h"

#include "btncolor.h"

#include <QLabel>

FrameFive::FrameFive(QWidget *parent)
    : FrameBase(parent)
{
    label_info = addTextLabel(QStringLiteral("label_info"), QPoint(180, 220), QStringLiteral(
        "1）登录云主机WEB管理系统，然后进入“策略管理”->“软件管控管理”->“软件\r\n"
        "库管理”页面；\r\n"
        "2）点击“更多操作”->“导入软件信息”，进入“导入软件信息”页面；\r\n"
        "3）在“导入软件信息”页面点击“点击上传”按钮，并且在弹出的文件选择框中选择在\r\n"
        "“导出信息”步骤中设置的导出文件上传；\r\n"
        "4）完成上述步骤后，点击“已完成”按钮，接着再点击“下一步”按钮继续操作。"));

    btnColor_done = new BtnColor(100, 32, QStringLiteral("已完成"), this);
    btnColor_done->setObjectName(QStringLiteral("btnColor_done"));
    applyFilledStyle(btnColor_done);
    btnColor_done->move(686, 420);
    connect(btnColor_done, SIGNAL(signal_click()), this, SLOT(on_hasDone()));

    setBanner(picture(QStringLiteral("://img/banner_4.png")));
    setTitle(QStringLiteral("文件上传"));
    setNextButton(false, QStringLiteral("下一步"));
    setPreButton(true);
}

void FrameFive::on_hasDone()
{
    setNextButton(true, QStringLiteral("下一步"));
}
