// The clock of the SQL data types: local calendar fields of a 64-bit time,
// and the current date and time as a DATETIME YEAR TO FRACTION(5) value.
#pragma once

#include <stdint.h>
#include <time.h>

#include "platform/api.h"
#include "sqltypes/decimal.h"

TV_BEGIN_C

// Copies the nine calendar fields of the local time of *seconds into *out
// (the fields past the ninth are left as the conversion fills them). When
// the time cannot be converted all nine are -1 and *out is still returned;
// null when either pointer is null.
TV_API struct tm* zel_localtime(const int64_t* seconds, struct tm* out);

// The current local date and time as the Decimal of a YEAR TO FRACTION(5)
// value: century, year in century, month, day, hour, minute, second, then
// the milliseconds as the first three fraction digits. The thread's
// DBTODAY offset is applied (DBTODAY is read on the thread's first
// request); a fixed current time in the thread record stands in for the
// clock. 0, or -1 when the clock cannot be read.
int dtgetcurrent(Decimal* out);

TV_END_C
