#pragma once

#include "model/DataTable.h"
#include "model/RowData.h"
#include "sync/FieldMerge.h"
#include "sync/MergeConflict.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// Merging another copy of a list into this one. Versions and change-log entries are only ever
// appended, so two copies of one list agree on a prefix of their change logs (and on the values
// of the versions those entries made) up to the moment they parted: that common point is an
// exact base for a three-way merge. The other copy's changes after it are made in this list as
// ordinary changes (DataTable::applyChanges), so the merged list is a valid list whose history
// holds both sides, and one undo step takes the whole merge back. A task that an earlier merge
// brought from one copy to the other is known by its values: it is the same task, and the latest
// state both copies held (values, or deleted) is its base. A merge writes into the history what
// it took in (the other copy's values before the merged ones; a deletion seen; a task brought
// back under its own ID, which is the same task), so merging a copy again changes nothing and
// asks nothing, whatever was answered the first time.
//
// Two steps, so that a window can ask between them: Prepare finds the common point and works out
// every change and every true conflict without touching the list; Apply makes the changes with
// the user's choice per conflict.
namespace ListMerge {

// --- one task, three ways ---------------------------------------------------------------------
// The field rule (Take, MergeField, MergeFields) is in sync/FieldMerge.h.

// The field rule over stored rows of one field list.
struct TaskMerge {
    RowData merged;
    std::vector<int> conflicts;
};
// `later`: a field whose later value stands where both sides changed it (the day a task was
// last acted on, which commands stamp), instead of a conflict. The text field `propertiesField`
// (none: -1) that both sides changed is merged line by line, keyed by name
// (TaskProperties::Merge): it conflicts only where one name changed differently.
TaskMerge MergeTask(const RowData& base, const RowData& mine, const RowData& theirs, int later = -1,
                    int propertiesField = -1);
// The Properties field of a list with these fields; -1 when it has none that holds text.
int PropertiesField(const FieldList& fields);
// Whether two rows hold the same value in every field (however their bytes are laid out).
bool SameValues(const RowData& a, const RowData& b);
// The conflict lines of a merged task, one per conflicting field, as the conflicts window shows
// them; the task's ID and text are mine's.
std::vector<MergeConflict> FieldConflicts(const FieldList& fields, const RowData& base,
                                          const RowData& mine, const RowData& theirs,
                                          const std::vector<int>& conflicts);
// Mine's merged values with each conflicting field set as chosen (in the order of conflicts).
RowData Resolve(const RowData& merged, const RowData& theirs, const std::vector<int>& conflicts,
                const MergeChoices& choices);

// --- two copies of a list ---------------------------------------------------------------------
// Everything a merge will do, worked out before anything changes. Self-contained: the other copy
// may be dropped once it is made.
struct Plan {
    // One change to this list: a task edited (Store) or deleted here, or added (Add). A change
    // that stands for a deleted-vs-edited conflict is made only when that conflict takes the
    // other copy's side.
    struct Change {
        DataTable::RowChange::Kind kind = DataTable::RowChange::Store;
        DataTable::RowId row = -1; // or DataTable::RowChange::LastAdded
        RowData values;
        RowData theirs; // Store with field conflicts: the other copy's values
        bool keepId = false;
        // Made only for one answer (side) to a deleted-vs-edited conflict; -1: always made.
        int conflict = -1;
        MergeConflict::Side side = MergeConflict::Side::OtherCopy;
    };
    // Where each conflict's choice goes: a field of a change's values, or (field -1) the
    // changes that name the conflict.
    struct Target {
        std::size_t change = 0;
        int field = -1;
    };

    std::vector<MergeConflict> conflicts;
    std::vector<Change> changes;
    std::vector<Target> targets; // one per conflict
    std::int64_t counter = 1;    // the larger of both copies' ID counters
    bool raisesCounter = false;  // the other copy's counter is the larger
    // This list at Prepare, so Apply can refuse a list that changed in between.
    std::size_t versionCount = 0;
    std::size_t logSize = 0;
    // Where the copies parted: versions and change-log entries they share.
    std::size_t commonVersions = 0;
    std::size_t commonEntries = 0;

    // Nothing to change and nothing to ask: the other copy holds no change this list lacks.
    bool isEmpty() const { return changes.empty() && !raisesCounter; }
};

// Finds the common point of this list and the other copy and works out the merge. Reads the
// stored versions only: settle a pending row first. Throws CorvantisError
// "<file name> is not a copy of this list." when the copies share no version and no change (or
// not the same fields); otherFileName names the other copy in that message.
Plan Prepare(const DataTable& mine, const DataTable& other, const QString& otherFileName);

// What a merge changed: tasks added, tasks whose values changed, tasks deleted.
struct Outcome {
    int added = 0;
    int edited = 0;
    int deleted = 0;
};

// Makes the planned changes with one choice per conflict, in one DataTable::applyChanges call
// (so an undo history that groups a command's changes takes the merge as one step), after
// raising the ID counter to the larger of both. Settles the pending row first; throws
// CorvantisError when the list changed since Prepare, or when the table refuses a change (the
// changes before it stay made, as applyChanges leaves them).
Outcome Apply(DataTable& table, const Plan& plan, const MergeChoices& choices);

// The outline through the changes Apply makes (counter: the plan's): a ParentID the other copy
// wrote follows its task to the ID it takes here, and a task whose parent the merge deletes, or
// an added one whose parent is not here, goes to the top level (changes added for the tasks the
// merge leaves as they are). The rewritten values go into `made`.
void KeepOutline(const DataTable& table, std::int64_t counter,
                 std::vector<DataTable::RowChange>& changes, std::deque<RowData>& made);

} // namespace ListMerge
