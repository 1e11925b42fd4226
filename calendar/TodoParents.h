#pragma once

#include <QString>

typedef struct icalcomponent_impl icalcomponent;

// A to-do's parent, as RFC 5545 tells it: RELATED-TO with RELTYPE=PARENT, or without RELTYPE
// (PARENT is its default), naming the parent's UID. A task's ParentID names its parent within
// its list; on a calendar the parent is named by its UID. X-CORVANTIS-PARENT-ID, which earlier
// versions wrote, is still read (by VTodoMapping) and taken away when a to-do is written.
namespace TodoParents {

// The UID a to-do's parent has; empty when the to-do names none.
QString ParentUid(const icalcomponent* vtodo);

// Writes a task's parent over the to-do: RELATED-TO;RELTYPE=PARENT:uid in place of the parent it
// names (a to-do already naming that UID is left as it is); an empty uid takes the parent away.
// Returns whether the to-do changed.
bool SetParentUid(icalcomponent* vtodo, const QString& uid);

} // namespace TodoParents
