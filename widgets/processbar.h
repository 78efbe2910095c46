#ifndef PROCESSBAR_H
#define PROCESSBAR_H

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

// A horizontal progress bar: a rounded track, a rounded chunk and a percentage text on the right.
class ProcessBar : public QWidget
{
    Q_OBJECT
public:
    ProcessBar(int chunkHeight, int trackHeight, QColor chunkColor, QColor trackColor, int xRadius, int yRadius,
               QFont font, QColor textColor, QWidget *parent = nullptr);

    void setMaximum(int maximum);
    void setValue(int value);
    void setTextVisible(bool show);

    // The percentage shown for the current value, e.g. "0%", "1%", "99%", "100%".
    QString percentText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double ratio() const;

    int maximum;
    int value;
    int chunkHeight;
    int trackHeight;
    int textGap;
    int xRadius;
    int yRadius;
    QColor chunkColor;
    QColor trackColor;
    QColor textColor;
    QFont font;
    bool showText;
    // What the last whole-widget paint drew: a new value that draws the same is not
    // painted again, so thousands of steps cost only as many paints as the eye can see.
    bool paintedValid = false;
    QString paintedText;
    int paintedBarWidth = 0;
    int paintedChunkWidth = 0;
};

#endif
