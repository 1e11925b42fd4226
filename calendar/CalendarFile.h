#pragma once

#include "calendar/VTodoMapping.h"
#include "model/FieldDef.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class DataTable;
class RowData;

// Whole iCalendar texts (VCALENDAR objects) of tasks: a list's tasks written as one calendar,
// the to-dos of a calendar read as tasks to add, and one calendar object of a CalDAV server with
// a task written over its to-do. Every to-do goes through VTodoMapping.
//
// Reading takes any bytes: a text that is not iCalendar, nests its components deeper than any
// calendar does, or holds a to-do libical cannot read is refused with a CorvantisError.
namespace CalendarFile {

// The largest calendar file read, as for a list file.
constexpr qint64 MaxFileSize = qint64(1) << 30;

// Whether bytes (the first few of a file will do) start an iCalendar text: "BEGIN:VCALENDAR"
// after an optional byte-order mark and blank lines, case ignored.
bool IsCalendar(const QByteArray& head);

// One to-do of a calendar as a task of a list.
struct Todo {
    QString uid;                     // the UID its Properties name
    VTodoMapping::TaskValues values; // in field order
    QString parentUid;               // of the to-do it stands under (RELATED-TO); empty: none
};

// The to-dos of a calendar, in the order they stand, each read for a list with these fields.
// A to-do whose UID is empty, among takenUids or taken by an earlier to-do gets a new random one,
// so no two tasks of a list share a UID. The occurrences of a recurring to-do that another
// client changed (those with RECURRENCE-ID) are not tasks of their own and are left out.
std::vector<Todo> Read(const QByteArray& bytes, const FieldList& fields,
                       QSet<QString> takenUids = {});

// Told how far reading has come, in bytes of all; answers false to stop it.
using Progress = std::function<bool(qint64 done, qint64 total)>;
// As Read, asking progress now and then; nothing when it answered false.
std::optional<std::vector<Todo>> Read(const QByteArray& bytes, const FieldList& fields,
                                      QSet<QString> takenUids, const Progress& progress);

// The task of one calendar object (a CalDAV resource): its to-do without RECURRENCE-ID, read for
// a list with these fields, its Properties naming the to-do's own UID. Nothing when the object
// holds no such to-do, one without a UID, or an occurrence another client copied out of a
// series when it completed it (the series' task keeps it: RecurrenceMapping). Throws
// CorvantisError, as Read does, for text that is not iCalendar or nests too deep.
std::optional<Todo> ReadObject(const QByteArray& object, const FieldList& fields);

// The UIDs the Properties of a list's stored tasks name.
QSet<QString> TaskUids(const DataTable& table);

// A calendar of the list's stored tasks, in the order of their current versions, one new to-do
// each. The list is not changed: a task whose Properties name no UID, or one an earlier task
// has, gets VTodoMapping::DerivedUid(listIdentity, its ID) for the export. A subtask names its
// parent's UID in RELATED-TO (one that keeps a parent the list lacks, that UID). A task with a
// last synced object (lastCopies, by UID: the sync's) is written over it as the sync writes it,
// so what other clients put on it goes along: the object's to-dos (a recurring one's changed
// occurrences too) and its time zones (once each).
QByteArray Write(const DataTable& table, const QString& listIdentity,
                 const QHash<QString, QByteArray>& lastCopies = {});

// A calendar object (the VCALENDAR a CalDAV server holds for one task) with the task, a row of
// a list with these fields, written over its to-do in place (VTodoMapping::Update; of a
// recurring to-do, over the to-do without RECURRENCE-ID): only the lines of the properties the
// task changes are rewritten, and every other byte of the object stays as it was. The to-do
// names parentUid as its parent (RELATED-TO; none when it is empty), not the task's ParentID,
// which is the list's own. An empty lastCopy gives a new object. Returns an empty array when the
// object holds the task as it is, so there is nothing to send.
QByteArray WithTask(const QByteArray& lastCopy, const FieldList& fields, const RowData& row,
                    const QString& fallbackUid, const QString& parentUid);

} // namespace CalendarFile
