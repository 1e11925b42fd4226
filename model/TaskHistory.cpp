#include "model/TaskHistory.h"

namespace TaskHistory {

namespace {

// One change-log entry: the version it made (or, for a deletion, the version deleted), the
// version it replaced, and its kind, all as the file numbers them (from 1).
struct Entry {
    std::uint32_t version;
    std::uint32_t replaced;
    std::uint32_t kind;
};

std::size_t entryCount(const DataTable& table) {
    return table.changeLog().size() / 3;
}

Entry entryAt(const DataTable& table, std::size_t index) {
    const std::uint32_t* numbers = table.changeLog().data() + 3 * index;
    return {numbers[0], numbers[1], numbers[2]};
}

} // namespace

std::vector<Version> versionsOfRow(const DataTable& table, DataTable::RowId row) {
    std::vector<Version> versions;
    const std::int32_t current = table.currentVersionOf(row);
    if (current < 0)
        return versions;
    versions.push_back({static_cast<std::uint32_t>(current), 0});
    // The log runs in the order the changes were made, so each version's maker lies before the
    // maker of the version that replaced it: one backward pass finds the whole chain.
    std::uint32_t wanted = static_cast<std::uint32_t>(current) + 1;
    for (std::size_t i = entryCount(table); i-- > 0;) {
        const Entry entry = entryAt(table, i);
        if (entry.version != wanted || (entry.kind & DataTable::Deleted))
            continue;
        versions.back().change = static_cast<int>(i + 1);
        // A replaced version always comes before its replacement; anything else ends the chain
        // rather than looping in a damaged file.
        if (!(entry.kind & DataTable::Modified) || entry.replaced == 0 ||
            entry.replaced >= entry.version)
            break;
        wanted = entry.replaced;
        versions.push_back({wanted - 1, 0});
    }
    return versions;
}

std::vector<Version> deletedTasks(const DataTable& table) {
    const std::size_t count = table.versionCount();
    const auto isDeletedTask = [&](std::size_t v) {
        const std::uint32_t state = table.versionState(v);
        return (state & DataTable::Deleted) && !(state & DataTable::Void);
    };
    std::vector<Version> deleted;
    std::vector<bool> listed(count, false);
    for (std::size_t i = entryCount(table); i-- > 0;) {
        const Entry entry = entryAt(table, i);
        if (!(entry.kind & DataTable::Deleted) || entry.version == 0 || entry.version > count)
            continue;
        const std::size_t v = entry.version - 1;
        if (listed[v] || !isDeletedTask(v))
            continue;
        listed[v] = true;
        deleted.push_back({static_cast<std::uint32_t>(v), static_cast<int>(i + 1)});
    }
    // Deletions the log does not name (a file written without one) follow, the latest first.
    for (std::size_t v = count; v-- > 0;)
        if (!listed[v] && isDeletedTask(v))
            deleted.push_back({static_cast<std::uint32_t>(v), 0});
    return deleted;
}

std::vector<int> changedFields(const DataTable& table, std::uint32_t newer, std::uint32_t older) {
    std::vector<int> fields;
    const RowData& a = table.versionData(newer);
    const RowData& b = table.versionData(older);
    for (int f = 0; f < static_cast<int>(table.fields().size()); ++f)
        if (a.isNull(f) != b.isNull(f) || a.raw(f) != b.raw(f))
            fields.push_back(f);
    return fields;
}

DataTable::Content withoutHistory(const DataTable& table) {
    DataTable::Content content;
    content.fields = table.fields();
    const std::vector<DataTable::RowId> rows = table.naturalOrder();
    content.versions.reserve(rows.size());
    content.states.assign(rows.size(), DataTable::Inserted);
    content.changeLog.reserve(3 * rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto version = static_cast<std::size_t>(table.currentVersionOf(rows[i]));
        content.versions.push_back(table.versionData(version).clone());
        content.changeLog.insert(content.changeLog.end(),
                                 {static_cast<std::uint32_t>(i + 1), 0u, DataTable::Inserted});
    }
    content.autoIncValue = table.autoIncValue();
    return content;
}

} // namespace TaskHistory
