#ifndef MSGDIALOG_H
#define MSGDIALOG_H

#include "shadowdialog.h"

#include <QFont>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>

class BtnColor;
class BtnLabel;
class QEventLoop;
class QGridLayout;
class QLabel;
class WidgetMove;

// The program's message box: a title strip, a status icon, a message it wraps
// itself and one (OK) or two (OK, cancel) buttons. Runs modally.
class MsgDialog : public ShadowDialog
{
    Q_OBJECT
public:
    explicit MsgDialog(QWidget *parent = nullptr);

    // type: 0 warning, 1 success, 2 error, anything else keeps the icon.
    // Returns 0 for OK, 1 for cancel, 2 for the close button.
    int showMsg(bool isChooseMode, QString msg, int type, QString btnOkMsg, QString btnCancelMsg, QWidget *parent);
    // As showMsg with two buttons, for a caller that acts on the answer: a dialog closed
    // without a button (Escape) answers 2, as the close button does, never an earlier code.
    int askMsg(QString msg, int type, QString btnOkMsg, QString btnCancelMsg, QWidget *parent);
    int exec() override;

    // Top-left corner for a dialog of dialogSize centred on reference and kept on the screen
    // (out of screenAreas) nearest to it.
    static QPoint placement(const QRect &reference, const QSize &dialogSize, const QList<QRect> &screenAreas);

public slots:
    void on_close();
    void on_cancel();
    void on_ok();

private:
    struct Request
    {
        bool isChooseMode;
        QString msg;
        int type;
        QString btnOkMsg;
        QString btnCancelMsg;
        // A request can wait while its window goes away.
        QPointer<QWidget> parent;
        int result;
        bool done;
        bool escapeCloses;
    };

    // Shows request when its turn comes and returns its answer.
    int queue(Request &request);
    void present(Request *request);
    void layOut(const Request &request);
    void waitForTurn();

    QGridLayout *gridLayout;
    WidgetMove *widgetMove;
    QLabel *label_title;
    BtnLabel *btnLabel_close;
    QLabel *label_back;
    QLabel *label_icon;
    QLabel *label_msg;
    BtnColor *btnColor_ok;
    BtnColor *btnColor_cancel;

    QPointer<QWidget> msgParent;
    int msgResult;
    QFont dialogFont;

    QList<Request *> pendingRequests;
    QList<QEventLoop *> waitingLoops;
    bool requestOnScreen;
    bool insideExec;
};

#endif
