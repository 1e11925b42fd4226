#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

typedef struct icalcomponent_impl icalcomponent;

// A repeating task's series and an iCalendar to-do's, both ways (see model/Recurrence): the
// "RRULE=" line of the task's Properties is the to-do's RRULE, and "REPEAT-FROM=COMPLETION" its
// X-CORVANTIS-REPEAT-FROM:COMPLETION (other clients ignore it; another Corvantis honours it).
//
// Other clients complete an occurrence of a series in one of two ways: they move the to-do's DUE
// and DTSTART on to the next occurrence (read here as any edit is), or they add an occurrence of
// their own to the object (a to-do with the series' UID and a RECURRENCE-ID): one for the
// occurrence done (STATUS:COMPLETED), and one that carries the series on from the next
// (RANGE=THISANDFUTURE). Such an object is read as its series moved on to that open occurrence;
// the occurrences are no tasks of their own.
namespace RecurrenceMapping {

// The Properties text with the to-do's series: its RRULE line as the to-do's RRULE (kept in the
// text's own spelling while libical reads both as the same rule; removed when the to-do has
// none, unless the text's rule is one libical cannot read, which was never sent as an RRULE),
// its REPEAT-FROM line as the to-do's X-CORVANTIS-REPEAT-FROM.
QString WithSeriesOf(const icalcomponent* vtodo, const QString& properties);

// Writes the series of a task's Properties over the to-do: its RRULE (left as another client
// wrote it while it is the same rule) and X-CORVANTIS-REPEAT-FROM. Returns whether it changed;
// changed, when given, gets the names of the properties rewritten or removed.
bool WriteSeries(icalcomponent* vtodo, const QString& properties,
                 QList<QByteArray>* changed = nullptr);

// The series of a calendar object moved on by the occurrences other clients added: a copy of the
// master to-do with the DUE and DTSTART of the latest open occurrence that starts after the
// master (the caller frees it), or nullptr when none does or the master repeats no more.
icalcomponent* MovedOn(const icalcomponent* calendar, const icalcomponent* master);

// Whether a to-do is an occurrence another client copied out of a series as a to-do of its own
// when it completed it (python3-caldav does by default): done, without a rule, its Properties
// text (as X-CORVANTIS-PROPERTIES carried it) holding the series' rule under the series' UID,
// not the to-do's. The series holds that occurrence in its history already.
bool IsCopiedOccurrence(const icalcomponent* vtodo, const QString& properties);

// Removes the occurrences of the object that start before the master to-do does (done or moved
// past; the task's history keeps them). Returns whether any was removed.
bool DropPassedOccurrences(icalcomponent* calendar, const icalcomponent* master);

} // namespace RecurrenceMapping
