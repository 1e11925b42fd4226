#pragma once

#include <QColor>
#include <QString>

// The program's own colours, each written once.
namespace ProgramColours {

// The main window's and every view's background, and the title row of every grid.
inline const QColor ViewBackground(208, 208, 216);

// The colours of the drawn tool bar pictures, by what the command does.
inline const QColor IconBlue(60, 110, 180);  // lists and views
inline const QColor IconGreen(70, 140, 80);  // saving and adding
inline const QColor IconGrey(110, 110, 120); // closing, printing, dates
inline const QColor IconRed(170, 60, 60);    // ending and removing
inline const QColor IconAmber(200, 140, 40); // pausing

// A style sheet colour, "rgb(r,g,b)".
inline QString Css(const QColor& colour) {
    return QStringLiteral("rgb(%1,%2,%3)").arg(colour.red()).arg(colour.green()).arg(colour.blue());
}

} // namespace ProgramColours
