// Conversions between the gregorian calendar and the calendar a locale's
// LC_TIME data names: the hebrew calendar (new years from the mean lunar
// month counted in parts, with the postponement rules) and the tabular
// islamic calendar (30-year cycle, epoch 18 July 622).
//
// Local dates travel in GlTimeFields: year is the local year - 1900, month
// the local month from 0, month_name the index of its name, mday, yday from
// 0 and wday (0 = Sunday). In a hebrew leap year month 5 is Adar I and 6
// Adar II, with month_name 12 and 13; Nisan to Elul are months 7-12 with
// names 6-11.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "locale/format/gl_time.h"
#include "platform/api.h"

TV_BEGIN_C

// Gregorian to the locale's calendar: 0, or -1 when the calendar has no
// conversion (error 9), the date lies outside its range (error 31) or a
// field cannot be a date (month 30, day 27). The output is cleared on
// failure.
TV_API int32_t gl_cal_gregorian_to_local(GlLocale *loc, const GlTimeFields *in,
                                         GlTimeFields *out);
// The reverse. For the hebrew and islamic calendars a month of -1 is taken
// from month_name.
TV_API int32_t gl_cal_local_to_gregorian(GlLocale *loc, const GlTimeFields *in,
                                         GlTimeFields *out);
// The century that completes a two-digit year: 57 hebrew, 14 islamic, else 0.
TV_API int32_t gl_alt_getcentury(GlLocale *loc, int32_t month, int32_t day, int32_t year);

// Day number of 1 Tishri of the hebrew year n + 3744.
int32_t _gl_hebrew_new_year(int32_t n);
// Weekday of an islamic date (month from 0, the islamic year itself).
int32_t _gl_islamic_wday(int32_t day, int32_t month, int32_t year);
// Weekday and day of the year (from 0) of a gregorian date (month from 0,
// the year itself).
int32_t _gl_gregorian_wday(int32_t day, int32_t month, int32_t year);
int32_t _gl_gregorian_yday(int32_t day, int32_t month, int32_t year);

TV_END_C
