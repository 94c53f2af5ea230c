// The small services around a locale's LC_TIME data: copies of its names,
// its formats by code, its era count, and the century rules that complete
// a two-digit year against today (from the currdate external function, or
// a date pinned for the whole process).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

typedef void *(*GlTimeInfoAlloc)(size_t size);

// Kinds: 1 day names, 2 abbreviated day names, 3 month names, 4 abbreviated
// month names, 5 era names, 6 second era names, 7 alternate digits, 8 am/pm.
// Stores a new array of new copies (the caller frees both) and the count:
// 0, or -1 (a kind outside 1-8 leaves the outputs untouched; an empty kind
// or a failed array stores NULL and 0). A copy that cannot be allocated
// stays NULL with error 2.
TV_API int32_t gl_mbstimeinfo_ext(GlLocale *loc, int32_t kind, char ***array, int32_t *count,
                                  GlTimeInfoAlloc alloc);
TV_API int32_t gl_mbstimeinfo(GlLocale *loc, int32_t kind, char ***array, int32_t *count);
// The locale's format for code 0 (%c), '=' (%x), '>' (%X), '?' (%r), 'C'
// (%Ec), 'D' (%Ex), 'E' (%EX); any other code gives "".
TV_API const char *gl_get_ltime_fmts(GlLocale *loc, int32_t code);
TV_API int32_t gl_get_era_count(GlLocale *loc);

// Centuries: month from 1, day, year as written; rule R, C, F or P. The
// century (to be multiplied by 100), or -1 with error 31, 30 or 27.
TV_API int32_t gl_getcentury(GlLocale *loc, int32_t month, int32_t day, int32_t year,
                             int32_t rule);
// mode 2 counts years from 1911.
TV_API int32_t gl_getcenturyloc(GlLocale *loc, int32_t month, int32_t day, int32_t year,
                                int32_t rule, int32_t mode);
TV_API int32_t gl_getcentury_internal(GlLocale *loc, int32_t month, int32_t day, int32_t year,
                                      int32_t today_month, int32_t today_day,
                                      int32_t today_year, int32_t rule);
TV_API int32_t gl_getcenturyloc_internal(GlLocale *loc, int32_t month, int32_t day,
                                         int32_t year, int32_t today_month, int32_t today_day,
                                         int32_t today_year, int32_t rule, int32_t mode);
// Pins today (note the order: day, month, year) for every locale; 0.
TV_API int32_t gl_set_current_time(int32_t day, int32_t month, int32_t year);
TV_API int32_t gl_reset_time(void);

// Days of a gregorian date, 1 January 1900 being day 1; 0/0/0 counts as
// INT32_MIN. 0, or -1 with *error 31, 30 or 27.
int32_t _gl_date_to_days(int32_t month, int32_t day, int32_t year, int32_t *days,
                         int32_t *error);
// Today as {month, day, year}: the currdate external function, then the
// pinned date when one is set.
void _gl_today(int32_t *month, int32_t *day, int32_t *year);

TV_END_C
