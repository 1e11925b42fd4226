#pragma once

#include "model/DataTable.h"
#include "reminders/ReminderLog.h"

#include <QObject>

#include <cstdint>
#include <map>
#include <memory_resource>
#include <string_view>
#include <utility>
#include <vector>

// The open tasks of a task table ordered by their due dates: every stored task with a DueDate
// whose Status is neither "Complete" nor "Cancelled", the only ones a reminder can be due for,
// each with what the reminder log knows it by (its key and status). It follows the table's
// stored changes one row at a time (changeStored) and reads the whole table only when the
// table's rows are replaced as a whole, so asking which tasks are due by a day reads just those
// entries, not the tasks themselves. The table must keep its history (task tables do): a table
// without history tells no stored changes.
class DueDateIndex : public QObject {
    Q_OBJECT
public:
    explicit DueDateIndex(DataTable* table, QObject* parent = nullptr);

    struct Entry {
        DataTable::RowId row;
        ReminderLog::Task mark; // key, due date, status
    };
    // The open tasks due on or before `day`, earliest due date first (then in row order).
    std::vector<Entry> dueBy(const QDate& day) const;
    int size() const { return static_cast<int>(m_byDay.size()); }

    // Whether a task of that status (its text in UTF-8, as rows keep it) can still be due:
    // neither complete nor cancelled.
    static bool isOpenStatus(std::string_view status);

signals:
    // A task came into the index or changed its due date or status there, or the whole index was
    // made again: a reminder may be owed that was not before. Not told for what only leaves it.
    void entriesChanged();

private:
    static constexpr std::int32_t NoDay = INT32_MIN;
    // A task as the index keeps it: its due date's Julian day (NoDay: not in the index), and
    // what the reminder log knows it by.
    struct Mark {
        std::int32_t day = NoDay;
        ReminderLog::Key key = 0;
        std::uint32_t status = 0;
    };
    using Place = std::pair<std::int32_t, DataTable::RowId>; // day, row

    void rebuild();
    void stored(DataTable::RowId row, std::int32_t after);
    void resetDone();
    void place(DataTable::RowId row, std::int32_t version);
    void drop(DataTable::RowId row);
    // What the index keeps of a task version; day NoDay when it has no due date or is closed.
    Mark markOf(DataTable::RowId row, std::int32_t version) const;
    std::int32_t& dayOf(DataTable::RowId row);

    DataTable* m_table;
    int m_dueField = -1;
    int m_statusField = -1;
    int m_idField = -1;
    // The entries' nodes come from a pool: a large list's index is built, and rebuilt, without a
    // trip to the heap per task.
    std::pmr::unsynchronized_pool_resource m_pool;
    std::pmr::map<Place, std::pair<ReminderLog::Key, std::uint32_t>> m_byDay{&m_pool};
    std::vector<std::int32_t> m_dayOfRow; // NoDay: not in the index
    std::size_t m_seenVersions = 0;
};
