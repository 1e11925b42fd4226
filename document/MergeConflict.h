#pragma once

// The conflict record of a merge lives with the calendar sync, the lowest layer that asks one;
// this name stays for the windows and merges that include it from here.
#include "sync/MergeConflict.h"
