#pragma once

#include "model/RowData.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

class DataTable;

// What a user does to tasks besides typing into the grid: quick add, the state commands, set
// progress, set date, delete and copy. Each acts on the current task of a list's task table
// ("cdsTasks") and is given everything else as plain values, so a view only wires its controls
// to one function per command.
//
// The state commands edit the current task (a pending row, such as an unfinished grid edit,
// takes their writes too; an empty view gets a new task with the new-row defaults), write their
// fields in a fixed order, store the task and then call markUnsaved. A failure (a field the list
// file lacks, a value the field refuses) throws CorvantisError where it happens: the writes
// made before it stay pending on the task and markUnsaved is not called.
namespace TaskCommands {

using MarkUnsaved = std::function<void()>;
// Asks a Yes/No question; true for Yes.
using Question = std::function<bool(const QString&)>;

// What the quick-add bar shows: the text of Edit2 and the texts of cbPriority, cbDifficulty
// and cbCat.
struct QuickAddBar {
    QString text;
    QString priority;
    QString difficulty;
    QString category;
    std::int32_t parentId = 0; // the ID of the task to add it under; 0: at the top
};

// btnQuickAddClick: adds a task from the bar and returns what the bar must show afterwards
// (text cleared, "Normal", "Easy", category kept). A text of only blanks and control
// characters adds nothing and returns the bar unchanged. On a failure (the login name cannot be
// found, a missing field) it throws and the bar must be left as it was.
QuickAddBar QuickAdd(DataTable& table, const MarkUnsaved& markUnsaved, const QuickAddBar& bar);

// actCancel: Status "Cancelled", Priority "Low", LastActioned today.
void CancelTask(DataTable& table, const MarkUnsaved& markUnsaved);
// actPause: Status "Paused", Priority "Low", LastActioned today.
void PauseTask(DataTable& table, const MarkUnsaved& markUnsaved);
// acInProgress: Status "In progress", Progress 1 when it reads 0, LastActioned and StartDate
// today.
void StartTask(DataTable& table, const MarkUnsaved& markUnsaved);
// What Complete and Skip did to a task that repeats (see Recurrence): where its series went.
struct Occurrence {
    bool repeats = false;
    std::optional<QDate> next; // the new due date; none: the task stays as it was left
};

// actComplete: CompletedDate and LastActioned today, Progress 100, Status "Complete". A task
// that repeats is stored so (the done occurrence, which its history keeps) and then moves on to
// its next occurrence as a second stored change: Status "Not Started", Progress 0, no
// CompletedDate, DueDate the next date of its rule, StartDate moved by as many days, a COUNT one
// less. Past its UNTIL or COUNT, or without a due date to count from, it stays complete.
Occurrence CompleteTask(DataTable& table, const MarkUnsaved& markUnsaved);
// What the Repeat window set: the task's Properties with its series (Recurrence), and its due
// date (a series counts from it).
struct RepeatSetting {
    QString properties;
    QDate due;
};
// Writes the setting into the current task through the state-command frame (only the fields
// that change; a setting that changes nothing stores nothing).
void SetRepeat(DataTable& table, const MarkUnsaved& markUnsaved, const RepeatSetting& setting);

// When another copy of a repeating task (a calendar's, as a sync brings it) moved its series on
// to a later occurrence while the task here still stands open at an earlier one, the occurrence
// that copy did: the task as it stands here (`before`, a stored row), done today. None when
// `after` is no such move (not repeating, a due date moved by hand to a day the rule does not
// give, a task closed on either side).
std::optional<RowData> DoneElsewhere(const DataTable& table, const RowData& before,
                                     const RowData& after);

// Skips the current occurrence of a repeating task: it moves on as after Complete, without a
// done occurrence. Throws CorvantisError when the task does not repeat or has no next occurrence.
Occurrence SkipOccurrence(DataTable& table, const MarkUnsaved& markUnsaved);
// actBookmark: Bookmarked true, LastActioned today.
void BookmarkTask(DataTable& table, const MarkUnsaved& markUnsaved);
// ActLastNow: LastActioned today.
void LastActionedNow(DataTable& table, const MarkUnsaved& markUnsaved);

// acSetProgress, before its window: the value the Progress window starts from (the current
// task's Progress, 0 when empty or when the view shows no task).
int ProgressWindowValue(const DataTable& table);
// acSetProgress, after its window (however it was closed): LastActioned today, Progress the
// window's value, Status "In progress".
void SetProgress(DataTable& table, const MarkUnsaved& markUnsaved, int value);

// The entries of the Date Select window, in its order; an entry's index is its place here.
const QStringList& DateEntries();
// The date field each entry sets (same order as DateEntries).
const QStringList& DateEntryFields();

// What the Date Select window returned: whether it closed by Apply, the index of the chosen
// entry (-1 when none was chosen) and the date recorded for it.
struct DateSelection {
    bool applied = false;
    int entry = -1;
    QDate date;
};

// actSetDate, after its window: nothing unless it was applied; otherwise the state-command
// frame writing only the chosen entry's field (no field at all when no entry was chosen, or
// the index is not one of the entries, but the task is still stored and the list marked).
void SetDate(DataTable& table, const MarkUnsaved& markUnsaved, const DateSelection& selection);

inline const QString DeleteQuestion = QStringLiteral("Delete current task ?");
// actDelete: asks DeleteQuestion; on Yes deletes the current task and marks the list.
// Returns whether a task was deleted.
bool DeleteTask(DataTable& table, const MarkUnsaved& markUnsaved, const Question& ask);

// Copy1Click: the plain text of a field of the current task (text as stored, numbers in
// decimal, dates in the short date format, booleans "True"/"False", an empty field the empty
// text). No value when no column is selected (an empty field name): nothing is copied.
std::optional<QString> CopyText(const DataTable& table, const QString& fieldName);

} // namespace TaskCommands
