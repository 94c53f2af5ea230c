// DATE: a signed 32-bit day count. 0 is 31 December 1899, 1 is 1 January
// 1900; valid dates run from -693594 (1 January 0001) to 2958464
// (31 December 9999). The null DATE is 0x80000000.
//
// A month-day-year triple is three 16-bit fields in that order; 0 0 0 is
// the null DATE. Results are 0 or a negative SQL code: -1204 bad year,
// -1205 bad month, -1206 bad day, -1210 day count out of range, -1211 no
// memory, -1212 bad mask or no date format, -1218 other formatting failures.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

#define DATE_NULL INT32_MIN
#define DATE_MIN (-693594)
#define DATE_MAX 2958464

TV_API int rjulmdy(int32_t date, int16_t mdy[3]);
TV_API int rmdyjul(const int16_t mdy[3], int32_t* date);
TV_API int rleapyear(int year);
// (date + 693595) mod 7, 0 = Sunday; 0 for the null DATE.
TV_API int rdayofweek(int32_t date);
// Today's date in the local time zone, shifted by DBTODAY when set.
TV_API void rtoday(int32_t* date);
// Text under the date format in force / under a mask (mm, dd, yy, yyyy,
// mmm, ddd ...). The caller's buffer must hold the text and its NUL (the
// text is cut at 1024 bytes).
TV_API int rdatestr(int32_t date, char* out);
TV_API int rfmtdate(int32_t date, const char* mask, char* out);
// Text to DATE under the date format in force / under a mask; the zel_
// forms use the century letter ("R", "C", "F", "P") for this call only.
TV_API int rstrdate(const char* text, int32_t* date);
TV_API int rdefmtdate(int32_t* date, const char* mask, const char* text);
TV_API int zel_strdate(const char* text, int32_t* date, const char* century);
TV_API int zel_defmtdate(int32_t* date, const char* mask, const char* text, const char* century);
// Text to DATE under a DBDATE-style value ("MDY4/", "Y2DM-" ...).
TV_API int rstrdbdate(const char* text, int32_t* date, const char* dbdate);
// Text to DATE under a locale format (null: the format in force): 0, or
// -1 with the locale error number set.
TV_API int zel_gl_convert_date(int32_t* date, const char* text, const char* format);
// Locale-format output: 0, or -1 with the locale error number set.
TV_API int zel_gl_format_date(char* out, int size, const int32_t* date, const char* format);

TV_END_C

#ifdef __cplusplus
// Helpers of the other SQL data types (not exported).

// The date format in force (locale notation), its field order (1 day,
// 2 month, 3 year) and era mode (0 none, 1 era names, 2 years from 1911).
// 0 or -1212.
int rdatefmtget(const char** format, int32_t order[3], int32_t* era_mode);
// Translates a date mask into the locale notation. *format is a new
// allocation the caller frees. 0, -1211 or -1212; require_all asks for a
// day, a month and a year.
int rmask2lxrfmt(const char* mask, char** format, int32_t order[3], int32_t* era_mode,
                 bool require_all);
// Loads the day, month and unit name lists (messages 1200, 1201, 1206,
// 1207); 0 when all four are loaded.
int rdatenamesinit();
// The list loaded from message `number` (1200, 1201, 1206 or 1207), and
// its count; null before rdatenamesinit succeeded.
const char* const* rdatenames(int number, int* count);

// The century letter of DBCENTURY ('R', 'C', 'F', 'P'), or 0 when the
// variable holds something else.
char rgetdbcentury();
// Replaces the thread's century letter (0: read DBCENTURY again).
void rsetdbcentury(char letter);
// Century (years / 100) of a one- or two-digit year with the given month
// and day (0 for missing): -1204, -1205, -1206 or -1218 on failure.
int rgetcentury(int month, int day, int year);

// Length of a month (1-12) of a year; February follows rleapyear.
int rmonthlength(int month, int year);
// Day count of a valid year, month and day, without checks.
int32_t rdaynumber(int year, int month, int day);
// The SQL code of a locale error number of a date format or parse.
int rdatemaperror(int locale_error);
// The general form of date text: the fields in order (1 day, 2 month,
// 3 year), month and era names, era mode 0/1/2, at most year_max year
// digits; strict for the date format in force, lenient for masks.
int rdategeneral(const char* text, const int32_t order[3], int era_mode, int year_max,
                 bool strict, int32_t* out);
// Text read by the locale's time parser under a locale format, only white
// space after it; *locale_error receives the parser's error number.
int rdateptime(const char* text, const char* format, int32_t* out, int32_t* locale_error);
#endif
