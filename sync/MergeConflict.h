#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// One question a merge of two copies of a task asks the user: a field both copies changed to
// different values since their common point, or a task one copy deleted while the other edited
// it. Everything is display text, so the conflicts window shows the lines of a list merge and of
// a calendar sync alike.
struct MergeConflict {
    enum class Kind {
        Field,           // `field` changed on both sides to different values
        DeletedVsEdited, // one side deleted the task, the other edited it
    };
    // Whose outcome a conflict takes.
    enum class Side { ThisCopy, OtherCopy };

    Kind kind = Kind::Field;
    bool deletedInThisCopy = false; // DeletedVsEdited: which copy deleted the task
    std::int32_t taskId = 0;
    QString task;  // the task's text
    QString field; // the field's name; empty for a deleted task
    // The value at the common point and in each copy; for a deleted task, "Deleted" on one side
    // and the fields the other side changed on the other.
    QString base;
    QString thisCopy;
    QString otherCopy;
};

// One choice per conflict, in the order of the conflicts.
using MergeChoices = std::vector<MergeConflict::Side>;
