#include "framemain.h"

#include <QMessageBox>

// Minimal window until the wizard pages exist.
FrameMain::FrameMain(QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("软件信息提取工具"));
    setFixedSize(960, 640);
}

void FrameMain::showSoftwareList(QList<QString> fileNames)
{
    Q_UNUSED(fileNames);
}

void FrameMain::showExtractProgress(int index, int count)
{
    Q_UNUSED(index);
    Q_UNUSED(count);
}

void FrameMain::extractFinished()
{
}

void FrameMain::extractStopped()
{
}

QString FrameMain::exportFilePath()
{
    return QString();
}

void FrameMain::on_showMsg(bool isChooseMode, QString msg, int type, QString btnOkMsg, QString btnCancelMsg,
                           QWidget *parent)
{
    Q_UNUSED(isChooseMode);
    Q_UNUSED(type);
    Q_UNUSED(btnCancelMsg);
    QMessageBox box(QMessageBox::Information, windowTitle(), msg, QMessageBox::NoButton,
                    isVisible() ? this : parent);
    box.addButton(btnOkMsg, QMessageBox::AcceptRole);
    box.exec();
}
