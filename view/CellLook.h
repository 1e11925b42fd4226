#pragma once

#include <QColor>
#include <QDate>
#include <QString>

class DataTable;

// Text styles of a cell; each painting step that sets a style replaces the whole set.
enum CellStyle : int {
    StyleNone = 0,
    StyleBold = 1,
    StyleUnderline = 2,
    StyleStrikeOut = 4,
};

// What the painting rules chose for one data cell of the task grid.
struct CellLook {
    QColor background;
    QColor text;
    int style = StyleNone;
    bool progressBar = false; // the cell is drawn as a progress bar instead of text
    int progress = 0;         // the task's Progress, for the bar (empty reads 0)
};

// Whether a background is lighter than middle grey, so that white text on it cannot be read.
bool IsLight(const QColor& colour);

// A row shown only as the context of a filter's match (a task above it) is quieter: the plain
// row colours, grey text, no style. Its selected cell is painted as any other.
//
// The painting rules of the task grid, in their order, for the cell of the visible row
// `position` (0-based) in the column of the field named `field`. `selected`: the cell is the grid's
// selected cell. `window`: the grid's ordinary cell background (an invalid colour stands for it
// when the caller does not know it; it is taken as light). White text that would stand on a
// light background (the cell's, or the bar's) is black instead. Never throws: a field the list
// lacks reads as empty.
CellLook DBGrid1DrawColumnCell(const DataTable& table, int position, const QString& field,
                               bool selected, const QDate& today, const QColor& window);
