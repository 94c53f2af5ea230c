// What the DATE and DATETIME modules share about the thread's DBTODAY
// state (flags and offset in the thread record).
#pragma once

#include "base/thread_state.h"

// Evaluates DBTODAY for the thread unless that was done or is under way.
void dbtoday_ensure(ThreadRuntimeRecord* tr);
// While DBTODAY is being read, rmdyjul records the century, year, month
// and day of each date it builds in the thread record.
void dbtoday_record_parts(int year, int month, int day);
