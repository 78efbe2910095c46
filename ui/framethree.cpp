#include "framethree.h"

#include "btncolor.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>

FrameThree::FrameThree(QWidget *parent)
    : FrameBase(parent)
{
    label_path = addTextLabel(QStringLiteral("label_path"), QPoint(180, 308), QStringLiteral("选择路径"));

    label_tip = addTextLabel(QStringLiteral("label_tip"), QPoint(180, 342),
                              QStringLiteral("点击“浏览”按钮，指定软件信息导出的目录，完成后再点击“下一步”按钮继续操作。"));

    lineEdit_file = new QLineEdit(this);
    lineEdit_file->setObjectName(QStringLiteral("lineEdit_file"));
    lineEdit_file->setReadOnly(true);
    lineEdit_file->setFont(pageFont(14));
    lineEdit_file->setStyleSheet(QStringLiteral("color:#474747"));
    lineEdit_file->setFixedSize(406, 32);
    lineEdit_file->move(260, 303);

    btnColor_browse = new BtnColor(100, 32, QStringLiteral("浏览"), this);
    btnColor_browse->setObjectName(QStringLiteral("btnColor_browse"));
    applyFilledStyle(btnColor_browse);
    btnColor_browse->move(686, 303);
    connect(btnColor_browse, SIGNAL(signal_click()), this, SLOT(on_btnColor_browse()));

    setBanner(picture(QStringLiteral("://img/banner_2.png")));
    setTitle(QStringLiteral("导出信息"));
    setNextButton(false, QStringLiteral("下一步"));
    setPreButton(true);
}

QString FrameThree::dstFileName()
{
    return lineEdit_file->text();
}

void FrameThree::on_btnColor_browse()
{
    const QString fileName = QFileDialog::getSaveFileName(this, QString(), QString(), QStringLiteral("*.xlsx"));
    if (fileName.isEmpty())
        return;

    lineEdit_file->setText(fileName);
    lineEdit_file->setToolTip(fileName);
    setNextButton(true, QStringLiteral("下一步"));
}
