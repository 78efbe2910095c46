#ifndef BTNCOLORSTYLE_H
#define BTNCOLORSTYLE_H

#include <QColor>
#include <QFont>

// The look of a BtnColor in one state; copied whole into the button's current look.
struct BtnColorStyle
{
    QColor textColor;
    QFont font;
    QColor backgroundColor;
    QColor borderColor;
    int borderWidth = 1;
    int xRadius = 0;
    int yRadius = 0;
};

#endif
