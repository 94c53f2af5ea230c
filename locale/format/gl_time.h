// The broken-down date and time record that crosses the locale library's
// boundary, and the working copy the formatting and parsing engines use.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

// A date and time as callers hand it in. Nothing checks the ranges when the
// record is stored or copied; each conversion checks the fields it reads.
typedef struct GlTimeRecord {
  int32_t fraction;       // microseconds, 0-999999 (error 23 outside)
  int32_t second;         // 0-60 (24)
  int32_t minute;         // 0-59 (25)
  int32_t hour;           // 0-23 (26)
  int32_t mday;           // 1-99 (27)
  int32_t month;          // from 0 in the record's calendar (30)
  int32_t year;           // year - 1900, -1900 to 8099 (31)
  int32_t wday;           // 0 = Sunday (28)
  int32_t yday;           // from 0, 0-365 (29)
  int32_t isdst;          // as localtime gives it; never read
  int64_t reserved_wide;  // carried unchanged
  int32_t reserved;       // carried unchanged
} GlTimeRecord;

// The engines' working record: the same fields with month_name, the index
// into the locale's month-name lists, after month.
typedef struct GlTimeFields {
  int32_t fraction;
  int32_t second;
  int32_t minute;
  int32_t hour;
  int32_t mday;
  int32_t month;
  int32_t month_name;
  int32_t year;
  int32_t wday;
  int32_t yday;
  int32_t isdst;
  int64_t reserved_wide;
  int32_t reserved;
} GlTimeFields;

// Plain field moves; nothing is tested or normalised.
TV_API void _gl_time_to_fields(const GlTimeRecord *rec, int32_t month_name, GlTimeFields *f);
// Copies every field but month_name back.
TV_API void _gl_fields_to_time(const GlTimeFields *f, GlTimeRecord *rec);

TV_END_C
