#pragma once

#include "model/FieldDef.h"
#include "model/FieldValues.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

class RowData;
typedef struct icalcomponent_impl icalcomponent;

// One task and one iCalendar to-do (a VTODO component, RFC 5545), both ways, for a list with any
// set of fields (a field the list lacks is skipped). What is mapped:
//
//   Task SUMMARY, Details DESCRIPTION, Comments COMMENT, Category CATEGORIES, Progress
//   PERCENT-COMPLETE, DueDate DUE and StartDate DTSTART (dates), CreatedDate CREATED,
//   LastActioned LAST-MODIFIED, CompletedDate COMPLETED (UTC times: the day's local noon, read
//   back as the local day of the moment), Status STATUS, Priority PRIORITY, and every other field
//   but ID as an X-CORVANTIS-* property.
//
// Status: Not Started NEEDS-ACTION, In progress and Paused IN-PROCESS, Complete COMPLETED,
// Cancelled CANCELLED. Priority: High and Urgent 1, Normal 5, Low 9; read back 1 to 4 High, 5
// Normal, 6 to 9 Low, and 0 (the standard's "undefined") or none as no priority. A word the
// standard value cannot tell (Paused, Urgent, a word of no vocabulary) also goes into
// X-CORVANTIS-STATUS or X-CORVANTIS-PRIORITY, which is believed only while the standard value is
// still the one written for it: another client that completes a paused task makes it Complete.
// An empty Status or Priority writes nothing; a to-do without STATUS reads as Not Started. Empty
// text writes nothing too, and reads back as the empty field. Line breaks travel as iCalendar's
// one kind: a CR LF reads back as LF (a memo field's as CR LF, as the list keeps its lines), and a
// task and its to-do that differ only there are the same. The blanks and tabs at either end of a
// text are kept both ways (libical's reader drops them: CalendarFile gives them back).
//
// Categories: the Category cell holds one category, or several joined by ", ". A to-do's several
// categories are read so, and written back as several while the to-do holds several; one
// category is written as one, its commas escaped.
//
// Assigned To filled by quick add with the local login name is this machine's default, not the
// user's word: it is not published (written as nothing, compared as empty).
//
// The task's UID lives in a line of its Properties ("X-Corvantis-UID=<uid>"); the whole
// Properties text also travels as X-CORVANTIS-PROPERTIES, so other lines stay as they were. A
// repeating task's "RRULE=" and "REPEAT-FROM=" lines are the to-do's RRULE and
// X-CORVANTIS-REPEAT-FROM (calendar/RecurrenceMapping).
namespace VTodoMapping {

// The Properties line that names a task's UID.
inline const QString UidName = QStringLiteral("X-Corvantis-UID");

// The UID a Properties text names; empty when it names none.
QString UidOf(const QString& properties);
// The Properties text naming uid: the UID line's value replaced, or a line added at the end in
// the text's own line breaks; every other character stays as it was.
QString WithUid(const QString& properties, const QString& uid);
// The Properties text a to-do carries as it was written (X-CORVANTIS-PROPERTIES), without the
// to-do's own series and UID put in.
QString WrittenProperties(const icalcomponent* vtodo);
// A UID derived from a list's identity (its file's absolute name) and a task's ID: the same
// task of the same list gets the same UID every time. An empty identity gives a random UID.
QString DerivedUid(const QString& listIdentity, std::int32_t id);
// The same from a task's identity of any form (what every copy of a list holds of the task).
QString DerivedUid(const QString& listIdentity, const QString& taskIdentity);

// One field's value as a to-do gives it, in the stored form of the list's field (empty: the
// to-do has nothing for it).
struct FieldValue {
    int field = -1;
    FieldValues::Stored value;
};
using TaskValues = std::vector<FieldValue>;

// Whether a field's text is this machine's own default that is not published (Assigned To
// holding the local login name).
bool IsPrivate(const QString& fieldName, const QString& text);

// What the to-do gives each mapped field of a list with these fields, in field order. A value
// the field refuses (a number out of its range) is left out. uid, when given, is the UID the
// task's Properties name instead of the to-do's own.
TaskValues Read(const icalcomponent* vtodo, const FieldList& fields,
                const std::optional<QString>& uid = std::nullopt);

// Writes the task (row, of a list with these fields) over the to-do in place; a new to-do
// (without properties) gets every value. A field whose value the to-do already gives is not
// touched, so a value written by another client stays in its own form (a priority of 2, a due
// time, a category list); a due or start date moved here keeps the to-do's time of day and zone.
// Nothing the mapping does not cover is touched (alarms, recurrence rules, RELATED-TO, other
// clients' X- properties). The UID becomes the one the task's Properties name; a to-do without
// one and a task naming none take fallbackUid (a random one when it is empty). Returns whether
// the to-do changed; a changed to-do gets DTSTAMP now, and so does a to-do that has none.
// changed, when given, gets the names (upper case) of the properties rewritten or removed.
bool Update(icalcomponent* vtodo, const FieldList& fields, const RowData& row,
            const QString& fallbackUid = QString(), QList<QByteArray>* changed = nullptr);

} // namespace VTodoMapping
