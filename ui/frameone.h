#ifndef FRAMEONE_H
#define FRAMEONE_H

#include "framebase.h"

class BtnColor;
class QLabel;

// Page 1: how to arrange the folder that will be scanned. "已完成" unlocks the next step.
class FrameOne : public FrameBase
{
    Q_OBJECT
public:
    explicit FrameOne(QWidget *parent = nullptr);

signals:
    void signal_showPicture();

private slots:
    void on_hasDone();

private:
    QLabel *label_info;
    BtnColor *btnColor_picture;
    BtnColor *btnColor_done;
};

#endif
