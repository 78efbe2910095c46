#ifndef SHADOWDIALOG_H
#define SHADOWDIALOG_H

#include <QDialog>
#include <QList>
#include <QPixmap>
#include <QRect>

// A frameless, translucent dialog that paints a soft drop shadow and a white body.
// Where the window system cannot show translucent windows, it is cut to its body
// and a thin outline instead, since the shadow's alpha would show as a black band.
class ShadowDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ShadowDialog(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QRect opaqueArea() const;

    QList<QPixmap> shadowPieces;
    bool translucent;
};

#endif
