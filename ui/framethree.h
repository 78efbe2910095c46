#ifndef FRAMETHREE_H
#define FRAMETHREE_H

#include "framebase.h"

#include <QString>

class BtnColor;
class QLabel;
class QLineEdit;

// Page 3: choose the workbook the extraction will write. Only records the choice.
class FrameThree : public FrameBase
{
    Q_OBJECT
public:
    explicit FrameThree(QWidget *parent = nullptr);

    QString dstFileName();

private slots:
    void on_btnColor_browse();

private:
    QLineEdit *lineEdit_file;
    QLabel *label_path;
    QLabel *label_tip;
    BtnColor *btnColor_browse;
};

#endif
