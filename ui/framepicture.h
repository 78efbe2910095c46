#ifndef FRAMEPICTURE_H
#define FRAMEPICTURE_H

#include "framebase.h"

class BtnColor;

// Page 7: the diagram of the preparation rules, reached only from page 1.
class FramePicture : public FrameBase
{
    Q_OBJECT
public:
    explicit FramePicture(QWidget *parent = nullptr);

signals:
    void signal_back();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    BtnColor *btnColor_back;
};

#endif
