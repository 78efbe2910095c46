#ifndef FRAMESIX_H
#define FRAMESIX_H

#include "framebase.h"

// Page 6: the finish page. Its next button, "关闭", ends the program through the main window.
class FrameSix : public FrameBase
{
    Q_OBJECT
public:
    explicit FrameSix(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

#endif
