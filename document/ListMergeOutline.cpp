#include "document/ListMerge.h"

#include "model/FieldValues.h"
#include "model/TaskRecord.h"

#include <unordered_map>
#include <unordered_set>

// The outline through a merge. A parent changed on both sides to different tasks is a field
// conflict like any other; what is left is that a ParentID names a task by its ID: it follows a
// task the other copy added when the task takes another ID here, and a task whose parent the merge
// deletes (or which comes from the other copy under a task deleted here) goes to the top level.

namespace ListMerge {

void KeepOutline(const DataTable& table, std::int64_t counter,
                 std::vector<DataTable::RowChange>& changes, std::deque<RowData>& made) {
    const int idField = table.autoIncField();
    const int parentField = table.fieldIndex(TaskRecord::ParentID);
    if (idField < 0 || parentField < 0 || !table.fields()[std::size_t(parentField)].isIntegral())
        return;
    const auto idOf = [&](const RowData& values) {
        return values.isNull(idField) ? 0 : values.int32(idField);
    };
    const auto parentOf = [&](const RowData& values) {
        return values.isNull(parentField) ? 0 : values.int32(parentField);
    };

    // The IDs the changes give, as the table will give them: an added task keeps its own when no
    // live task has it, else takes the counter's.
    std::unordered_set<std::int32_t> live;
    for (const DataTable::RowId row : table.allRows())
        live.insert(idOf(table.rowData(row)));
    std::unordered_set<std::int32_t> deleted;
    std::unordered_map<std::int32_t, std::int32_t> renumbered; // the other copy's ID -> here
    std::int64_t next = std::max(counter, table.autoIncValue());
    for (const DataTable::RowChange& change : changes) {
        if (change.kind == DataTable::RowChange::Delete) {
            const std::int32_t id = idOf(table.rowData(change.row));
            live.erase(id);
            deleted.insert(id);
        } else if (change.kind == DataTable::RowChange::Add && change.values) {
            const std::int32_t own = idOf(*change.values);
            const bool keep = change.keepId && own != 0 && !live.count(own);
            const auto id = keep ? own : static_cast<std::int32_t>(next);
            next = std::max<std::int64_t>(next, std::int64_t(id) + 1);
            live.insert(id);
            if (own != 0 && id != own)
                renumbered.emplace(own, id);
        }
    }

    const auto rewritten = [&](const RowData& values, std::int32_t parent) {
        if (parent == 0) {
            made.push_back(values.withField(parentField, nullptr));
        } else {
            const auto stored = FieldValues::Stored::number(parent);
            const std::string_view bytes = stored.bytes();
            made.push_back(values.withField(parentField, &bytes));
        }
        return &made.back();
    };
    std::unordered_set<DataTable::RowId> touched;
    for (DataTable::RowChange& change : changes) {
        if (change.kind == DataTable::RowChange::Delete || !change.values) {
            touched.insert(change.row);
            continue;
        }
        if (change.kind == DataTable::RowChange::Store)
            touched.insert(change.row);
        std::int32_t parent = parentOf(*change.values);
        if (parent == 0)
            continue;
        // A parent the other copy set names its own IDs; one kept from here names ours.
        const bool fromThere = change.kind == DataTable::RowChange::Add ||
                               parent != parentOf(table.rowData(change.row));
        if (const auto it = renumbered.find(parent); fromThere && it != renumbered.end())
            parent = it->second;
        if (!live.count(parent) &&
            (change.kind == DataTable::RowChange::Add || deleted.count(parent)))
            parent = 0;
        if (parent != parentOf(*change.values))
            change.values = rewritten(*change.values, parent);
    }
    // Tasks the merge leaves as they are but whose parent it deletes.
    for (const DataTable::RowId row : table.allRows()) {
        const RowData& values = table.rowData(row);
        const std::int32_t parent = parentOf(values);
        if (parent == 0 || touched.count(row) || !deleted.count(parent) || live.count(parent))
            continue;
        DataTable::RowChange change;
        change.kind = DataTable::RowChange::Store;
        change.row = row;
        change.values = rewritten(values, 0);
        changes.push_back(change);
    }
}

} // namespace ListMerge
