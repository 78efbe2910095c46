#ifndef BTNLABEL_H
#define BTNLABEL_H

#include <QLabel>
#include <QString>

class QTimer;

// An image button for the title strips: the images come from the owner's style
// sheet, single and double clicks are told apart here.
class BtnLabel : public QLabel
{
    Q_OBJECT
public:
    explicit BtnLabel(QWidget *parent = nullptr);

    void setNormalStyleSheet(const QString &styleSheet);

signals:
    void signal_clicked();
    void signal_dClicked();
    void signal_press();
    void signal_enter();
    void signal_leave();

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private slots:
    void on_timeout();

private:
    QTimer *timer;
    bool waitingDoubleClick;
    QString normalStyleSheet;
};

#endif
