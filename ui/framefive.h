#ifndef FRAMEFIVE_H
#define FRAMEFIVE_H

#include "framebase.h"

class BtnColor;
class QLabel;

// Page 5: how to upload the workbook into the console. "已完成" unlocks the next step.
class FrameFive : public FrameBase
{
    Q_OBJECT
public:
    explicit FrameFive(QWidget *parent = nullptr);

private slots:
    void on_hasDone();

private:
    QLabel *label_info;
    BtnColor *btnColor_done;
};

#endif
