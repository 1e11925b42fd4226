#pragma once

#include <QString>

// The same generated list flat and as an outline (a fifth of its tasks subtasks, on up to six
// levels), side by side: load, ID order, filters, sorts, Collapse All and Expand All, one task
// folded, one edit; with windowRuns > 0 also Open, the first sort and folding through the main
// window in fresh processes. Prints a table.
void MeasureOutline(int tasks, int runs, int windowRuns, const QString& folder);
