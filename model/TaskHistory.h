#pragma once

#include "model/DataTable.h"

#include <QDate>

#include <cstdint>
#include <optional>
#include <vector>

// What a list's history holds, read from the stored row versions and the change log: the
// versions one task went through, the tasks deleted from the list, and the list without any of
// it. Nothing here changes the table.
namespace TaskHistory {

// A stored version and the place (1-based) in the change log of the change that made it (for a
// deleted task: of its deletion); 0 when the log does not tell.
struct Version {
    std::uint32_t version = 0;
    int change = 0;
};

// Every stored version of a live row, newest first: the one it shows now, then each one that it
// replaced, followed back through the change log, across a deletion of the task and its return
// under the same ID. One pass over the log at most.
std::vector<Version> versionsOfRow(const DataTable& table, DataTable::RowId row);

// The last version of every task deleted from the list and not live again (no live task has
// its ID), each task once, the latest deletion first.
std::vector<Version> deletedTasks(const DataTable& table);

// For every stored version, the first version of its task: followed back through the edits that
// replaced it and, as versionsOfRow does, across a deletion and a return under the same ID. Two
// copies of a list hold the same first version for a task both have, however each came by it.
// One pass over the log; no version is laid out.
std::vector<std::uint32_t> firstVersions(const DataTable& table);

// The ID a stored version carries, read without laying out a version held packed; none in a
// list without an ID field or for a version without one.
std::optional<std::int32_t> packedIdOf(const DataTable& table, std::uint32_t version);

// One time a task was done: the first of a run of its versions whose Status is "Complete" (a
// repeating task leaves one each time it is completed and moves on), with the day it was done
// and the day it was due. A completion taken back (the task open again at its due date or
// before, as an undo leaves it) no longer counts.
struct Done {
    std::uint32_t version = 0;
    QDate completed;
    QDate due;
};
// The times a task was done, of its versions as versionsOfRow gives them; newest first.
std::vector<Done> doneOccurrences(const DataTable& table, const std::vector<Version>& versions);

// The fields whose values differ between two stored versions, in field order.
std::vector<int> changedFields(const DataTable& table, std::uint32_t newer, std::uint32_t older);

// The list's current tasks as a list that was never edited: one version per task, in the
// natural order, each an insertion in the change log; the fields, IDs and the ID counter as they
// are. A pending row is not included: settle it first.
DataTable::Content withoutHistory(const DataTable& table);

} // namespace TaskHistory
