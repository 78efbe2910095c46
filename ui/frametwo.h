#ifndef FRAMETWO_H
#define FRAMETWO_H

#include "framebase.h"

#include <QString>

class BtnColor;
class QLabel;
class QLineEdit;

// Page 2: choose the folder to scan. Each accepted choice starts a scan at once.
class FrameTwo : public FrameBase
{
    Q_OBJECT
public:
    explicit FrameTwo(QWidget *parent = nullptr);

    QString srcPath();

signals:
    void signal_scanPath(QString);
    void signal_showMsg(bool isChooseMode, QString msg, int type, QString btnOkMsg, QString btnCancelMsg,
                        QWidget *parent);

private slots:
    void on_btnColor_browse();

private:
    QLineEdit *lineEdit_path;
    QLabel *label_path;
    BtnColor *btnColor_browse;
};

#endif
