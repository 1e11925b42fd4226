#pragma once

#include "model/FieldDef.h"

#include <QString>

class DataTable;

// The task table of one list: a DataTable named "cdsTasks" with the task fields and the nine
// named orders.
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

const IndexList& Indexes();

// Names the table and gives it the task orders; the fields come from createEmpty or a load.
void Configure(DataTable& table);

// A task table created empty with the 25 task fields.
void CreateEmpty(DataTable& table);

// The values every new task starts with: "Not Started", created today, progress 0.
void ApplyNewRowDefaults(DataTable& table);

} // namespace TaskTable
