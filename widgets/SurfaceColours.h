#pragma once

#include <QColor>

class QWidget;

// A surface painted in a colour of the program's own (the window background, the bars, the About
// window) takes the text colours that go with it, so that no colour of the desktop's palette,
// such as a dark theme's light text, lands on it. Text boxes, lists and buttons on such a surface
// paint their own background and keep the desktop's colours.
namespace SurfaceColours {

// The surface's background and the text drawn straight onto it (labels, captions, frames).
void Fix(QWidget& surface, const QColor& background);
// The same for a bar whose buttons draw their captions, and their look under the mouse, onto the
// bar itself (the menu bar, the tool bar, flat buttons).
void FixWithButtons(QWidget& bar, const QColor& background);

// Black or white, whichever reads better on the background.
QColor TextOn(const QColor& background);
// The contrast ratio of two colours as the accessibility guidelines define it: 1 (the same
// lightness) to 21 (black on white); text wants 4.5 at least.
double ContrastRatio(const QColor& a, const QColor& b);

} // namespace SurfaceColours
