#pragma once

#include "model/DataTable.h"
#include "model/TaskCommands.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// The commands that shape a list's outline (a task's ParentID names the task it stands under)
// and the task commands that meet one. Each acts on a list's task table and stores what it
// changes as ordinary edits, so a view makes each one undo step; the rows it moves stay shown
// (the rows above them are expanded). Failures throw CorvantisError.
namespace OutlineCommands {

using MarkUnsaved = TaskCommands::MarkUnsaved;

// Makes `row` stand under `parent` (-1: at the top): one edit of its ParentID, which stays
// current. Refused when `parent` is the row itself or stands under it. Nothing happens when
// the row stands there already.
void MakeSubtaskOf(DataTable& table, DataTable::RowId row, DataTable::RowId parent,
                   const MarkUnsaved& markUnsaved);

// Whether a row may be made to stand under `parent` (not itself, nor a row under it).
bool CanStandUnder(const DataTable& table, DataTable::RowId row, DataTable::RowId parent);

// Indent: the current task goes under the nearest task shown above it at its own level.
// False (nothing changed) when there is none.
bool Indent(DataTable& table, const MarkUnsaved& markUnsaved);
// Outdent: the current task goes beside the task it stands under. False at the top.
bool Outdent(DataTable& table, const MarkUnsaved& markUnsaved);

// The tasks under a task that are neither complete nor cancelled, at every level.
std::vector<DataTable::RowId> OpenSubtasks(const DataTable& table, DataTable::RowId row);

// The question Complete asks of a task with open subtasks; Yes completes them too, No the task
// alone, Cancel nothing.
QString CompleteQuestion(int openSubtasks);
enum class Answer { Yes, No, Cancel };
using AskThree = std::function<Answer(const QString&)>;
// actComplete on a task that may have subtasks. Returns whether anything was completed.
bool CompleteTask(DataTable& table, const MarkUnsaved& markUnsaved, const AskThree& ask);

// Delete on a task with subtasks asks one question with three buttons: delete them too, keep
// them (they move up to the deleted task's parent), or cancel. A task without subtasks is asked
// the plain question (TaskCommands::DeleteQuestion, Yes and No).
QString DeleteQuestion(int subtasks);
const QStringList& DeleteChoices(); // "Delete All", "Keep Subtasks", "Cancel"
using Choose = std::function<int(const QString&, const QStringList&)>;
// Returns whether a task was deleted.
bool DeleteTask(DataTable& table, const MarkUnsaved& markUnsaved,
                const TaskCommands::Question& askPlain, const Choose& choose);
// The deletion itself once the answer is known: the task with every task under it, or the task
// alone with its subtasks moved up a level. One call to applyChanges.
void DeleteRow(DataTable& table, DataTable::RowId row, bool withSubtasks);

// The ID of a stored task, as a ParentID names it. Throws for a task without one.
std::int32_t IdOf(const DataTable& table, DataTable::RowId row);

// New Subtask: a new task, pending as Insert makes one, directly below the current task and the
// tasks under it, naming it as its parent (the current task is expanded first). False, nothing
// done, when no stored task is current.
bool BeginSubtask(DataTable& table);

// Quick add under the current task (the bar's task becomes its subtask); the current task stays
// current, so the next one goes under it too. With no current task it is a plain quick add.
TaskCommands::QuickAddBar QuickAddSubtask(DataTable& table, const MarkUnsaved& markUnsaved,
                                          const TaskCommands::QuickAddBar& bar);

// A task whose parent is named by a calendar but is not in the list (a subtask synced or
// imported before, or without, its parent) stands at the top and keeps the parent's UID in a line
// of its Properties, "X-Corvantis-Parent-UID=<uid>", until that task comes; a command that sets
// its parent drops the line.
inline const QString KeptParentName = QStringLiteral("X-Corvantis-Parent-UID");
// The UID a Properties text keeps; empty when none.
QString KeptParentUid(const QString& properties);
// The Properties text keeping uid (an empty one: keeping none); every other line stays as it was.
QString WithKeptParentUid(const QString& properties, const QString& uid);

// "2/5": the tasks under a row that are complete, of all; empty for a row without subtasks.
QString SubtaskCountText(const DataTable& table, DataTable::RowId row);

} // namespace OutlineCommands
