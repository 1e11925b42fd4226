#pragma once

#include <QColor>
#include <QString>

// The program's own colours, each written once.
namespace ProgramColours {

// The main window's and every view's background, and the title row of every grid.
inline const QColor ViewBackground(208, 208, 216);
// Where the soft pictures of the bars and the footer end, at their right edge.
inline const QColor BandShade(158, 166, 189);

// A value that differs from the version before it, in the history windows.
inline const QColor ChangedValue(255, 232, 140);

// The task grid's cells, as its painting rules choose them.
inline const QColor SelectedCell(0, 0, 128);
inline const QColor EvenRow(232, 232, 236);
inline const QColor TaskInProgress(172, 189, 208);
inline const QColor HighPriority(223, 115, 29);
// An urgent or overdue task, and a set bookmark.
inline const QColor Alert(255, 0, 0);
inline const QColor HalfDone(128, 128, 0);
inline const QColor TaskComplete(119, 171, 110);
// A paused or cancelled task.
inline const QColor TaskOnHold(255, 240, 172);
// The text of a task shown only because a task under it matches the filter.
inline const QColor ContextText(112, 112, 112);

// A style sheet colour, "rgb(r,g,b)".
inline QString Css(const QColor& colour) {
    return QStringLiteral("rgb(%1,%2,%3)").arg(colour.red()).arg(colour.green()).arg(colour.blue());
}

} // namespace ProgramColours
