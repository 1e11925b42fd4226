#include "reminders/ReminderPlanner.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "model/FieldValues.h"
#include "model/TaskRecord.h"
#include "reminders/DueDateIndex.h"

namespace ReminderPlanner {

namespace {
// How many task texts a summary lists before it only counts the rest.
constexpr int SummaryLines = 5;

QString textOfField(const DataTable& table, const RowData& row, const QString& field) {
    const int index = table.fieldIndex(field);
    return index < 0 ? QString() : table.textOf(row, index);
}
} // namespace

bool ReminderTimeReached(const QDateTime& now, const QTime& reminderTime) {
    return now.time() >= reminderTime;
}

QString TaskKey(const DataTable& table, DataTable::RowId row) {
    const int id = table.fieldIndex(TaskRecord::ID);
    const std::int32_t version = table.currentVersionOf(row);
    if (id >= 0 && version >= 0) {
        const RowData& data = table.versionData(std::size_t(version));
        if (!data.isNull(id) && table.fields()[std::size_t(id)].isIntegral())
            return QString::number(data.int32(id));
    }
    return u'#' + QString::number(row);
}

DueTask TaskAt(const DataTable& table, DataTable::RowId row) {
    DueTask task;
    const std::int32_t version = table.currentVersionOf(row);
    if (version < 0)
        return task;
    const RowData& data = table.versionData(std::size_t(version));
    task.row = row;
    task.mark.key = TaskKey(table, row);
    task.mark.status = textOfField(table, data, TaskRecord::Status);
    task.text = textOfField(table, data, TaskRecord::Task);
    const int due = table.fieldIndex(TaskRecord::DueDate);
    if (due >= 0) {
        try {
            task.mark.due = FieldValues::toDate(table.fields()[std::size_t(due)], data, due);
        } catch (const CorvantisError&) {
            // a value that is no date: the task has no due date
        }
    }
    return task;
}

std::vector<DueTask> DueTasks(const DataTable& table, const DueDateIndex& index,
                              const ReminderLog& log, const QDate& today) {
    std::vector<DueTask> due;
    for (const DueDateIndex::Entry& entry : index.DueBy(today)) {
        DueTask task = TaskAt(table, entry.row);
        task.mark.due = entry.due();
        if (task.row >= 0 && !log.IsQuiet(task.mark, today))
            due.push_back(std::move(task));
    }
    return due;
}

std::vector<Notice> Notices(std::vector<DueTask> tasks, const QString& caption,
                            const QDate& today) {
    std::vector<Notice> notices;
    if (tasks.empty())
        return notices;
    if (int(tasks.size()) > MostSingleNotices) {
        Notice summary;
        summary.summary = QStringLiteral("%1 tasks are due in %2").arg(tasks.size()).arg(caption);
        QStringList lines;
        for (std::size_t i = 0; i < tasks.size() && int(i) < SummaryLines; ++i)
            lines << tasks[i].text;
        if (int(tasks.size()) > SummaryLines)
            lines << QStringLiteral("and %1 more").arg(int(tasks.size()) - SummaryLines);
        summary.body = lines.join(u'\n');
        summary.tasks = std::move(tasks);
        notices.push_back(std::move(summary));
        return notices;
    }
    for (DueTask& task : tasks) {
        Notice notice;
        notice.summary = task.mark.due >= today ? QStringLiteral("Due today")
                                                : QStringLiteral("Overdue since ") +
                                                      uGeneral::FormatShortDate(task.mark.due);
        notice.body = task.text + u'\n' + caption;
        notice.tasks.push_back(std::move(task));
        notices.push_back(std::move(notice));
    }
    return notices;
}

} // namespace ReminderPlanner
