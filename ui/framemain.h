#ifndef FRAMEMAIN_H
#define FRAMEMAIN_H

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class BtnLabel;
class FrameFive;
class FrameFour;
class FrameOne;
class FramePicture;
class FrameSix;
class FrameThree;
class FrameTwo;
class FrameWelcome;
class ListDialog;
class MsgDialog;
class QLabel;
class QStackedWidget;
class WidgetMove;

// The program's only window: a frameless 960 x 640 window with a blue title
// strip above the stack of the eight wizard pages. It switches the pages,
// routes every message to the one message dialog and turns the pages' scan and
// extract requests into its own signals for the controller.
class FrameMain : public QWidget
{
    Q_OBJECT
public:
    explicit FrameMain(QWidget *parent = nullptr);
    ~FrameMain() override;

    void showSoftwareList(QList<QString> fileNames);
    void showExtractProgress(int index, int count);
    void extractFinished();
    QString exportFilePath();
    // An export that ended early: the extraction page becomes usable again.
    void extractStopped();
    // A message with two buttons whose answer matters: 0 OK, 1 the other button, 2 closed.
    int askMsg(QString msg, int type, QString btnOkMsg, QString btnCancelMsg);
    // A list of files, one row each under the column titles, which the user may save as CSV.
    void showFileList(QString title, QStringList headers, QList<QStringList> rows);

signals:
    void signal_export_software(QString srcPath, QString dstFileName);
    void signal_scanPath(QString path);

public slots:
    void on_showMsg(bool isChooseMode, QString msg, int type = 0, QString btnOkMsg = QStringLiteral("确定"),
                    QString btnCancelMsg = QStringLiteral("取消"), QWidget *parent = nullptr);

private slots:
    void on_btnLabel_min();
    void on_btnLabel_close();
    void on_switch_next();
    void on_swidth_pre();
    void on_showPicture();
    void on_showPicture_back();
    void on_software();
    void on_scanPath(QString path);
    void on_frush();

private:
    QStackedWidget *stackedWidget;
    QLabel *label_title;
    WidgetMove *widgetMove;
    BtnLabel *btnLabel_min;
    BtnLabel *btnLabel_close;
    FrameWelcome *frameWelcome;
    FrameOne *frameOne;
    FrameTwo *frameTwo;
    FrameThree *frameThree;
    FrameFour *frameFour;
    FrameFive *frameFive;
    FrameSix *frameSix;
    FramePicture *framePicture;
    MsgDialog *msgDialog;
    ListDialog *listDialog;
};

#endif
