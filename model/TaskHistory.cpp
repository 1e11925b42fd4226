#include "model/TaskHistory.h"

#include "base/CorvantisError.h"
#include "model/FieldValues.h"
#include "model/TaskRecord.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

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

// The ID a stored version carries; none in a list without an ID field or for a version without one.
std::optional<std::int32_t> idOf(const DataTable& table, std::uint32_t version) {
    const int field = table.autoIncField();
    if (field < 0 || version >= table.versionCount())
        return std::nullopt;
    const RowData& data = table.versionData(version);
    if (data.isNull(field))
        return std::nullopt;
    return data.int32(field);
}

} // namespace

std::optional<std::int32_t> packedIdOf(const DataTable& table, std::uint32_t version) {
    const int field = table.autoIncField();
    std::optional<std::int32_t> id;
    if (field < 0 || version >= table.versionCount())
        return id;
    table.forEachValueOf(version, [&](int f, std::string_view bytes) {
        std::int32_t value = 0;
        if (f == field && bytes.size() == sizeof value) {
            std::memcpy(&value, bytes.data(), sizeof value);
            id = value;
        }
    });
    return id;
}

std::vector<std::uint32_t> firstVersions(const DataTable& table) {
    const std::size_t count = table.versionCount();
    std::vector<std::uint32_t> first(count);
    for (std::size_t v = 0; v < count; ++v)
        first[v] = static_cast<std::uint32_t>(v);
    std::unordered_map<std::int32_t, std::uint32_t> deleted; // ID -> first version of the task
    for (std::size_t i = 0; i < entryCount(table); ++i) {
        const Entry entry = entryAt(table, i);
        if (entry.version == 0 || entry.version > count)
            continue;
        const std::uint32_t v = entry.version - 1;
        if (entry.kind & DataTable::Deleted) {
            if (const auto id = packedIdOf(table, v))
                deleted[*id] = first[v];
        } else if (entry.kind & DataTable::Modified) {
            // A replaced version comes before its replacement; anything else starts a task.
            if (entry.replaced >= 1 && entry.replaced <= v)
                first[v] = first[entry.replaced - 1];
        } else if (entry.kind & DataTable::Inserted) {
            const auto id = packedIdOf(table, v);
            const auto back = id ? deleted.find(*id) : deleted.end();
            if (back != deleted.end()) {
                first[v] = back->second;
                deleted.erase(back);
            }
        }
    }
    return first;
}

std::vector<Version> versionsOfRow(const DataTable& table, DataTable::RowId row) {
    std::vector<Version> versions;
    const std::int32_t current = table.currentVersionOf(row);
    if (current < 0)
        return versions;
    const std::optional<std::int32_t> id = idOf(table, static_cast<std::uint32_t>(current));
    versions.push_back({static_cast<std::uint32_t>(current), 0});
    // The log runs in the order the changes were made, so each version's maker lies before the
    // maker of the version that replaced it: one backward pass finds the whole chain. A task
    // deleted and brought back (undo, restore) keeps its ID: where its chain starts, it goes on
    // from the deletion of the same ID before it.
    std::uint32_t wanted = static_cast<std::uint32_t>(current) + 1;
    bool seekingDeletion = false;
    for (std::size_t i = entryCount(table); i-- > 0;) {
        const Entry entry = entryAt(table, i);
        if (seekingDeletion) {
            if (!(entry.kind & DataTable::Deleted) || entry.version == 0 ||
                entry.version >= wanted || idOf(table, entry.version - 1) != id)
                continue;
            seekingDeletion = false;
            wanted = entry.version;
            versions.push_back({wanted - 1, static_cast<int>(i + 1)});
            continue;
        }
        if (entry.version != wanted || (entry.kind & DataTable::Deleted))
            continue;
        if (versions.back().change == 0)
            versions.back().change = static_cast<int>(i + 1);
        if (!(entry.kind & DataTable::Modified)) {
            seekingDeletion = id.has_value(); // an insertion: the task may have lived before
            continue;
        }
        // A replaced version always comes before its replacement; anything else ends the chain
        // rather than looping in a damaged file.
        if (entry.replaced == 0 || entry.replaced >= entry.version)
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
    // A task that is live again (its deletion undone, or restored) is not offered, and a task
    // deleted more than once is offered once, as it was last deleted.
    std::unordered_set<std::int32_t> ids;
    for (const DataTable::RowId row : table.allRows())
        if (const auto id = idOf(table, static_cast<std::uint32_t>(table.currentVersionOf(row))))
            ids.insert(*id);
    const auto offer = [&](std::size_t v) {
        const std::optional<std::int32_t> id = idOf(table, static_cast<std::uint32_t>(v));
        return !id || ids.insert(*id).second;
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
        if (offer(v))
            deleted.push_back({static_cast<std::uint32_t>(v), static_cast<int>(i + 1)});
    }
    // Deletions the log does not name (a file written without one) follow, the latest first.
    for (std::size_t v = count; v-- > 0;)
        if (!listed[v] && isDeletedTask(v) && offer(v))
            deleted.push_back({static_cast<std::uint32_t>(v), 0});
    return deleted;
}

std::vector<Done> doneOccurrences(const DataTable& table, const std::vector<Version>& versions) {
    std::vector<Done> done;
    const int status = table.fieldIndex(TaskRecord::Status);
    if (status < 0)
        return done;
    const auto dayOf = [&](const RowData& row, const QString& name) {
        const int field = table.fieldIndex(name);
        if (field < 0 || row.isNull(field))
            return QDate();
        try {
            return FieldValues::toDate(table.fields()[std::size_t(field)], row, field);
        } catch (const CorvantisError&) {
            return QDate(); // a text the list holds as a date but cannot read
        }
    };
    // A completion stands until the task is open again at its due date or before (an undo, a
    // task started again): then it no longer counts.
    const auto key = [](const QDate& day) {
        return day.isValid() ? day.toJulianDay() : std::numeric_limits<qint64>::min();
    };
    bool wasComplete = false;
    for (auto it = versions.crbegin(); it != versions.crend(); ++it) {
        const RowData& row = table.versionData(it->version);
        const bool complete = row.raw(status) == "Complete";
        const QDate due = dayOf(row, TaskRecord::DueDate);
        if (complete && !wasComplete)
            done.push_back({it->version, dayOf(row, TaskRecord::CompletedDate), due});
        if (!complete)
            done.erase(std::remove_if(done.begin(), done.end(),
                                      [&](const Done& d) { return key(d.due) >= key(due); }),
                       done.end());
        wasComplete = complete;
    }
    std::reverse(done.begin(), done.end());
    return done;
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
