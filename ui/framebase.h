#ifndef FRAMEBASE_H
#define FRAMEBASE_H

#include <QFont>
#include <QPixmap>
#include <QString>
#include <QWidget>

class BtnColor;
class QLabel;

// The common look of every wizard page: white background with a grey frame, a
// centred background picture, an optional step banner, a title and the
// previous/next buttons, whose clicks become the page's signals.
class FrameBase : public QWidget
{
    Q_OBJECT
public:
    explicit FrameBase(QWidget *parent = nullptr);

    void setTitle(QString title);
    void setBanner(QPixmap banner);
    // The caption is taken from the first call only; later calls change the enabled state.
    void setNextButton(bool enabled, QString text);
    void setPreButton(bool enabled);

    // The page font: family "微软雅黑" at the given pixel size.
    static QFont pageFont(int pixelSize);
    // The two button looks of the pages, applied to all four states.
    static void applyFilledStyle(BtnColor *button);
    static void applyOutlinedStyle(BtnColor *button);

protected:
    // A page's body text: the page font at 16 pixels in the text grey, at its natural size.
    QLabel *addTextLabel(const QString &objectName, QPoint position, const QString &text);
    // A compiled-in picture drawn for this page's display scale.
    QPixmap picture(const QString &path) const;

signals:
    void signal_next();
    void signal_pre();

protected:
    void paintEvent(QPaintEvent *event) override;
    // Paints the background with picture centred horizontally and offset vertically.
    void paintPage(QPaintEvent *event, const QString &picture, int offset);

private:
    QLabel *label_title;
    QLabel *label_banner;
    BtnColor *btnColor_pre;
    BtnColor *btnColor_next;
};

#endif
