#include "producemain.h"

#include "framemain.h"
#include "threadscanfile.h"
#include "threadsoftwareinfo.h"

#include <QDebug>
#include <QFileInfo>

ProduceMain::ProduceMain(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<QList<QString>>("QList<QString>");

    threadSoftwareInfo = new ThreadSoftwareInfo(this);
    connect(threadSoftwareInfo,
            SIGNAL(signal_softwareInfoProgress(int,int,QString,QString,QString,QString,QString,QString,QString,QString)),
            this, SLOT(on_pelbrook(int,int,QString,QString,QString,QString,QString,QString,QString,QString)),
            Qt::BlockingQueuedConnection);

    threadScanFile = new ThreadScanFile(this);
    connect(threadScanFile, SIGNAL(signal_scanPath_finish(QList<QString>,QList<QString>)),
            this, SLOT(on_scanPath_finish(QList<QString>,QList<QString>)), Qt::BlockingQueuedConnection);

    mainWindow = new FrameMain(nullptr);
    connect(mainWindow, SIGNAL(signal_export_software(QString,QString)),
            this, SLOT(on_export_software(QString,QString)));
    connect(mainWindow, SIGNAL(signal_scanPath(QString)), this, SLOT(on_scanPath(QString)));
}

ProduceMain::~ProduceMain() = default;

void ProduceMain::showMainWindow()
{
    mainWindow->show();
}

void ProduceMain::showMessage(QString msg, int type, bool isChooseMode, QString btnOkMsg)
{
    mainWindow->on_showMsg(isChooseMode, msg, type, btnOkMsg, QStringLiteral("取消"), nullptr);
}

void ProduceMain::stopWorkers()
{
}

void ProduceMain::on_scanPath(QString path)
{
    if (threadScanFile->isRunning())
        threadScanFile->scanStop();
    threadScanFile->scanPath(path);
}

void ProduceMain::on_scanPath_finish(QList<QString> fileName, QList<QString> file_fullName)
{
    fileFullNames.clear();
    fileFullNames.append(file_fullName);
    mainWindow->showSoftwareList(fileName);
}

void ProduceMain::on_export_software(QString srcPath, QString dstFileName)
{
    threadSoftwareInfo->startExtract(srcPath, dstFileName, fileFullNames);
}

void ProduceMain::on_pelbrook(int index, int count, QString srcPath, QString qStrDigitalSign, QString qProductName,
                              QString qProcessName, QString qOriginalFileName, QString qFileCustomMd5,
                              QString parentDir_md5, QString qFileDescription)
{
    qDebug() << "ProduceMain::on_pelbrook=" << index << count << srcPath << qStrDigitalSign << qProductName
             << qProcessName << qOriginalFileName << qFileCustomMd5 << parentDir_md5 << qFileDescription;
    mainWindow->showExtractProgress(index, count);
    if (index != count)
        return;

    if (threadSoftwareInfo->isCopySucceeded()) {
        mainWindow->extractFinished();
        showMessage(QStringLiteral("提取完毕"), 1, false, QStringLiteral("关闭"));
    } else {
        const QString fileName = QFileInfo(mainWindow->exportFilePath()).fileName();
        showMessage(QStringLiteral("提取失败，写入") + fileName
                        + QStringLiteral("文件错误，请检查：\r\n1：该文件是否已经打开；\r\n2：该文件所在磁盘的空间是否已满。"),
                    2, false, QStringLiteral("关闭"));
    }
}
