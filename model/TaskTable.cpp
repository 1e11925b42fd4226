#include "model/TaskTable.h"

#include "base/DatesAndClock.h"
#include "model/DataTable.h"
#include "model/Recurrence.h"
#include "model/TaskRecord.h"

namespace TaskTable {

const IndexList& Indexes() {
    using namespace TaskRecord;
    static const IndexList indexes{
        {IndexID, ID, false, false},
        {IndexTaskName, Task, false, false},
        {IndexLastActioned, LastActioned, true, false},
        {IndexStatus, Status, false, true},
        {IndexDifficulty, Difficulty, false, false},
        {IndexPriority, Priority, false, false},
        {IndexCategory, Category, false, false},
        {IndexProgress, Progress, true, false},
        {IndexGroupNo, GroupNo, false, false},
        {IndexRepeat, Repeat, false, false},
    };
    return indexes;
}

const DerivedFieldList& DerivedFields() {
    static const DerivedFieldList derived{
        {Repeat, TaskRecord::Properties, &Recurrence::ColumnText, &Recurrence::SortKey},
    };
    return derived;
}

void Configure(DataTable& table) {
    table.setObjectName(Name);
    table.setIndexDefs(Indexes());
    table.setDerivedFields(DerivedFields());
    table.setKeepHistory(true);
    // A task whose ParentID names another task is its subtask; a complete one counts as done.
    table.setOutlineFields(TaskRecord::ParentID, TaskRecord::Status, TaskRecord::Complete);
}

void CreateEmpty(DataTable& table) {
    Configure(table);
    table.createEmpty(TaskRecord::Fields());
}

void ApplyNewRowDefaults(DataTable& table) {
    table.setString(TaskRecord::Status, TaskRecord::NotStarted);
    table.setDateTime(TaskRecord::CreatedDate, uGeneral::Now());
    table.setInteger(TaskRecord::Progress, 0);
}

} // namespace TaskTable
