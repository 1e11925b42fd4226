#pragma once

#include "model/DataTable.h"

#include <QDate>
#include <QObject>

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

// The open tasks of a task table ordered by their due dates: every stored task with a DueDate
// whose Status is neither "Complete" nor "Cancelled", the only ones a reminder can be due for.
// It follows the table's stored changes one row at a time (changeStored) and is built afresh
// only when the table's rows are replaced as a whole, so asking which tasks are due by a day
// reads just those tasks, never the whole list. The table must keep its history (task tables
// do): a table without history tells no stored changes.
class DueDateIndex : public QObject {
    Q_OBJECT
public:
    explicit DueDateIndex(DataTable* table, QObject* parent = nullptr);

    struct Entry {
        std::int64_t day; // the due date's Julian day
        DataTable::RowId row;
        QDate due() const { return QDate::fromJulianDay(day); }
    };
    // The open tasks due on or before `day`, earliest due date first (then in row order).
    std::vector<Entry> DueBy(const QDate& day) const;
    int Size() const { return static_cast<int>(m_byDay.size()); }

    // Whether a task of that status can still be due (neither complete nor cancelled).
    static bool IsOpenStatus(const QString& status);

private:
    void rebuild();
    void stored(DataTable::RowId row, std::int32_t before, std::int32_t after);
    void resetDone();
    void place(DataTable::RowId row, std::int32_t version);
    void drop(DataTable::RowId row);
    // The due date's Julian day of an open task version; NoDay when it has none or is closed.
    std::int64_t openDueDay(const RowData& version) const;

    static constexpr std::int64_t NoDay = INT64_MIN;

    DataTable* m_table;
    int m_dueField = -1;
    int m_statusField = -1;
    std::set<std::pair<std::int64_t, DataTable::RowId>> m_byDay;
    std::vector<std::int64_t> m_dayOfRow; // NoDay: not in the index
    std::size_t m_seenVersions = 0;
};
