#pragma once

#include "model/DataTable.h"
#include "model/TaskCommands.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// What a task-list view needs from outside itself: the program's secondary windows and the
// main window's commands. The main window fills it in; tests give fakes. An empty function
// means the service is not there (the command then does nothing).
struct TaskViewServices {
    // The Progress window: shown with a starting value; returns the value a button closed it
    // with, none when it was closed by its close box or Escape (the command then does nothing).
    std::function<std::optional<int>(int start)> askProgress;
    // The Date Select window: whether it was applied, the chosen entry (-1: none) and its date.
    std::function<TaskCommands::DateSelection()> askDate;
    // The Comments window over the table's current task (posts a pending edit afterwards).
    std::function<void(DataTable& table)> editComments;
    // The Details window over the table's current task (posts on OK); whether it closed with OK.
    std::function<bool(DataTable& table)> showDetails;
    // The URL window: the text of its URL box when it closed with OK.
    std::function<std::optional<QString>()> askUrl;
    // Opens a list file in a new tab without recording it among the recent lists.
    std::function<void(const QString& fileName)> openTaskList;
    // The category list as it stands now (the Categories window's lines).
    std::function<QStringList()> categoryLines;
    // The Task History window over a stored task: the version the user chose to restore.
    std::function<std::optional<std::uint32_t>(const DataTable& table, DataTable::RowId row)>
        showHistory;
    // The Repeat window over a task's Properties and due date: what OK set (none: Cancel).
    std::function<std::optional<TaskCommands::RepeatSetting>(const QString& properties,
                                                             const QDate& due)>
        askRepeat;
    // The Deleted Tasks window: the deleted versions the user chose to restore (none: nothing).
    std::function<std::vector<std::uint32_t>(const DataTable& table)> showDeletedTasks;
    // The Make Subtask Of window for a task: the task to put it under (-1: the top level), none
    // when it was cancelled.
    std::function<std::optional<DataTable::RowId>(const DataTable& table, DataTable::RowId row)>
        askParent;
};
