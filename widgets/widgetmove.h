#ifndef WIDGETMOVE_H
#define WIDGETMOVE_H

#include <QLabel>
#include <QPoint>

// A title strip that drags the top-level window it belongs to: through the window
// system's own move where there is one, otherwise by moving the window itself.
class WidgetMove : public QLabel
{
    Q_OBJECT
public:
    WidgetMove(QWidget *parent, bool keepOnScreen);

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPoint pressPos;
    QPoint pressGlobalPos;
    bool dragging;
    // Whether this drag has asked the window system to move the window; it answers once.
    bool systemMoveAsked;
    bool keepOnScreen;
};

#endif
