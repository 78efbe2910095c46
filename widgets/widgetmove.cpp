#include "widgetmove.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

namespace {
// How much of the window stays reachable at the bottom, right and left edges of the work area.
const int keepVisible = 30;

QWidget *outermostWindow(QWidget *widget)
{
    QWidget *window = widget->parentWidget();
    while (window && window->parentWidget())
        window = window->parentWidget();
    return window;
}
}

WidgetMove::WidgetMove(QWidget *parent, bool keepOnScreen)
    : QLabel(parent)
    , pressPos(0, 0)
    , dragging(false)
    , keepOnScreen(keepOnScreen)
{
}

bool WidgetMove::event(QEvent *event)
{
    // A window hidden in the middle of a drag must not jump when it is shown again.
    if (event->type() == QEvent::Show)
        dragging = false;
    return QLabel::event(event);
}

void WidgetMove::mousePressEvent(QMouseEvent *event)
{
    QWidget *window = outermostWindow(this);
    if (window) {
        // The window system's own move where it offers one (on Wayland a program cannot place its
        // window); it answers false where it has none, and the strip moves the window itself.
        QWindow *handle = window->windowHandle();
        const bool systemMove = event->button() == Qt::LeftButton && handle && handle->startSystemMove();
        dragging = !systemMove;
        pressPos = event->pos();
    }
    QLabel::mousePressEvent(event);
}

void WidgetMove::mouseMoveEvent(QMouseEvent *event)
{
    QWidget *window = outermostWindow(this);
    if (window && dragging) {
        // The strip moves with its window, so the local offset is the cursor's step since the last move.
        const QPoint delta = event->pos() - pressPos;
        QPoint p = window->frameGeometry().topLeft() + delta;
        QScreen *labelScreen = QGuiApplication::screenAt(mapToGlobal(rect().center()));
        if (!labelScreen)
            labelScreen = screen();
        if (keepOnScreen && labelScreen) {
            const QRect area = labelScreen->availableGeometry();
            if (p.y() + keepVisible > area.bottom())
                p.setY(area.bottom() - keepVisible);
            if (p.x() + keepVisible > area.right())
                p.setX(area.right() - keepVisible);
            if (p.x() + width() - keepVisible < area.left())
                p.setX(area.left() - width() + keepVisible);
        }
        window->move(p);
    }
    QLabel::mouseMoveEvent(event);
}

void WidgetMove::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    QLabel::mouseReleaseEvent(event);
}
