#include "reminders/DueDateIndex.h"

#include "base/CorvantisError.h"
#include "model/FieldValues.h"
#include "model/TaskRecord.h"

#include <algorithm>
#include <limits>

namespace {
// The two closed statuses as rows store them, compared without making a text of every status.
constexpr std::string_view CompleteBytes = "Complete";
constexpr std::string_view CancelledBytes = "Cancelled";
} // namespace

DueDateIndex::DueDateIndex(DataTable* table, QObject* parent) : QObject(parent), m_table(table) {
    connect(table, &DataTable::changeStored, this,
            [this](DataTable::RowId row, std::int32_t, std::int32_t after, bool) {
                stored(row, after);
            });
    connect(table, &DataTable::resetDone, this, &DueDateIndex::resetDone);
    connect(table, &DataTable::contentReplaced, this, &DueDateIndex::rebuild);
    rebuild();
}

bool DueDateIndex::isOpenStatus(std::string_view status) {
    return status != CompleteBytes && status != CancelledBytes;
}

DueDateIndex::Mark DueDateIndex::markOf(DataTable::RowId row, std::int32_t version) const {
    Mark mark;
    if (version < 0 || m_dueField < 0)
        return mark;
    const RowData& data = m_table->versionData(std::size_t(version));
    if (data.isNull(m_dueField))
        return mark;
    const std::string_view status =
        m_statusField >= 0 ? data.raw(m_statusField) : std::string_view();
    if (!isOpenStatus(status))
        return mark;
    const FieldDef& def = m_table->fields()[std::size_t(m_dueField)];
    if (def.kind == FieldKind::Date) {
        mark.day = data.int32(m_dueField);
    } else {
        // A list file may give the field another kind; a value that is no date is no due date.
        try {
            const QDate due = FieldValues::toDate(def, data, m_dueField);
            if (!due.isValid() || due.toJulianDay() <= NoDay || due.toJulianDay() > INT32_MAX)
                return mark;
            mark.day = std::int32_t(due.toJulianDay());
        } catch (const CorvantisError&) {
            return mark;
        }
    }
    if (mark.day == NoDay)
        return mark;
    mark.key = ReminderLog::keyOf(m_idField >= 0 && !data.isNull(m_idField)
                                      ? std::optional<std::int32_t>(data.int32(m_idField))
                                      : std::nullopt,
                                  row);
    mark.status = ReminderLog::statusHash(status);
    return mark;
}

std::int32_t& DueDateIndex::dayOf(DataTable::RowId row) {
    const auto at = std::size_t(row);
    if (at >= m_dayOfRow.size())
        m_dayOfRow.resize(std::max(at + 1, m_dayOfRow.size() * 2), NoDay);
    return m_dayOfRow[at];
}

void DueDateIndex::rebuild() {
    m_byDay.clear();
    m_pool.release();
    m_dayOfRow.assign(m_table->allRows().size(), NoDay);
    m_dueField = m_table->fieldIndex(TaskRecord::DueDate);
    m_statusField = m_table->fieldIndex(TaskRecord::Status);
    m_idField = m_table->fieldIndex(TaskRecord::ID);
    if (m_idField >= 0 && !m_table->fields()[std::size_t(m_idField)].isIntegral())
        m_idField = -1;
    m_seenVersions = m_table->versionCount();
    if (m_dueField < 0)
        return;
    // The rows read in the order their versions lie in memory, then the entries sorted and each
    // placed at the end of the tree: one sweep, no search per task.
    std::vector<std::pair<std::int32_t, DataTable::RowId>> versions;
    versions.reserve(m_table->allRows().size());
    for (const DataTable::RowId row : m_table->allRows())
        versions.emplace_back(m_table->currentVersionOf(row), row);
    std::sort(versions.begin(), versions.end());
    std::vector<std::pair<Place, Mark>> entries;
    for (const auto& [version, row] : versions) {
        const Mark mark = markOf(row, version);
        if (mark.day == NoDay)
            continue;
        dayOf(row) = mark.day;
        entries.push_back({{mark.day, row}, mark});
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [place, mark] : entries)
        m_byDay.emplace_hint(m_byDay.end(), place, std::make_pair(mark.key, mark.status));
    emit entriesChanged();
}

void DueDateIndex::resetDone() {
    // Rows a cancelled batch had added were taken back without a stored change of their own.
    if (m_table->versionCount() < m_seenVersions)
        rebuild();
}

void DueDateIndex::stored(DataTable::RowId row, std::int32_t after) {
    m_seenVersions = std::max(m_seenVersions, std::size_t(after + 1));
    if (after < 0)
        drop(row);
    else
        place(row, after);
}

void DueDateIndex::drop(DataTable::RowId row) {
    const auto at = std::size_t(row);
    if (row < 0 || at >= m_dayOfRow.size() || m_dayOfRow[at] == NoDay)
        return;
    m_byDay.erase({m_dayOfRow[at], row});
    m_dayOfRow[at] = NoDay;
}

void DueDateIndex::place(DataTable::RowId row, std::int32_t version) {
    if (row < 0)
        return;
    const Mark mark = markOf(row, version);
    const auto at = std::size_t(row);
    const std::int32_t before = at < m_dayOfRow.size() ? m_dayOfRow[at] : NoDay;
    // An edit of another field leaves the entry as it was, and owes no reminder.
    if (before != NoDay && before == mark.day) {
        const auto it = m_byDay.find({before, row});
        if (it != m_byDay.end() && it->second == std::make_pair(mark.key, mark.status))
            return;
    }
    drop(row);
    if (mark.day == NoDay)
        return;
    dayOf(row) = mark.day;
    m_byDay.emplace(Place{mark.day, row}, std::make_pair(mark.key, mark.status));
    emit entriesChanged();
}

std::vector<DueDateIndex::Entry> DueDateIndex::dueBy(const QDate& day) const {
    std::vector<Entry> due;
    if (!day.isValid())
        return due;
    const auto end =
        m_byDay.upper_bound({day.toJulianDay(), std::numeric_limits<DataTable::RowId>::max()});
    for (auto it = m_byDay.begin(); it != end; ++it)
        due.push_back(
            {it->first.second,
             {it->second.first, QDate::fromJulianDay(it->first.first), it->second.second}});
    return due;
}
