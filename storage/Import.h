#pragma once

#include "model/DataTable.h"

#include <QString>
#include <QStringList>

// Adding many tasks to a list at once. Both commands add their tasks as one batch of the
// target's Append and Post (DataTable::appendRows), so every added task gets the new-row
// defaults (the target's after-insert hook, which also marks the list unsaved) and a fresh ID
// from the target's counter, while a view of the list is told once. Neither saves the list.
// Both return false when `progress` stopped them; the target is then as it was.
namespace Import {

// Copies every visible task of the list file fileName into target, in the order of the tasks'
// current versions in the file. A file that starts as an iCalendar text gives one task per
// to-do instead, in the order they stand, each through CalendarFile::Read (a UID the list has
// already is replaced by a new one). Each field of the file is written into the target's field of
// the same name through its text form; a field the target lacks or refuses is skipped without
// a word. The tasks keep their outline: a ParentID names the new ID of the imported task it
// named, and one naming a task the file does not hold (missing or deleted) is dropped. The
// target ends on the last imported task.
//
// Throws CorvantisError when the file cannot be read (the reader's messages; the file's table
// has no name, so an empty file gives "Missing data provider or data packet" without a prefix),
// and then the target is untouched. A failing Post throws the target's message: tasks stored
// before stay, the failing one stays pending, the rest are not added.
bool ImportTasks(DataTable& target, const QString& fileName,
                 const DataTable::Progress& progress = {});

// The lines of a text box's text: split at every line break ("\r\n", "\n", "\r" or U+2029).
// A final line break ends the last line, so it starts no new (empty) one.
QStringList TextLines(const QString& text);

// Appends one task per line of text, from the first line to the last, with the line as its
// Task (the table cuts it to the field's width and drops trailing blanks). Lines with no
// character at all are skipped; a line of blanks is used whole. A line indented deeper (by tabs,
// or by spaces two to a level) than a line above it becomes a subtask of the nearest such line,
// without its indent (an outline pasted from any text editor); any other line is used whole.
//
// Throws CorvantisError when a Post fails: tasks stored before stay, the failing one stays
// pending, the remaining lines are not added. A target without a Task field fails before any
// task is added.
bool BatchInsert(DataTable& target, const QString& text, const DataTable::Progress& progress = {});

} // namespace Import
