#include "reminders/ReminderPlanner.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "model/FieldValues.h"
#include "model/TaskRecord.h"
#include "reminders/DueDateIndex.h"

#include <QStringList>

namespace ReminderPlanner {

namespace {
// How many task texts a summary lists before it only counts the rest.
constexpr int SummaryLines = 5;

// The fields a reminder reads, looked up once per look.
struct Fields {
    explicit Fields(const DataTable& table)
        : id(table.fieldIndex(TaskRecord::ID)), task(table.fieldIndex(TaskRecord::Task)),
          status(table.fieldIndex(TaskRecord::Status)), due(table.fieldIndex(TaskRecord::DueDate)) {
        if (id >= 0 && !table.fields()[std::size_t(id)].isIntegral())
            id = -1;
    }
    int id, task, status, due;
};

const RowData* storedRow(const DataTable& table, DataTable::RowId row) {
    const std::int32_t version = table.currentVersionOf(row);
    return version < 0 ? nullptr : &table.versionData(std::size_t(version));
}

// The key and status of a task (its due date is the caller's).
ReminderLog::Task markOf(const Fields& fields, const RowData& data, DataTable::RowId row) {
    ReminderLog::Task mark;
    mark.key = ReminderLog::keyOf(fields.id >= 0 && !data.isNull(fields.id)
                                      ? std::optional<std::int32_t>(data.int32(fields.id))
                                      : std::nullopt,
                                  row);
    mark.status =
        ReminderLog::statusHash(fields.status >= 0 ? data.raw(fields.status) : std::string_view());
    return mark;
}

QString textOf(const DataTable& table, const Fields& fields, DataTable::RowId row) {
    const RowData* data = storedRow(table, row);
    return data && fields.task >= 0 ? table.textOf(*data, fields.task) : QString();
}
} // namespace

bool ReminderTimeReached(const QDateTime& now, const QTime& reminderTime) {
    return now.time() >= reminderTime;
}

DueTask TaskAt(const DataTable& table, DataTable::RowId row) {
    DueTask task;
    const RowData* data = storedRow(table, row);
    if (!data)
        return task;
    const Fields fields(table);
    task.row = row;
    task.mark = markOf(fields, *data, row);
    task.text = textOf(table, fields, row);
    if (fields.due >= 0) {
        try {
            task.mark.due =
                FieldValues::toDate(table.fields()[std::size_t(fields.due)], *data, fields.due);
        } catch (const CorvantisError&) {
            // a value that is no date: the task has no due date
        }
    }
    return task;
}

bool IsClosed(const DataTable& table, DataTable::RowId row) {
    const RowData* data = storedRow(table, row);
    const int status = table.fieldIndex(TaskRecord::Status);
    return !data || (status >= 0 && !DueDateIndex::isOpenStatus(data->raw(status)));
}

std::vector<DueTask> DueTasks(const DueDateIndex& index, const ReminderLog& log,
                              const QDate& today) {
    std::vector<DueTask> due;
    for (const DueDateIndex::Entry& entry : index.dueBy(today))
        if (!log.isQuiet(entry.mark, today))
            due.push_back({entry.row, entry.mark, QString()});
    return due;
}

std::vector<Notice> Notices(const DataTable& table, std::vector<DueTask> tasks,
                            const QString& caption, const QDate& today) {
    std::vector<Notice> notices;
    if (tasks.empty())
        return notices;
    const Fields fields(table);
    if (int(tasks.size()) > MostSingleNotices) {
        Notice summary;
        summary.summary = QStringLiteral("%1 tasks are due in %2").arg(tasks.size()).arg(caption);
        QStringList lines;
        for (std::size_t i = 0; i < tasks.size() && int(i) < SummaryLines; ++i)
            lines << (tasks[i].text = textOf(table, fields, tasks[i].row));
        if (int(tasks.size()) > SummaryLines)
            lines << QStringLiteral("and %1 more").arg(int(tasks.size()) - SummaryLines);
        summary.body = lines.join(u'\n');
        summary.tasks = std::move(tasks);
        notices.push_back(std::move(summary));
        return notices;
    }
    for (DueTask& task : tasks) {
        task.text = textOf(table, fields, task.row);
        Notice notice;
        // The due date is the last day the task was on time: it names the day, not a start.
        notice.summary = task.mark.due >= today ? QStringLiteral("Due today")
                                                : QStringLiteral("Overdue: due ") +
                                                      uGeneral::FormatShortDate(task.mark.due);
        notice.body = task.text + u'\n' + caption;
        notice.tasks.push_back(std::move(task));
        notices.push_back(std::move(notice));
    }
    return notices;
}

} // namespace ReminderPlanner
