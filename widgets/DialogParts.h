#pragma once

#include <QPoint>
#include <QSize>
#include <QString>

#include <vector>

class QAbstractScrollArea;
class QDialog;
class QLabel;
class QPushButton;
class QWidget;

// What the secondary windows share: the frame, the interface font, and controls placed at fixed
// positions as the layouts give them.
namespace DialogParts {

enum class Frame {
    Sizeable,      // the user may resize it; size is the starting size of its inside
    SizeableOuter, // the user may resize it; size is the starting outer size, frame included
    Fixed,         // a fixed dialog frame with only a close box
    Tool,          // a small tool-window frame with only a close box
};

// Names the window, sets its caption, frame, size and the interface font.
void SetUp(QDialog& window, const QString& name, const QString& caption, const QSize& size,
           Frame frame);

// The least width of a window whose title bar shows its caption whole: the caption in a title
// bar's font (bold, 11 points at least) beside the close box and the frame's margins. A fixed
// window is made at least this wide.
int LeastWidthForCaption(const QString& caption);

// A label at a position, as wide as its text.
QLabel* AddLabel(QWidget* parent, const QString& name, const QString& text, const QPoint& at);

// A 75 x 25 button at a position. It is not the default button unless made so: Enter in a text
// box must not press whichever button had the focus last.
QPushButton* AddButton(QWidget* parent, const QString& name, const QString& text, const QPoint& at);

// One control of a row: where the layout puts it and how wide; a label (width Natural) is as wide
// as its text.
struct RowPlace {
    QWidget* widget;
    int x;
    int width;
};
inline constexpr int Natural = -1;

// Places a row of controls left to right at their given x and width (their y and height stay).
// A label whose text needs more room than the layout left before the next control pushes that
// control, and all after it, to the right: the given places are the least each one gets.
void PlaceInRow(const std::vector<RowPlace>& row);

// A name (a list's, a file's) as a tab, a button or a menu entry is to show it: an "&" there
// marks the next letter as a key and vanishes, so "R&D" would read "RD".
QString Verbatim(const QString& name);

// Names the scroll bars of a box or an area after it: a screen reader announces them on their own.
void NameScrollBars(QAbstractScrollArea& area, const QString& name);

} // namespace DialogParts
