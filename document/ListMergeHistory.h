#pragma once

#include "model/DataTable.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// What a merge of two copies of a list reads of their histories (document/ListMerge): where they
// parted, and what each did to each task after that.
namespace ListMergeHistory {

// One change-log entry, numbered as the file numbers them (from 1).
struct Entry {
    std::uint32_t version;
    std::uint32_t replaced;
    std::uint32_t kind;
};
std::size_t entryCount(const DataTable& table);
Entry entryAt(const DataTable& table, std::size_t index);
// An insertion or an edit; a deletion makes no version.
bool makesVersion(const Entry& entry);

// Where two copies parted: the versions and change-log entries they share.
struct CommonPoint {
    std::size_t versions = 0;
    std::size_t entries = 0;
};
// The longest prefix of the change logs on which the copies agree entry for entry, where each
// version an entry made holds the same values on both sides and the versions were made one
// after another. Superseded and deleted marks are not compared: later entries set them. Each
// shared version is read once.
CommonPoint findCommonPoint(const DataTable& a, const DataTable& b);

constexpr std::uint32_t NoOrigin = std::numeric_limits<std::uint32_t>::max();
// A deletion, in a task's chain of versions.
constexpr std::uint32_t Gone = NoOrigin - 1;

// What one copy did after the common point, task by task. A task is named by its origin: its
// version at the common point (for a task deleted then, the version deleted), or for a task
// added afterwards the version its insertion made. A task deleted and brought back under its ID
// (undo, a restore, a merge's "other copy") is the same task, as the history windows show it.
struct Lineage {
    struct Task {
        std::uint32_t origin;
        // The versions made after the common point and the deletions (Gone), in order.
        std::vector<std::uint32_t> chain;
        bool deleted;
        std::uint32_t last() const {
            for (auto it = chain.rbegin(); it != chain.rend(); ++it)
                if (*it != Gone)
                    return *it;
            return origin;
        }
    };
    std::vector<Task> tasks; // in the order of their first change after the common point
    std::unordered_map<std::uint32_t, std::size_t> taskOf;
    std::vector<std::uint32_t> originOf; // per version from the common point on
    // The origins of the tasks deleted at the common point (alike in both copies).
    std::unordered_set<std::uint32_t> goneAtCommon;
};
// One pass over the entries after the common point; the deletions before it are read for the
// tasks they leave deleted there.
Lineage trace(const DataTable& table, const CommonPoint& point);

} // namespace ListMergeHistory
