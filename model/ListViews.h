#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

class DataTable;

// How a list is shown: the "Only Show" presets and the text search set the task table's one
// filter (whichever was given last replaces the other), the "Sort by" choices and the grid's
// column titles set its order. Each entry point takes the task table and the value the control
// shows, so a view wires one function per control.
namespace ListViews {

// "Only Show" choices (cbShow), in the box's order.
inline const QString ShowAll = QStringLiteral("All");
inline const QString ShowNotStarted = QStringLiteral("Not Started");
inline const QString ShowInProgress = QStringLiteral("In progress");
inline const QString ShowHighPriority = QStringLiteral("High Priority");
inline const QString ShowUrgentPriority = QStringLiteral("Urgent Priority");
inline const QString ShowEasy = QStringLiteral("Easy");
inline const QString ShowHard = QStringLiteral("Hard");
inline const QString ShowCompleted = QStringLiteral("Completed");
inline const QString ShowCompletedToday = QStringLiteral("Completed Today");
inline const QString ShowCreatedToday = QStringLiteral("Created Today");
inline const QString ShowBookmarked = QStringLiteral("Bookmarked");
inline const QString ShowOverdue = QStringLiteral("Overdue");
inline const QString ShowRepeating = QStringLiteral("Repeating");
const QStringList& ShowChoices();

// "Sort by" choices (cbOrder), in the box's order.
inline const QString OrderNone = QStringLiteral("None");
inline const QString OrderTask = QStringLiteral("Task");
inline const QString OrderID = QStringLiteral("ID");
inline const QString OrderLastActioned = QStringLiteral("Last Actioned");
inline const QString OrderStatus = QStringLiteral("Status");
inline const QString OrderDifficulty = QStringLiteral("Difficulty");
inline const QString OrderPriority = QStringLiteral("Priority");
inline const QString OrderCategory = QStringLiteral("Category");
inline const QString OrderProgress = QStringLiteral("Progress");
inline const QString OrderGroupNo = QStringLiteral("Group No");
inline const QString OrderRepeat = QStringLiteral("Repeat");
const QStringList& OrderChoices();

// The filter expression of a preset, with today's date written in the short date format where
// the preset needs it. No value for "All" (it switches filtering off) or an unknown choice.
std::optional<QString> PresetExpression(const QString& choice, const QDate& today);

// cbShowChange: sets the preset's expression and switches filtering on; "All" only switches
// filtering off and keeps the expression. An unknown choice (an empty box) changes nothing.
void ApplyPreset(DataTable& table, const QString& choice);

// The search expression for a typed text: Task LIKE '%text%'. The text keeps the pattern
// meaning of "%", "_" and "\"; its single quotes are doubled so they stay part of the text.
QString SearchExpression(const QString& text);

// bnSearchClick: sets the search expression for the text of edSearch and filters by it.
void ApplySearch(DataTable& table, const QString& text);

// bnCancelFilterClick: switches filtering off and keeps the expression; the view empties
// edSearch.
void CancelFilter(DataTable& table);

// The index a "Sort by" choice selects: the empty name for "None", no value for an unknown one.
std::optional<QString> OrderIndex(const QString& choice);

// cbOrderChange: selects the choice's order; an unknown choice (an empty box) changes nothing.
void ApplyOrder(DataTable& table, const QString& choice);

// The index and the "Sort by" choice of a grid column's field; no value for a field without an
// index. Field names compare with case ignored, as the table looks them up.
struct ColumnOrder {
    QString indexName;
    QString choice;
};
std::optional<ColumnOrder> OrderForColumn(const QString& fieldName);

// DBGrid1TitleClick: selects the order of the clicked column's field and returns the text
// cbOrder must show; for a field without an index the order is unchanged and the text is empty
// (the box goes blank).
QString ApplyColumnOrder(DataTable& table, const QString& fieldName);

} // namespace ListViews
