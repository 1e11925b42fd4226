#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// One question a calendar sync asks: a field that this list and the server both changed, to
// different values, since the last sync; or a task one side deleted while the other edited it.
// Everything is display text, the same lines a merge of two copies of a list shows (field for
// field the lines of the list merge's conflicts window, this list as "this copy" and the server
// as "the other copy").
struct SyncConflict {
    enum class Kind {
        Field,           // `field` changed on both sides to different values
        DeletedVsEdited, // one side deleted the task, the other edited it
    };
    // Whose outcome a conflict takes.
    enum class Side { ThisList, Server };

    Kind kind = Kind::Field;
    bool deletedHere = false; // DeletedVsEdited: this list deleted the task (else the server)
    std::int32_t taskId = 0;  // 0 for a task this list does not have (deleted here)
    QString task;             // the task's text
    QString field;            // empty for a deleted task
    QString base;             // the value at the last sync
    QString thisList;         // "Deleted", or the value here
    QString server;           // "Deleted", or the value on the server
};

// One choice per conflict, in the order of the conflicts.
using SyncChoices = std::vector<SyncConflict::Side>;
