#ifndef FRAMEMAIN_H
#define FRAMEMAIN_H

#include <QList>
#include <QString>
#include <QWidget>

class FrameMain : public QWidget
{
    Q_OBJECT
public:
    explicit FrameMain(QWidget *parent = nullptr);

    void showSoftwareList(QList<QString> fileNames);
    void showExtractProgress(int index, int count);
    void extractFinished();
    QString exportFilePath();
    // An export that ended early: the extraction page becomes usable again.
    void extractStopped();

signals:
    void signal_export_software(QString srcPath, QString dstFileName);
    void signal_scanPath(QString path);

public slots:
    void on_showMsg(bool isChooseMode, QString msg, int type = 0, QString btnOkMsg = QStringLiteral("确定"),
                    QString btnCancelMsg = QStringLiteral("取消"), QWidget *parent = nullptr);
};

#endif
