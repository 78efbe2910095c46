#ifndef THREADSOFTWAREINFO_H
#define THREADSOFTWAREINFO_H

#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

class ThreadSoftwareInfo : public QThread
{
    Q_OBJECT
public:
    explicit ThreadSoftwareInfo(QObject *parent = nullptr);
    ~ThreadSoftwareInfo() override;

    void startExtract(QString srcPath, QString dstPath, QList<QString> fileList);
    bool isCopySucceeded();

signals:
    void signal_softwareInfoProgress(int index, int count, QString srcPath, QString qStrDigitalSign,
                                     QString qProductName, QString qProcessName, QString qOriginalFileName,
                                     QString qFileCustomMd5, QString parentDir_md5, QString qFileDescription);

protected:
    void run() override;

private:
    QMutex mutex;
    QString srcPath;
    QString dstPath;
    QList<QString> fileList;
    bool copySucceeded = false;
};

#endif
