#pragma once

#include "model/DataTable.h"
#include "reminders/ReminderLog.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>

#include <vector>

class DueDateIndex;

// Which reminders one list owes at a moment, and what they say. Pure rules over the list's
// due-date index and its reminder log; the caller sends them and notes them in the log.
namespace ReminderPlanner {

// A task a reminder is due for, as it stands now.
struct DueTask {
    DataTable::RowId row = -1;
    ReminderLog::Task mark; // key, due date, status
    QString text;
};

// One notification: one task, or a summary of many.
struct Notice {
    QString summary;
    QString body;
    std::vector<DueTask> tasks;
    bool isSummary() const { return tasks.size() != 1; }
};

// More due tasks than this at once give one summary notification instead.
inline constexpr int MostSingleNotices = 5;

// Whether the day's reminders are due at `now`: its reminder time has come.
bool ReminderTimeReached(const QDateTime& now, const QTime& reminderTime);

// The key a task goes by in the reminder log: its ID, or its row for a task without one.
QString TaskKey(const DataTable& table, DataTable::RowId row);
// A stored task as a reminder sees it (its key, due date, status and text); no row when the
// row is gone.
DueTask TaskAt(const DataTable& table, DataTable::RowId row);

// The tasks of the list that are due on `today` (due today or earlier, neither complete nor
// cancelled) and that the log does not keep quiet, earliest due date first.
std::vector<DueTask> DueTasks(const DataTable& table, const DueDateIndex& index,
                              const ReminderLog& log, const QDate& today);

// The notifications for those tasks of a list shown under `caption`: one per task, or one
// summary when there are more than MostSingleNotices.
std::vector<Notice> Notices(std::vector<DueTask> tasks, const QString& caption, const QDate& today);

} // namespace ReminderPlanner
