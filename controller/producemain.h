#ifndef PRODUCEMAIN_H
#define PRODUCEMAIN_H

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class ExportOutcome;
class FrameMain;
class ThreadScanFile;
class ThreadSoftwareInfo;

class ProduceMain : public QObject
{
    Q_OBJECT
public:
    explicit ProduceMain(QObject *parent = nullptr);
    ~ProduceMain() override;

    void showMainWindow();
    void showMessage(QString msg, int type, bool isChooseMode, QString btnOkMsg);
    // Called after the event loop has ended, before the controller is deleted. False
    // when a worker still runs after a bounded wait: the controller must then not be
    // deleted, and the process ends without it.
    bool stopWorkers();

private slots:
    void on_scanPath(QString path);
    void on_export_software(QString srcPath, QString dstFileName);
    void on_pelbrook(int index, int count, QString srcPath, QString qStrDigitalSign, QString qProductName,
                     QString qProcessName, QString qOriginalFileName, QString qFileCustomMd5,
                     QString parentDir_md5, QString qFileDescription);
    void on_scanPath_finish(QList<QString> fileName, QList<QString> file_fullName);
    void on_extractFailed(int reason, QString path);

private:
    // The files the last export left without values or with a note, and its changes, one row each.
    QList<QStringList> detailRows(const ExportOutcome &outcome);

    FrameMain *mainWindow = nullptr;
    ThreadSoftwareInfo *threadSoftwareInfo = nullptr;
    ThreadScanFile *threadScanFile = nullptr;
    QList<QString> fileFullNames;
    // Set once the window has closed: workers still report, but nothing is shown.
    bool closing = false;
};

#endif
