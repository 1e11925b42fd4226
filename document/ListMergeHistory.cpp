#include "document/ListMergeHistory.h"

#include "document/ListMerge.h"
#include "model/TaskHistory.h"

#include <algorithm>

namespace ListMergeHistory {

std::size_t entryCount(const DataTable& table) {
    return table.changeLog().size() / 3;
}

Entry entryAt(const DataTable& table, std::size_t index) {
    const std::uint32_t* numbers = table.changeLog().data() + 3 * index;
    return {numbers[0], numbers[1], numbers[2]};
}

bool makesVersion(const Entry& entry) {
    return entry.version > 0 && !(entry.kind & DataTable::Deleted) &&
           (entry.kind & (DataTable::Inserted | DataTable::Modified));
}

namespace {

// The versions before the first one a change-log entry made: the rows of a file that was read
// without a change log.
std::size_t unloggedVersions(const DataTable& table) {
    const std::size_t entries = entryCount(table);
    for (std::size_t i = 0; i < entries; ++i) {
        const Entry entry = entryAt(table, i);
        if (makesVersion(entry))
            return std::min<std::size_t>(entry.version - 1, table.versionCount());
    }
    return table.versionCount();
}

} // namespace

CommonPoint findCommonPoint(const DataTable& a, const DataTable& b) {
    CommonPoint point;
    const std::size_t unlogged = std::min(unloggedVersions(a), unloggedVersions(b));
    while (point.versions < unlogged &&
           ListMerge::SameValues(a.versionData(point.versions), b.versionData(point.versions)))
        ++point.versions;
    if (point.versions < unlogged)
        return point;
    const std::size_t entries = std::min(entryCount(a), entryCount(b));
    const std::uint32_t* logA = a.changeLog().data();
    const std::uint32_t* logB = b.changeLog().data();
    for (; point.entries < entries; ++point.entries) {
        const std::size_t at = 3 * point.entries;
        if (!std::equal(logA + at, logA + at + 3, logB + at))
            break;
        const Entry entry = entryAt(a, point.entries);
        if (!makesVersion(entry))
            continue;
        if (entry.version != point.versions + 1 || entry.version > a.versionCount() ||
            entry.version > b.versionCount() ||
            !ListMerge::SameValues(a.versionData(point.versions), b.versionData(point.versions)))
            break;
        ++point.versions;
    }
    return point;
}

Lineage trace(const DataTable& table, const CommonPoint& point) {
    Lineage lineage;
    const std::size_t count = table.versionCount();
    const std::size_t common = std::min(point.versions, count);
    lineage.originOf.assign(count - common, NoOrigin);
    const auto originOf = [&](std::size_t version) {
        return version < common ? static_cast<std::uint32_t>(version)
                                : lineage.originOf[version - common];
    };
    const auto touch = [&](std::uint32_t origin) -> Lineage::Task& {
        const auto [it, added] = lineage.taskOf.emplace(origin, lineage.tasks.size());
        if (added)
            lineage.tasks.push_back({origin, {}, false});
        return lineage.tasks[it->second];
    };
    // The tasks deleted and not back, by ID: a later insertion under the ID brings one back.
    std::unordered_map<std::int32_t, std::uint32_t> deletedById;
    const std::size_t entries = entryCount(table);
    const auto follow = [&](std::size_t i, bool shared) {
        const Entry entry = entryAt(table, i);
        if (entry.kind & DataTable::Deleted) {
            if (entry.version == 0 || entry.version > count)
                return;
            const std::uint32_t origin = originOf(entry.version - 1);
            if (origin == NoOrigin)
                return;
            if (const auto id = TaskHistory::packedIdOf(table, entry.version - 1))
                deletedById[*id] = origin;
            if (!shared) {
                Lineage::Task& task = touch(origin);
                task.deleted = true;
                task.chain.push_back(Gone);
            }
            return;
        }
        if (!makesVersion(entry) || entry.version > count)
            return;
        const std::size_t made = entry.version - 1;
        std::uint32_t origin = static_cast<std::uint32_t>(made);
        if ((entry.kind & DataTable::Modified) && entry.replaced >= 1 && entry.replaced <= made) {
            const std::uint32_t from = originOf(entry.replaced - 1);
            if (from != NoOrigin)
                origin = from;
        } else if (!(entry.kind & DataTable::Modified)) {
            const auto id = TaskHistory::packedIdOf(table, std::uint32_t(made));
            const auto back = id ? deletedById.find(*id) : deletedById.end();
            if (back != deletedById.end()) {
                if (!shared)
                    origin = back->second;
                deletedById.erase(back);
            }
        }
        // A damaged log may name a shared version, one beyond the list or one twice.
        if (shared || made < common || lineage.originOf[made - common] != NoOrigin)
            return;
        lineage.originOf[made - common] = origin;
        Lineage::Task& task = touch(origin);
        task.chain.push_back(static_cast<std::uint32_t>(made));
        task.deleted = false;
    };
    for (std::size_t i = 0; i < std::min(point.entries, entries); ++i)
        follow(i, true);
    for (const auto& [id, origin] : deletedById)
        lineage.goneAtCommon.insert(origin);
    for (std::size_t i = point.entries; i < entries; ++i)
        follow(i, false);
    return lineage;
}

} // namespace ListMergeHistory
