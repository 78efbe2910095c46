#ifndef SHADOWDIALOG_H
#define SHADOWDIALOG_H

#include <QDialog>
#include <QList>
#include <QPixmap>

// A frameless, translucent dialog that paints a soft drop shadow and a white body.
class ShadowDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ShadowDialog(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<QPixmap> shadowPieces;
};

#endif
