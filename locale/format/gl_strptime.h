// Time parsing: a date and time read out of text by a strptime-like format
// under the locale's LC_TIME conventions (day and month names, am/pm
// strings, the locale's formats, eras and alternate digits, the locale's
// calendar). The caller's record gives the defaults for every field the
// format does not set and receives the result; on failure it is unchanged.
//
// The parse runs in stages: the engine walks the format over the wide text
// and records what it matched in a GlParsedTime; the values are applied to
// a working copy of the caller's record (hours, months, years by their
// rules); the working record is converted from the locale's calendar to
// gregorian; the gregorian date is validated and its weekday and day of the
// year completed; the result is copied back.
#pragma once

#include <stdint.h>

#include "locale/core/gl_ext.h"
#include "locale/core/gl_locale.h"
#include "locale/format/gl_time.h"
#include "platform/api.h"

TV_BEGIN_C

// What the engine matched; every field 0 when a parse starts.
typedef struct GlParsedTime {
  int32_t era_index;   // index into the locale's era list
  int32_t era_year;    // year within the era
  int32_t century;     // 20 for the years 2000-2099
  int32_t year2;       // two-digit year
  int32_t year;        // year - 1900
  int32_t hour12;      // 1-12
  int32_t pm;          // 0 first am/pm string, 1 the second
  int32_t hour24;      // 0-23
  int32_t minute;
  int32_t second;      // 0-60
  int32_t fraction;    // microseconds
  int32_t yday;        // from 0
  int32_t mday;
  int32_t wday;        // 0 = Sunday
  int32_t month;       // from 0
  int32_t month_name;  // index of the matched month name
  int32_t year_kind;   // the last year conversion: 0 none, 1 full, 2 century/two-digit, 3 era
  int32_t hour_kind;   // the last hour conversion: 0 none, 1 24-hour, 2 12-hour
  int32_t flags;       // GL_PT_ bits of the fields set
} GlParsedTime;

enum {
  GL_PT_FRACTION = 0x0001,
  GL_PT_SECOND = 0x0002,
  GL_PT_MINUTE = 0x0004,
  GL_PT_HOUR12 = 0x0008,
  GL_PT_AMPM = 0x0010,
  GL_PT_HOUR24 = 0x0020,
  GL_PT_MDAY = 0x0040,
  GL_PT_WDAY = 0x0080,
  GL_PT_YDAY = 0x0100,
  GL_PT_MONTH = 0x0200,
  GL_PT_MONTH_NAME = 0x0400,
  GL_PT_ERA = 0x0800,
  GL_PT_ERA_YEAR = 0x1000,
  GL_PT_CENTURY = 0x2000,
  GL_PT_YEAR2 = 0x4000,
  GL_PT_YEAR = 0x8000,
};

// The position in text after the parsed part, or NULL (the locale's error
// number tells why; rec untouched). century: the letter of the two-digit
// year rule ('R', 'C', 'F' or 'P').
TV_API char *gl_mbsptime(GlLocale *loc, const char *text, const char *format, GlTimeRecord *rec,
                         int32_t century);
TV_API GlWchar *gl_wcsptime(GlLocale *loc, const GlWchar *text, const GlWchar *format,
                            GlTimeRecord *rec, int32_t century);
// The same with a "today" for the two-digit-year rule, used in place of the
// current date when its month, day and year are all nonzero.
TV_API char *gl_mbsptime_internal(GlLocale *loc, const char *text, const char *format,
                                  GlTimeRecord *rec, GlCurrDate today, int32_t century);
TV_API GlWchar *gl_wcsptime_internal(GlLocale *loc, const GlWchar *text, const GlWchar *format,
                                     GlTimeRecord *rec, GlCurrDate today, int32_t century);

// The engine alone: the text position after the match, or NULL.
const GlWchar *_gl_ptime_engine(GlLocale *loc, const GlWchar *text, const GlWchar *format,
                                GlParsedTime *pt, int32_t century);
// Applies parsed values onto the working record: 0, or -1.
int32_t _gl_ptime_apply(GlLocale *loc, GlParsedTime *pt, GlTimeFields *work, GlCurrDate today,
                        int32_t century);
// Validates the gregorian result and completes weekday and day of the
// year: 0, or -1.
int32_t _gl_ptime_validate(GlLocale *loc, const GlParsedTime *pt, GlTimeFields *out);
// A number in the locale's alternate digits at *cursor (longest digit
// first); width <= 0: no limit. 0, or -1.
int32_t _gl_ptime_alt_number(GlLocale *loc, const GlWchar **cursor, int32_t width,
                             int32_t precision, int32_t *value);

TV_END_C
