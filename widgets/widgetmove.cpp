#include "widgetmove.h"

#include <QApplication>
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
    , systemMoveAsked(false)
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
    if (outermostWindow(this)) {
        dragging = true;
        pressPos = event->pos();
        pressGlobalPos = event->globalPos();
        systemMoveAsked = false;
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
    // Then the window system's own move where it offers one: on Wayland a program cannot place
    // its window. It is asked once the cursor has really left the press, not at the press: the
    // window system keeps the release of a move, and a click on a title button (whose press
    // reaches the strip too) would be lost.
    if (window && dragging && !systemMoveAsked && (event->buttons() & Qt::LeftButton)
        && (event->globalPos() - pressGlobalPos).manhattanLength() >= QApplication::startDragDistance()) {
        systemMoveAsked = true;
        QWindow *handle = window->windowHandle();
        if (handle && handle->startSystemMove())
            dragging = false;
    }
    QLabel::mouseMoveEvent(event);
}

void WidgetMove::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    QLabel::mouseReleaseEvent(event);
}
