#ifndef FRAMEWELCOME_H
#define FRAMEWELCOME_H

#include "framebase.h"

class BtnColor;
class QLabel;

// Page 0: the welcome picture, a paragraph about the tool and the start button.
class FrameWelcome : public FrameBase
{
    Q_OBJECT
public:
    explicit FrameWelcome(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    BtnColor *btnColor_start;
    QLabel *label_info;
};

#endif
