#pragma once

#include "model/FieldDef.h"

#include <QString>
#include <QStringList>

// The task record: the 25 fields of one task and the words of its vocabularies.
namespace TaskRecord {

// Field names, spelled as every list file spells them.
inline const QString ID = QStringLiteral("ID");
inline const QString Task = QStringLiteral("Task");
inline const QString Status = QStringLiteral("Status");
inline const QString Priority = QStringLiteral("Priority");
inline const QString Progress = QStringLiteral("Progress");
inline const QString Difficulty = QStringLiteral("Difficulty");
inline const QString CreatedDate = QStringLiteral("CreatedDate");
inline const QString CompletedDate = QStringLiteral("CompletedDate");
inline const QString LastActioned = QStringLiteral("LastActioned");
inline const QString StartDate = QStringLiteral("StartDate");
inline const QString Time = QStringLiteral("Time");
inline const QString ParentID = QStringLiteral("ParentID");
inline const QString Bookmarked = QStringLiteral("Bookmarked");
inline const QString AssignedTo = QStringLiteral("AssignedTo");
inline const QString DueDate = QStringLiteral("DueDate");
inline const QString GroupNo = QStringLiteral("GroupNo");
inline const QString Comments = QStringLiteral("Comments");
inline const QString Owner = QStringLiteral("Owner");
inline const QString Details = QStringLiteral("Details");
inline const QString Category = QStringLiteral("Category");
inline const QString RelatedFile = QStringLiteral("RelatedFile");
inline const QString LinkedList = QStringLiteral("LinkedList");
inline const QString Properties = QStringLiteral("Properties");
inline const QString Points = QStringLiteral("Points");
inline const QString URL = QStringLiteral("URL");

// The 25 fields of a list made by New, in table and file order.
const FieldList& Fields();

// Status words.
inline const QString NotStarted = QStringLiteral("Not Started");
inline const QString Paused = QStringLiteral("Paused");
inline const QString InProgress = QStringLiteral("In progress");
inline const QString Complete = QStringLiteral("Complete");
inline const QString Cancelled = QStringLiteral("Cancelled");

// Priority words.
inline const QString Normal = QStringLiteral("Normal");
inline const QString Urgent = QStringLiteral("Urgent");
inline const QString High = QStringLiteral("High");
inline const QString Low = QStringLiteral("Low");

// Difficulty words ("Normal" above is the Details window's middle level).
inline const QString Easy = QStringLiteral("Easy");
inline const QString Moderate = QStringLiteral("Moderate");
inline const QString Hard = QStringLiteral("Hard");

// The choices each place offers, in its order.
const QStringList& StatusChoices(); // grid and Details window
const QStringList& GridPriorityChoices();
const QStringList& QuickAddPriorityChoices();
const QStringList& DetailsPriorityChoices();
const QStringList& GridDifficultyChoices();
const QStringList& QuickAddDifficultyChoices();
const QStringList& DetailsDifficultyChoices();

} // namespace TaskRecord
