#include "reminders/DueDateIndex.h"

#include "base/CorvantisError.h"
#include "model/FieldValues.h"
#include "model/TaskRecord.h"

#include <limits>
#include <string_view>

namespace {
// The two closed statuses as rows store them, compared without making a text of every status.
constexpr std::string_view CompleteBytes = "Complete";
constexpr std::string_view CancelledBytes = "Cancelled";
} // namespace

DueDateIndex::DueDateIndex(DataTable* table, QObject* parent) : QObject(parent), m_table(table) {
    connect(table, &DataTable::changeStored, this,
            [this](DataTable::RowId row, std::int32_t before, std::int32_t after, bool) {
                stored(row, before, after);
            });
    connect(table, &DataTable::resetDone, this, &DueDateIndex::resetDone);
    connect(table, &DataTable::contentReplaced, this, &DueDateIndex::rebuild);
    rebuild();
}

bool DueDateIndex::IsOpenStatus(const QString& status) {
    return status != TaskRecord::Complete && status != TaskRecord::Cancelled;
}

std::int64_t DueDateIndex::openDueDay(const RowData& version) const {
    if (m_dueField < 0 || version.isNull(m_dueField))
        return NoDay;
    if (m_statusField >= 0) {
        const std::string_view status = version.raw(m_statusField);
        if (status == CompleteBytes || status == CancelledBytes)
            return NoDay;
    }
    const FieldDef& def = m_table->fields()[std::size_t(m_dueField)];
    if (def.kind == FieldKind::Date)
        return version.int32(m_dueField);
    // A list file may give the field another kind; a value that is no date is no due date.
    try {
        const QDate due = FieldValues::toDate(def, version, m_dueField);
        return due.isValid() ? due.toJulianDay() : NoDay;
    } catch (const CorvantisError&) {
        return NoDay;
    }
}

void DueDateIndex::rebuild() {
    m_byDay.clear();
    m_dayOfRow.clear();
    m_dueField = m_table->fieldIndex(TaskRecord::DueDate);
    m_statusField = m_table->fieldIndex(TaskRecord::Status);
    m_seenVersions = m_table->versionCount();
    if (m_dueField < 0)
        return;
    for (const DataTable::RowId row : m_table->allRows())
        place(row, m_table->currentVersionOf(row));
}

void DueDateIndex::resetDone() {
    // Rows a cancelled batch had added were taken back without a stored change of their own.
    if (m_table->versionCount() < m_seenVersions)
        rebuild();
}

void DueDateIndex::stored(DataTable::RowId row, std::int32_t, std::int32_t after) {
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
    if (row < 0 || m_dueField < 0)
        return;
    drop(row);
    if (version < 0)
        return;
    const std::int64_t day = openDueDay(m_table->versionData(std::size_t(version)));
    if (day == NoDay)
        return;
    const auto at = std::size_t(row);
    if (at >= m_dayOfRow.size())
        m_dayOfRow.resize(std::max(at + 1, m_dayOfRow.size() * 2), NoDay);
    m_dayOfRow[at] = day;
    m_byDay.emplace(day, row);
}

std::vector<DueDateIndex::Entry> DueDateIndex::DueBy(const QDate& day) const {
    std::vector<Entry> due;
    if (!day.isValid())
        return due;
    const auto end =
        m_byDay.upper_bound({day.toJulianDay(), std::numeric_limits<DataTable::RowId>::max()});
    for (auto it = m_byDay.begin(); it != end; ++it)
        due.push_back({it->first, it->second});
    return due;
}
