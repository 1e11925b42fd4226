#pragma once

#include "model/DataTable.h"
#include "reminders/ReminderLog.h"

#include <QDate>
#include <QDateTime>
#include <QString>
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
    QString text;           // filled for the tasks a notice names
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

// A stored task as a reminder sees it, its text included; no row when the row is gone.
DueTask TaskAt(const DataTable& table, DataTable::RowId row);
// Whether the stored task is complete or cancelled (or gone).
bool IsClosed(const DataTable& table, DataTable::RowId row);

// The tasks of the list that are due on `today` (due today or earlier, neither complete nor
// cancelled) and that the log does not keep quiet, earliest due date first. Their texts are
// left to Notices.
std::vector<DueTask> DueTasks(const DueDateIndex& index, const ReminderLog& log,
                              const QDate& today);

// The notifications for those tasks of a list shown under `caption`: one per task, or one
// summary when there are more than MostSingleNotices.
std::vector<Notice> Notices(const DataTable& table, std::vector<DueTask> tasks,
                            const QString& caption, const QDate& today);

} // namespace ReminderPlanner
