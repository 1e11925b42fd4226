#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// What the calendar sync needs of a list and of the to-do mapping. The sync itself knows nothing
// of fields or of iCalendar: it compares values, merges them field by field and moves calendar
// objects. An implementation joins a list document's task table with the VTODO mapping:
//
// - A task's UID is a line of its Properties; a task without one (or one that a copy of another
//   task took along) derives one from what every copy of the list holds of it, so that the same
//   task gets the same UID again, on every machine (a push repeated after an interruption, or
//   made by another copy of the list, then finds the task's resource on the server instead of
//   making a second one). Such a UID is written into the task once the task is synced.
// - Values are texts, one per synced field, in the order of fieldNames(): the sync only compares
//   them, takes them from one side or the other, and shows them in the conflicts window.
class SyncedList {
public:
    using Key = std::int64_t; // a task's identity in the list (its row), stable during a sync
    using Values = QStringList;

    struct Task {
        Key key = -1;
        std::int32_t id = 0;    // for the conflicts window
        QString text;           // the task's text, for the conflicts window
        QString uid;            // never empty, and no two tasks share one
        bool uidWritten = true; // false: derived, not yet written in the task (SetUid does)
        Values values;          // as they are once the UID is written
    };
    struct Change {
        enum Kind {
            Add,     // a new task with `uid` and `values`
            Edit,    // task `key` takes `values`
            Delete,  // task `key` goes
            SetUid,  // task `key` is given `uid` (its Properties line)
            Restore, // the deleted task `key` (see gone()) comes back with `values`
        };
        Kind kind = Add;
        Key key = -1;
        QString uid;
        Values values;
    };

    virtual ~SyncedList() = default;

    // The synced fields' names, in the order of every Values; the first is the task's text.
    virtual QStringList fieldNames() const = 0;
    // Whether the list holds changes its file does not (the sync's state waits for the save).
    virtual bool isUnsaved() const = 0;
    // The list's stored tasks as they stand (a pending edit is settled first).
    virtual std::vector<Task> tasks() = 0;
    // The tasks deleted from the list and not back, each as it was last (with the UID it names
    // or derives); their keys are for a Restore only.
    virtual std::vector<Task> gone() = 0;

    // The UID and values of the to-do in a calendar object; false when it holds none (an event
    // in a calendar of mixed components, or text that is not iCalendar): the sync leaves it be.
    virtual bool read(const QByteArray& object, QString& uid, Values& values) const = 0;
    // The calendar object of task `key` as it stands in the list: lastCopy (the object as last
    // synced; empty for a task new to the server) with the task written over its to-do, so what
    // other clients wrote and this list does not know stays as it was.
    virtual QByteArray write(const QByteArray& lastCopy, Key key, const QString& uid) const = 0;

    // Makes the changes in order, as ordinary changes of the list (one undo step for the lot).
    // Returns the keys of the tasks the adds made, in order. Throws CorvantisError when the list
    // refuses a change; the changes before it stay made.
    virtual std::vector<Key> apply(const std::vector<Change>& changes) = 0;
};
