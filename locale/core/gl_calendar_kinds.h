// The calendar names a locale's LC_TIME data may give, and their numbers.
// The names keep the line feed that closes the calendar line of the file:
// the reader compares the line with it, and the query returns it.
#pragma once

#include <stdint.h>

#include "locale/core/gl_category_data.h"
#include "platform/api.h"

TV_BEGIN_C

enum {
  GL_CAL_NONE = 0,  // the null LC_TIME category
  GL_CAL_GREGORIAN = 1,
  GL_CAL_HEBREW = 2,
  GL_CAL_ISLAMIC = 3,
  GL_CAL_ARABIC = 4,  // named, but without conversions
};

typedef struct GlCalendarKind {
  const char *name;     // NULL closes the table
  const GlWchar *wname;
  int32_t number;
} GlCalendarKind;

extern const GlCalendarKind _gl_calendar_kinds[];

// The table entry of a calendar number, or NULL.
const GlCalendarKind *_gl_calendar_by_number(int32_t number);

TV_END_C
