#pragma once

#include <QStringList>

// One action of a list's life timed through the real main window (offscreen), in a process of
// its own: the action's name, its wall and processor milliseconds until the grid has painted,
// printed one line each. args: "start [FILE]" (FILE named on the command line) | "open FILE" |
// "sort FILE [ORDER]" | "show FILE PRESET" | "import TARGET SOURCE VIEW" | "batch TARGET VIEW
// LINES" | "save FILE" | "edits FILE" | "history FILE" | "deleted FILE" | "fold FILE" (Collapse
// All, then Expand All); VIEW is "id" (as Open shows a list) or "sorted" (by Task, only the tasks
// not started); ORDER a "Sort by" choice (Task unless given), PRESET an "Only Show" choice. The
// history windows are timed until they have painted.
int RunWindowCase(const QStringList& args);
