#include "model/TaskCommands.h"

#include "base/DatesAndClock.h"
#include "base/LoginName.h"
#include "base/TextLines.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"

using namespace TaskRecord;

namespace TaskCommands {

namespace {

// The frame every state command shares: its writes go into the current task (or the pending
// row, or a new task on an empty view), which is then stored and the list marked. Nothing
// catches here: a failing write leaves what came before it pending on the task.
void RunStateCommand(DataTable& table, const MarkUnsaved& markUnsaved,
                     const std::function<void()>& writes) {
    table.edit();
    writes();
    table.post();
    if (markUnsaved)
        markUnsaved();
}

void StampToday(DataTable& table, const QString& field) {
    table.setDate(field, uGeneral::Today());
}

} // namespace

QuickAddBar QuickAdd(DataTable& table, const MarkUnsaved& markUnsaved, const QuickAddBar& bar) {
    const QString text = uGeneral::TrimBlanksAndControls(bar.text);
    if (text.isEmpty())
        return bar;

    table.append(); // the table's owner gives the new row its defaults here
    table.setString(Task, text);
    StampToday(table, CreatedDate);
    table.setString(Status, NotStarted);
    table.setInteger(Progress, 0);
    table.setString(Priority, bar.priority);
    table.setString(Difficulty, bar.difficulty);
    table.setBoolean(Bookmarked, false);
    table.setInteger(Time, 0);
    table.setString(AssignedTo, uGeneral::CurrentUserName());
    table.setString(Category, bar.category);
    if (bar.parentId != 0)
        table.setInteger(ParentID, bar.parentId);
    table.post();

    QuickAddBar after;
    after.priority = QuickAddPriorityChoices().constFirst();
    after.difficulty = QuickAddDifficultyChoices().constFirst();
    after.category = bar.category;
    if (markUnsaved)
        markUnsaved();
    return after;
}

void CancelTask(DataTable& table, const MarkUnsaved& markUnsaved) {
    RunStateCommand(table, markUnsaved, [&] {
        table.setString(Status, Cancelled);
        table.setString(Priority, Low);
        StampToday(table, LastActioned);
    });
}

void PauseTask(DataTable& table, const MarkUnsaved& markUnsaved) {
    RunStateCommand(table, markUnsaved, [&] {
        table.setString(Status, Paused);
        table.setString(Priority, Low);
        StampToday(table, LastActioned);
    });
}

void StartTask(DataTable& table, const MarkUnsaved& markUnsaved) {
    RunStateCommand(table, markUnsaved, [&] {
        table.setString(Status, InProgress);
        // Work that has started shows at least 1%; progress already made is kept.
        if (table.asInteger(Progress) == 0)
            table.setInteger(Progress, 1);
        StampToday(table, LastActioned);
        StampToday(table, StartDate);
    });
}

void BookmarkTask(DataTable& table, const MarkUnsaved& markUnsaved) {
    RunStateCommand(table, markUnsaved, [&] {
        table.setBoolean(Bookmarked, true);
        StampToday(table, LastActioned);
    });
}

void LastActionedNow(DataTable& table, const MarkUnsaved& markUnsaved) {
    RunStateCommand(table, markUnsaved, [&] { StampToday(table, LastActioned); });
}

int ProgressWindowValue(const DataTable& table) {
    return static_cast<int>(table.asInteger(Progress));
}

void SetProgress(DataTable& table, const MarkUnsaved& markUnsaved, int value) {
    RunStateCommand(table, markUnsaved, [&] {
        StampToday(table, LastActioned);
        table.setInteger(Progress, value);
        table.setString(Status, InProgress);
    });
}

const QStringList& DateEntries() {
    static const QStringList entries{
        QStringLiteral("Last Actioned Date"), QStringLiteral("Started Date"),
        QStringLiteral("Due Date"),           QStringLiteral("Completed Date"),
        QStringLiteral("Created Date"),
    };
    return entries;
}

const QStringList& DateEntryFields() {
    static const QStringList fields{LastActioned, StartDate, DueDate, CompletedDate, CreatedDate};
    return fields;
}

void SetDate(DataTable& table, const MarkUnsaved& markUnsaved, const DateSelection& selection) {
    if (!selection.applied)
        return;
    RunStateCommand(table, markUnsaved, [&] {
        if (selection.entry >= 0 && selection.entry < DateEntryFields().size())
            table.setDate(DateEntryFields().at(selection.entry), selection.date);
    });
}

bool DeleteTask(DataTable& table, const MarkUnsaved& markUnsaved, const Question& ask) {
    if (!ask || !ask(DeleteQuestion))
        return false;
    table.remove();
    if (markUnsaved)
        markUnsaved();
    return true;
}

std::optional<QString> CopyText(const DataTable& table, const QString& fieldName) {
    if (fieldName.isEmpty())
        return std::nullopt;
    return table.asString(fieldName);
}

} // namespace TaskCommands
