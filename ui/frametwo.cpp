#include "frametwo.h"

#include "btncolor.h"
#include "platform.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>

FrameTwo::FrameTwo(QWidget *parent)
    : FrameBase(parent)
{
    label_path = addTextLabel(QStringLiteral("label_path"), QPoint(180, 308), QStringLiteral("选择路径"));

    lineEdit_path = new QLineEdit(this);
    lineEdit_path->setObjectName(QStringLiteral("lineEdit_path"));
    lineEdit_path->setReadOnly(true);
    lineEdit_path->setFont(pageFont(14));
    lineEdit_path->setStyleSheet(QStringLiteral("color:#474747"));
    lineEdit_path->setFixedSize(406, 32);
    lineEdit_path->move(260, 303);

    btnColor_browse = new BtnColor(100, 32, QStringLiteral("浏览"), this);
    btnColor_browse->setObjectName(QStringLiteral("btnColor_browse"));
    applyFilledStyle(btnColor_browse);
    btnColor_browse->move(686, 303);
    connect(btnColor_browse, SIGNAL(signal_click()), this, SLOT(on_btnColor_browse()));

    setBanner(picture(QStringLiteral("://img/banner_1.png")));
    setTitle(QStringLiteral("选择软件信息提取目录"));
    setNextButton(false, QStringLiteral("下一步"));
    setPreButton(true);
}

QString FrameTwo::srcPath()
{
    return lineEdit_path->text();
}

void FrameTwo::on_btnColor_browse()
{
    const QString path = QFileDialog::getExistingDirectory(this, QString(), QString(), QFileDialog::ShowDirsOnly);
    if (path.isEmpty())
        return;

    // Scanning a whole drive would list every installer on it.
    if (Platform::isFilesystemRoot(path)) {
        emit signal_showMsg(false, QStringLiteral("请选择一个文件夹"), 0, QStringLiteral("关闭"), QString(), nullptr);
        return;
    }

    lineEdit_path->setText(path);
    lineEdit_path->setToolTip(path);
    emit signal_scanPath(path);
    setNextButton(true, QStringLiteral("下一步"));
}
