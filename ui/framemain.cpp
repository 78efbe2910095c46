#include "framemain.h"

#include "btnlabel.h"
#include "framefive.h"
#include "framefour.h"
#include "frameone.h"
#include "framepicture.h"
#include "framesix.h"
#include "framethree.h"
#include "frametwo.h"
#include "framewelcome.h"
#include "listdialog.h"
#include "msgdialog.h"
#include "widgetmove.h"

#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QStackedWidget>

namespace {
const QString programTitle = QStringLiteral("软件信息提取工具");

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {256, 128, 96, 72, 64, 48, 32, 24, 16})
        icon.addFile(QStringLiteral(":/icons/pelbrook-%1.png").arg(size), QSize(size, size));
    return icon;
}
}

FrameMain::FrameMain(QWidget *parent)
    : QWidget(parent)
{
    QFont font(QStringLiteral("微软雅黑"));
    font.setPixelSize(14);

    widgetMove = new WidgetMove(this, true);
    widgetMove->setObjectName(QStringLiteral("widgetMove"));
    widgetMove->setFixedSize(960, 44);
    widgetMove->move(0, 0);
    widgetMove->setStyleSheet(QStringLiteral("background:rgb(56 , 164 , 245);"));

    label_title = new QLabel(widgetMove);
    label_title->setObjectName(QStringLiteral("label_title"));
    label_title->setText(programTitle);
    label_title->setFont(font);
    label_title->setStyleSheet(QStringLiteral("color:white;"));
    label_title->move(12, 12);

    btnLabel_min = new BtnLabel(widgetMove);
    btnLabel_min->setObjectName(QStringLiteral("btnLabel_min"));
    btnLabel_min->setNormalStyleSheet(QStringLiteral(
        "QLabel{background-image:url(://img/banner-min-nor.png);background-repeat:no-repeat;}"
        "QLabel:hover{background-image:url(://img/banner-min-hov.png);background-repeat:no-repeat;}"
        "QLabel:press{background-image:url(://img/banner-min-pre.png);background-repeat:no-repeat;}"));
    btnLabel_min->move(892, 12);
    btnLabel_min->setFixedSize(16, 16);
    connect(btnLabel_min, SIGNAL(signal_clicked()), this, SLOT(on_btnLabel_min()));
    connect(btnLabel_min, SIGNAL(signal_dClicked()), this, SLOT(on_btnLabel_min()));

    btnLabel_close = new BtnLabel(widgetMove);
    btnLabel_close->setObjectName(QStringLiteral("btnLabel_close"));
    btnLabel_close->setNormalStyleSheet(QStringLiteral(
        "QLabel{background-image:url(://img/banner-close-nor.png);background-repeat:no-repeat;}"
        "QLabel:hover{background-image:url(://img/banner-close-hov.png);background-repeat:no-repeat;}"
        "QLabel:press{background-image:url(://img/banner-close-pre.png);background-repeat:no-repeat;}"));
    btnLabel_close->move(932, 16);
    btnLabel_close->setFixedSize(12, 12);
    connect(btnLabel_close, SIGNAL(signal_clicked()), this, SLOT(on_btnLabel_close()));
    connect(btnLabel_close, SIGNAL(signal_dClicked()), this, SLOT(on_btnLabel_close()));

    frameWelcome = new FrameWelcome(nullptr);
    frameWelcome->setObjectName(QStringLiteral("frameWelcome"));
    connect(frameWelcome, SIGNAL(signal_next()), this, SLOT(on_switch_next()));

    frameOne = new FrameOne(nullptr);
    frameOne->setObjectName(QStringLiteral("frameOne"));
    connect(frameOne, SIGNAL(signal_showPicture()), this, SLOT(on_showPicture()));
    connect(frameOne, SIGNAL(signal_next()), this, SLOT(on_switch_next()));
    connect(frameOne, SIGNAL(signal_pre()), this, SLOT(on_swidth_pre()));

    frameTwo = new FrameTwo(nullptr);
    frameTwo->setObjectName(QStringLiteral("frameTwo"));
    connect(frameTwo, SIGNAL(signal_next()), this, SLOT(on_switch_next()));
    connect(frameTwo, SIGNAL(signal_pre()), this, SLOT(on_swidth_pre()));
    connect(frameTwo, SIGNAL(signal_scanPath(QString)), this, SLOT(on_scanPath(QString)));
    connect(frameTwo, SIGNAL(signal_showMsg(bool,QString,int,QString,QString,QWidget*)),
            this, SLOT(on_showMsg(bool,QString,int,QString,QString,QWidget*)));

    frameThree = new FrameThree(nullptr);
    frameThree->setObjectName(QStringLiteral("frameThree"));
    connect(frameThree, SIGNAL(signal_next()), this, SLOT(on_switch_next()));
    connect(frameThree, SIGNAL(signal_pre()), this, SLOT(on_swidth_pre()));

    frameFour = new FrameFour(nullptr);
    frameFour->setObjectName(QStringLiteral("frameFour"));
    connect(frameFour, SIGNAL(signal_software()), this, SLOT(on_software()));
    connect(frameFour, SIGNAL(signal_next()), this, SLOT(on_switch_next()));
    connect(frameFour, SIGNAL(signal_pre()), this, SLOT(on_swidth_pre()));
    connect(frameFour, SIGNAL(signal_showMsg(bool,QString,int,QString,QString,QWidget*)),
            this, SLOT(on_showMsg(bool,QString,int,QString,QString,QWidget*)));
    connect(frameFour, SIGNAL(signal_frush()), this, SLOT(on_frush()));

    frameFive = new FrameFive(nullptr);
    frameFive->setObjectName(QStringLiteral("frameFive"));
    connect(frameFive, SIGNAL(signal_next()), this, SLOT(on_switch_next()));
    connect(frameFive, SIGNAL(signal_pre()), this, SLOT(on_swidth_pre()));

    frameSix = new FrameSix(nullptr);
    frameSix->setObjectName(QStringLiteral("frameSix"));
    connect(frameSix, SIGNAL(signal_next()), this, SLOT(on_switch_next()));
    connect(frameSix, SIGNAL(signal_pre()), this, SLOT(on_swidth_pre()));

    framePicture = new FramePicture(nullptr);
    framePicture->setObjectName(QStringLiteral("framePicture"));
    connect(framePicture, SIGNAL(signal_back()), this, SLOT(on_showPicture_back()));

    stackedWidget = new QStackedWidget(this);
    stackedWidget->setObjectName(QStringLiteral("stackedWidget"));
    stackedWidget->setFixedSize(960, 596);
    stackedWidget->move(0, 44);
    stackedWidget->addWidget(frameWelcome);
    stackedWidget->addWidget(frameOne);
    stackedWidget->addWidget(frameTwo);
    stackedWidget->addWidget(frameThree);
    stackedWidget->addWidget(frameFour);
    stackedWidget->addWidget(frameFive);
    stackedWidget->addWidget(frameSix);
    stackedWidget->addWidget(framePicture);

    const QIcon icon = applicationIcon();
    msgDialog = new MsgDialog(nullptr);
    msgDialog->setObjectName(QStringLiteral("msgDialog"));
    msgDialog->setWindowIcon(icon);
    listDialog = new ListDialog(nullptr);
    listDialog->setObjectName(QStringLiteral("listDialog"));
    listDialog->setWindowIcon(icon);

    setFixedSize(960, 640);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowMaximizeButtonHint);
    setWindowTitle(programTitle);
    setWindowIcon(icon);
}

// The dialog has no parent, so that it can be shown while the window is hidden; it goes with the window.
FrameMain::~FrameMain()
{
    delete msgDialog;
    delete listDialog;
}

void FrameMain::showSoftwareList(QList<QString> fileNames)
{
    frameFour->setSoftwareList(fileNames);
}

void FrameMain::showExtractProgress(int index, int count)
{
    frameFour->setProgress(index, count);
}

void FrameMain::extractFinished()
{
    frameFour->enableNext();
}

void FrameMain::extractStopped()
{
    frameFour->endExtraction();
}

QString FrameMain::exportFilePath()
{
    return frameThree->dstFileName();
}

void FrameMain::on_showMsg(bool isChooseMode, QString msg, int type, QString btnOkMsg, QString btnCancelMsg,
                           QWidget *parent)
{
    msgDialog->showMsg(isChooseMode, msg, type, btnOkMsg, btnCancelMsg, isVisible() ? this : parent);
}

int FrameMain::askMsg(QString msg, int type, QString btnOkMsg, QString btnCancelMsg)
{
    return msgDialog->askMsg(msg, type, btnOkMsg, btnCancelMsg, isVisible() ? this : nullptr);
}

void FrameMain::showFileList(QString title, QStringList headers, QList<QStringList> rows)
{
    listDialog->setRows(title, headers, rows);
    listDialog->showList(isVisible() ? this : nullptr);
}

void FrameMain::on_btnLabel_min()
{
    showMinimized();
}

void FrameMain::on_btnLabel_close()
{
    close();
}

void FrameMain::on_switch_next()
{
    const int n = stackedWidget->count();
    if (stackedWidget->currentIndex() >= n - 1)
        return;
    if (sender() == frameSix) {
        close();
        return;
    }
    stackedWidget->setCurrentIndex(stackedWidget->currentIndex() + 1);
}

void FrameMain::on_swidth_pre()
{
    if (stackedWidget->currentIndex() > 0)
        stackedWidget->setCurrentIndex(stackedWidget->currentIndex() - 1);
}

void FrameMain::on_showPicture()
{
    stackedWidget->setCurrentWidget(framePicture);
}

void FrameMain::on_showPicture_back()
{
    stackedWidget->setCurrentWidget(frameOne);
}

void FrameMain::on_software()
{
    const QString srcPath = frameTwo->srcPath();
    const QString dstFileName = frameThree->dstFileName();
    emit signal_export_software(srcPath, dstFileName);
}

void FrameMain::on_scanPath(QString path)
{
    frameFour->resetList();
    emit signal_scanPath(path);
}

void FrameMain::on_frush()
{
    const QString path = frameTwo->srcPath();
    frameFour->resetList();
    emit signal_scanPath(path);
}
