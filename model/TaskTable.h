#pragma once

#include "model/FieldDef.h"

#include <QString>

class DataTable;

// The task table of one list: a DataTable named "cdsTasks" with the task fields, the named
// orders and the values worked out from the fields (how a task repeats, from its Properties).
namespace TaskTable {

inline const QString Name = QStringLiteral("cdsTasks");

inline const QString IndexID = QStringLiteral("cdsTasksIndexID");
inline const QString IndexTaskName = QStringLiteral("cdsTasksIndexTaskName");
inline const QString IndexLastActioned = QStringLiteral("cdsTasksIndexLastActioned");
inline const QString IndexStatus = QStringLiteral("cdsTasksStatus");
inline const QString IndexDifficulty = QStringLiteral("cdsTasksDifficulty");
inline const QString IndexPriority = QStringLiteral("cdsTasksPriority");
inline const QString IndexCategory = QStringLiteral("cdsTasksCategory");
inline const QString IndexProgress = QStringLiteral("cdsTasksProgress");
inline const QString IndexGroupNo = QStringLiteral("cdsTasksGroupNo");
inline const QString IndexRepeat = QStringLiteral("cdsTasksRepeat");

// How a task repeats, as a person would say it (Recurrence::ColumnText of its Properties).
inline const QString Repeat = QStringLiteral("Repeat");

const IndexList& Indexes();
const DerivedFieldList& DerivedFields();

// Names the table and gives it the task orders and derived values; the fields come from
// createEmpty or a load.
void Configure(DataTable& table);

// A task table created empty with the 25 task fields.
void CreateEmpty(DataTable& table);

// The values every new task starts with: "Not Started", created today, progress 0.
void ApplyNewRowDefaults(DataTable& table);

} // namespace TaskTable
