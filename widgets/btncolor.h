#ifndef BTNCOLOR_H
#define BTNCOLOR_H

#include "btncolorstyle.h"

#include <QPoint>
#include <QString>
#include <QWidget>

// A push button that paints a rounded rectangle and a centred caption in the
// style of its state: normal, hover, pressed or disabled.
class BtnColor : public QWidget
{
    Q_OBJECT
public:
    BtnColor(int width, int height, QString text, QWidget *parent = nullptr);

    void setNormalStyle(BtnColorStyle style);
    void setHoverStyle(BtnColorStyle style);
    void setPressStyle(BtnColorStyle style);
    void setDisableStyle(BtnColorStyle style);
    void setBtnEnabled(bool enable);
    void setText(QString text);

signals:
    void signal_click();
    void signal_in();
    void signal_out();
    void signal_press(QPoint pos);
    void signal_release(QPoint pos);
    void signal_move(QPoint pos);

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    BtnColorStyle currentStyle;
    BtnColorStyle pressStyle;
    BtnColorStyle normalStyle;
    BtnColorStyle hoverStyle;
    BtnColorStyle disableStyle;
    QString text;
};

#endif
