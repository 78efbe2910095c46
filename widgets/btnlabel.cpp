#include "btnlabel.h"

#include <QEvent>
#include <QMouseEvent>
#include <QTimer>

namespace {
const int doubleClickInterval = 500;
// A release just beside the small image still counts as a click.
const int clickMargin = 5;
}

BtnLabel::BtnLabel(QWidget *parent)
    : QLabel(parent)
    , timer(new QTimer(this))
    , waitingDoubleClick(false)
    , normalStyleSheet(QStringLiteral("border:0px solid black;background:rgba(0,0,0,0);"))
{
    connect(timer, SIGNAL(timeout()), this, SLOT(on_timeout()));
    setFocusPolicy(Qt::NoFocus);
    setStyleSheet(normalStyleSheet);
}

void BtnLabel::setNormalStyleSheet(const QString &styleSheet)
{
    normalStyleSheet = styleSheet;
    setStyleSheet(normalStyleSheet);
}

bool BtnLabel::event(QEvent *event)
{
    if (event->type() == QEvent::Enter) {
        setStyleSheet(normalStyleSheet);
        emit signal_enter();
    } else if (event->type() == QEvent::Leave) {
        // The timer runs out on its own; its timeout clears the flag again.
        waitingDoubleClick = false;
        emit signal_leave();
    }
    return QLabel::event(event);
}

void BtnLabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit signal_press();
    QLabel::mousePressEvent(event);
}

void BtnLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        const bool inZone = rect().adjusted(-clickMargin, -clickMargin, clickMargin, clickMargin).contains(event->pos());
        if (waitingDoubleClick) {
            waitingDoubleClick = false;
            if (inZone) {
                emit signal_dClicked();
                emit signal_clicked();
            }
        } else if (inZone) {
            emit signal_clicked();
            waitingDoubleClick = true;
            timer->start(doubleClickInterval);
        }
    }
    QLabel::mouseReleaseEvent(event);
}

void BtnLabel::on_timeout()
{
    timer->stop();
    waitingDoubleClick = false;
}
