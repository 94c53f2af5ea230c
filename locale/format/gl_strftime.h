// Time formatting: a broken-down time to text by a strftime-like format
// under the locale's LC_TIME conventions (names, formats, calendar, eras and
// alternate digits). One engine works on wide characters; the multibyte
// entries convert the format, run it and convert the result back. The same
// engine, in expansion mode, computes an upper bound of what a format can
// produce instead of writing.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "locale/format/gl_time.h"
#include "platform/api.h"

TV_BEGIN_C

// Bytes stored before the terminator; 0 on failure (error number set) or for
// an empty result (error number 0); -1 when the format is not valid text of
// the locale. size counts the terminator. The record is copied back
// unchanged.
TV_API int32_t gl_mbsftime(GlLocale *loc, char *out, int32_t size, const char *format,
                           GlTimeRecord *rec);
// The same in interval mode: %d accepts 0 and negative days.
TV_API int32_t gl_mbsfinterval(GlLocale *loc, char *out, int32_t size, const char *format,
                               GlTimeRecord *rec);
// Wide characters stored before the terminator, 0 on failure.
TV_API int32_t gl_wcsftime(GlLocale *loc, GlWchar *out, int32_t size, const GlWchar *format,
                           GlTimeRecord *rec);
// Upper bound in bytes (characters for the wide form) of what the format can
// produce, terminator not counted; -1 when kind is not 1 or the format is
// not valid text. When a conversion fails the bound so far is returned and
// the error number tells the failure.
TV_API int32_t gl_mbsfmtexpand(GlLocale *loc, int32_t kind, const char *format);
TV_API int32_t gl_wcsfmtexpand(GlLocale *loc, int32_t kind, const GlWchar *format);

// The engine. mode 0 interval, 1 time. Either counter given: expansion mode
// (nothing written, bounds added to the counters).
int32_t _gl_wcsftime_internal(GlLocale *loc, GlWchar *out, int32_t capacity,
                              const GlWchar *format, GlTimeFields *fields, int32_t *chars,
                              int32_t *bytes, int32_t mode);
int32_t _gl_mbsftime_internal(GlLocale *loc, char *out, int32_t size, const char *format,
                              GlTimeFields *fields, int32_t *chars, int32_t *bytes,
                              int32_t mode);
// The multibyte string s as a newly allocated wide string (freed with
// _gl_free), trying 512, 1024, ... characters; NULL on failure.
GlWchar *_gl_mbstowcs_grow(GlLocale *loc, const char *s);

// Eras: 0 when the date (month from 1, full year) lies in the era, else -1.
int32_t _gl_era_contains(const GlEraRecord *era, int32_t day, int32_t month, int32_t year);
// The first era in list order that holds the date of the fields, or -1.
int32_t _gl_era_find(GlEraRecord *const *eras, int32_t count, const GlTimeFields *f);
// The year of the fields' date within era index (counted by anniversaries
// of the era's start date).
int32_t _gl_era_year(GlEraRecord *const *eras, int32_t index, const GlTimeFields *f);
// Writes v in the locale's alternate digits: 0, or -1 with error 14.
int32_t _gl_alt_number(GlLocale *loc, int32_t v, int32_t *count, int32_t capacity, GlWchar **out,
                       int32_t width, int32_t precision, int32_t justify, GlWchar pad);

TV_END_C
