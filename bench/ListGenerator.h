#pragma once

#include <QtGlobal>

class DataTable;

// Realistic task lists for the benchmark: a list as a user builds it over months. Every task is
// added once and then edited up to four times (one to five versions), some are deleted, and the
// change log records it all in the order it happened. Texts run from 20 to 120 characters with
// tabs, the five escaped characters and non-ASCII letters; some tasks carry comments, multi-line
// details, file paths and web addresses.
namespace ListGenerator {

// Flat: no task stands under another. Outline: the same tasks, a fifth of them subtasks of an
// earlier task that is never deleted, on up to six levels.
enum class Shape { Flat, Outline };

// Makes `table` such a list of `tasks` tasks, as if loaded from its file (ID read-only). With
// `repeatEvery` above 0, every task whose ID it divides repeats: a recurrence rule in its
// Properties (daily to yearly, some with an end, some counted from completion) and a due date.
void Generate(DataTable& table, int tasks, quint32 seed = 1, int repeatEvery = 0,
              Shape shape = Shape::Flat);

} // namespace ListGenerator
