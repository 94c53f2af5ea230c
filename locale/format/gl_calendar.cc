#include "locale/format/gl_calendar.h"

#include <string.h>

#include "locale/core/gl_calendar_kinds.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"

namespace {

constexpr int32_t kMonthStart[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int32_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool GregorianLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t GregorianMonthDays(int32_t month, int64_t y) {
  return kMonthDays[month] + (month == 1 && GregorianLeap(y) ? 1 : 0);
}

// Days from 1 January 1 to 1 January of year y.
int64_t DaysBeforeYear(int64_t y) {
  int64_t p = y - 1;
  return 365 * p + p / 4 - p / 100 + p / 400;
}

// Years 2, 5, 7, 10, 13, 16, 18, 21, 24, 26 and 29 of the cycle have 355 days.
int32_t IslamicYearDays(int32_t year_in_cycle) {
  return (14 + 11 * year_in_cycle) % 30 < 11 ? 355 : 354;
}

// Days of the islamic years before year h (from 1).
int64_t IslamicDaysBeforeYear(int64_t h) {
  int64_t days = 10631 * ((h - 1) / 30);
  for (int32_t i = 1; i <= (h - 1) % 30; ++i) days += IslamicYearDays(i);
  return days;
}

int64_t IslamicMonthStart(int32_t m) { return (59 * m + 1) / 2; }

bool HebrewLeap(int64_t length) { return length > 382; }

void SetError(GlLocale *loc, int32_t err) { *_gl_ext_errno(loc) = err; }

// The fields every conversion carries over; the date fields stay 0.
void CarryTimeOfDay(const GlTimeFields &in, GlTimeFields *out) {
  memset(out, 0, sizeof *out);
  out->fraction = in.fraction;
  out->second = in.second;
  out->minute = in.minute;
  out->isdst = in.isdst;
  out->reserved_wide = in.reserved_wide;
  out->reserved = in.reserved;
}

// A gregorian day count (0 = 1 January 1) back to a date.
void DaysToGregorian(int64_t days, const GlTimeFields &in, GlTimeFields *out) {
  int64_t c = (4 * days + 146100) / 146097 - 1;
  int64_t d = days - (146097 * (c / 4) + 36524 * (c % 4));
  int64_t y = (4 * d + 1464) / 1461 - 1;
  d -= 1461 * (y / 4) + 365 * (y % 4);
  int64_t g = 100 * c + y + 1;
  int32_t r = static_cast<int32_t>(d) + 1;
  int32_t m = 0;
  while (m < 11 && r > GregorianMonthDays(m, g)) r -= GregorianMonthDays(m++, g);
  out->hour = in.hour;
  out->mday = r;
  out->month = out->month_name = m;
  out->year = static_cast<int32_t>(g - 1900);
  out->wday = _gl_gregorian_wday(r, m, static_cast<int32_t>(g));
  out->yday = static_cast<int32_t>(d);
}

// Gregorian date fields that can be counted: month 0-11, day 1-31.
int32_t CheckGregorianFields(const GlTimeFields &in) {
  if (in.month < 0 || in.month > 11) return GL_EMONTH;
  if (in.mday < 1 || in.mday > 31) return GL_EMDAY;
  return 0;
}

int32_t GregorianToIslamic(const GlTimeFields &in, GlTimeFields *out) {
  if (int32_t err = CheckGregorianFields(in)) return err;
  int64_t y = static_cast<int64_t>(in.year) + 1900;
  int64_t key = y * 10000 + in.month * 100 + in.mday;
  if (key < 6220618 || key > 103230920) return GL_EYEAR;  // 18 July 622 - 20 October 10323
  int64_t e = DaysBeforeYear(y) + _gl_gregorian_yday(in.mday, in.month, static_cast<int32_t>(y)) -
              227013;
  int64_t h = 30 * (e / 10631) + 1;
  e %= 10631;
  for (int32_t i = 1; e >= IslamicYearDays(i); ++i) {
    e -= IslamicYearDays(i);
    ++h;
  }
  int32_t m = static_cast<int32_t>(2 * e / 59);
  int32_t day = static_cast<int32_t>(e - IslamicMonthStart(m) + 1);
  if (m == 12) {
    m = 11;
    day = 30;
  }
  out->hour = in.hour;
  out->mday = day;
  out->month = out->month_name = m;
  out->year = static_cast<int32_t>(h - 1900);
  out->yday = static_cast<int32_t>(e);
  out->wday = _gl_islamic_wday(day, m, static_cast<int32_t>(h));
  return 0;
}

int32_t IslamicToGregorian(const GlTimeFields &in, GlTimeFields *out) {
  int32_t m = in.month != -1 ? in.month : in.month_name;
  if (m < 0 || m > 11) return GL_EMONTH;
  if (in.mday < 1 || in.mday > 30) return GL_EMDAY;
  int64_t h = static_cast<int64_t>(in.year) + 1900;
  if (h < 1 || h > 9999) return GL_EYEAR;
  int64_t d = IslamicDaysBeforeYear(h) + IslamicMonthStart(m) + in.mday + 227012;
  DaysToGregorian(d, in, out);
  return 0;
}

int32_t GregorianToHebrew(const GlTimeFields &in, GlTimeFields *out) {
  if (int32_t err = CheckGregorianFields(in)) return err;
  int64_t y = static_cast<int64_t>(in.year) + 1900;
  int64_t key = y * 10000 + in.month * 100 + in.mday;
  if (key < 10001 || key > 100000123) return GL_EYEAR;  // 1 January 1 - 23 February 10000
  // Count from March, so that a leap day ends the year.
  int64_t mp = in.month - 1;
  int64_t yp = y;
  if (mp < 1) {
    mp = in.month + 11;
    yp = y - 1;
  }
  int64_t d = 367 * mp / 12 + in.mday + 5970 + 365 * yp + yp / 4 - yp / 100 + yp / 400;
  int32_t n = static_cast<int32_t>(yp + 16);
  int64_t s = _gl_hebrew_new_year(n);
  int64_t x = _gl_hebrew_new_year(n + 1);
  while (x <= d) {
    s = x;
    x = _gl_hebrew_new_year(n + 2);
    ++n;
  }
  int64_t yday = d - s;
  int64_t len = x - s;
  int64_t month, name, day0;
  if (yday < len - 236) {
    int64_t k = len % 10 + 114;
    month = name = 4 * yday / k;
    day0 = yday - (k * month + 3) / 4;
  } else {
    int64_t t = yday - (len - 236);
    int64_t q = 2 * t / 59;
    day0 = t - (59 * q + 1) / 2;
    month = name = q + 4;
    if (HebrewLeap(len)) {
      month = q + 5;
      if (q < 2) name = q + 12;
    }
  }
  out->hour = in.hour;
  out->mday = static_cast<int32_t>(day0 + 1);
  out->month = static_cast<int32_t>(month);
  out->month_name = static_cast<int32_t>(name);
  out->year = n + 1844;
  out->yday = static_cast<int32_t>(yday);
  out->wday = static_cast<int32_t>((d + 1) % 7);
  return 0;
}

int32_t HebrewToGregorian(const GlTimeFields &in, GlTimeFields *out) {
  int64_t hy = static_cast<int64_t>(in.year) + 1900;
  if (hy < 3761 || hy > 14213) return GL_EYEAR;
  int32_t n = static_cast<int32_t>(hy - 3744);
  int64_t s = _gl_hebrew_new_year(n);
  int64_t len = _gl_hebrew_new_year(n + 1) - s;
  bool leap = HebrewLeap(len);
  int32_t month = in.month;
  if (month == -1) {
    int32_t name = in.month_name;
    if (name < 0 || name > (leap ? 13 : 11)) return GL_EMONTH;
    if (leap && name >= 12) {
      month = name - 7;
    } else if (leap && name >= 6) {
      month = name + 1;
    } else {
      month = name;
    }
  }
  if (month < 0 || month > (leap ? 12 : 11)) return GL_EMONTH;
  if (in.mday < 1 || in.mday > 30) return GL_EMDAY;
  if (hy == 3761 && (month < 3 || (month == 3 && in.mday < 18))) return GL_EYEAR;
  int64_t d = (len < 383 || month < 6) ? s + in.mday + (59 * month + 1) / 2
                                       : s + in.mday + (59 * (month - 1) + 1) / 2 + 30;
  // Heshvan has 30 days in a complete year, Kislev 29 in a deficient one.
  int64_t dp = (len % 10 > 4 && month > 1) ? d - 6001 : d - 6002;
  if (len % 10 < 4 && month > 2) --dp;
  int64_t c = (4 * dp + 146100) / 146097 - 1;
  dp -= 146097 * (c / 4) + 36524 * (c % 4);
  int64_t y = (4 * dp + 1464) / 1461 - 1;
  dp -= 1461 * (y / 4) + 365 * (y % 4);
  int64_t g = 100 * c + y;
  int64_t q = 12 * (dp + 245) / 367;
  int64_t gm = q - 6;
  if (gm > 11) {
    gm = q - 18;
    ++g;
  }
  int64_t day = dp - (367 * (q - 7) / 12 - 30) + 1;
  int32_t m32 = static_cast<int32_t>(gm), d32 = static_cast<int32_t>(day),
          g32 = static_cast<int32_t>(g);
  out->hour = in.hour;
  out->mday = d32;
  out->month = out->month_name = m32;
  out->year = g32 - 1900;
  out->wday = _gl_gregorian_wday(d32, m32, g32);
  out->yday = _gl_gregorian_yday(d32, m32, g32);
  return 0;
}

using Conversion = int32_t (*)(const GlTimeFields &, GlTimeFields *);

int32_t Convert(GlLocale *loc, const GlTimeFields *in, GlTimeFields *out, Conversion hebrew,
                Conversion islamic) {
  if (loc == nullptr || in == nullptr || out == nullptr) {
    if (loc != nullptr) SetError(loc, GL_ENULLARG);
    return -1;
  }
  GlTimeFields src = *in;  // in and out may be one record
  Conversion conv = nullptr;
  switch (loc->time.calendar) {
    case GL_CAL_GREGORIAN:
      *out = src;
      return 0;
    case GL_CAL_HEBREW:
      conv = hebrew;
      break;
    case GL_CAL_ISLAMIC:
      conv = islamic;
      break;
    default:
      memset(out, 0, sizeof *out);
      SetError(loc, GL_EBADARG);
      return -1;
  }
  CarryTimeOfDay(src, out);
  if (int32_t err = conv(src, out)) {
    memset(out, 0, sizeof *out);
    SetError(loc, err);
    return -1;
  }
  return 0;
}

}  // namespace

int32_t _gl_gregorian_yday(int32_t day, int32_t month, int32_t year) {
  if (month < 0 || month > 11) return -1;
  return kMonthStart[month] + day - 1 + (month > 1 && GregorianLeap(year) ? 1 : 0);
}

int32_t _gl_gregorian_wday(int32_t day, int32_t month, int32_t year) {
  int64_t w = DaysBeforeYear(year) + 1 + _gl_gregorian_yday(day, month, year);
  return static_cast<int32_t>(((w % 7) + 7) % 7);
}

int32_t _gl_islamic_wday(int32_t day, int32_t month, int32_t year) {
  int64_t w = IslamicDaysBeforeYear(year) + IslamicMonthStart(month) + day + 3;
  return static_cast<int32_t>(((w % 7) + 7) % 7);
}

int32_t _gl_hebrew_new_year(int32_t n) {
  // Parts are counted in 64 bits: from the year 12497 on they pass 2^32.
  int64_t a = 7 * static_cast<int64_t>(n) + 1;
  int64_t months = 12 * static_cast<int64_t>(n) + a / 19;
  int64_t r = a % 19;
  int64_t p = 39673 * months + 8339;
  int64_t day = 28 * months - 2 + p / 25920;
  int64_t w = (p % 181440) / 25920;
  int64_t f = p % 181440 % 25920;
  if ((r < 12 && w == 3 && f > 16403) || (r < 7 && w == 2 && f > 23268)) {
    ++day;
    ++w;
  }
  if (w == 1 || w == 4 || w == 6) ++day;
  return static_cast<int32_t>(day);
}

int32_t gl_cal_gregorian_to_local(GlLocale *loc, const GlTimeFields *in, GlTimeFields *out) {
  return Convert(loc, in, out, GregorianToHebrew, GregorianToIslamic);
}

int32_t gl_cal_local_to_gregorian(GlLocale *loc, const GlTimeFields *in, GlTimeFields *out) {
  return Convert(loc, in, out, HebrewToGregorian, IslamicToGregorian);
}

int32_t gl_alt_getcentury(GlLocale *loc, int32_t, int32_t, int32_t) {
  if (loc == nullptr) return 0;
  switch (loc->time.calendar) {
    case GL_CAL_HEBREW:
      return 57;
    case GL_CAL_ISLAMIC:
      return 14;
    default:
      return 0;
  }
}
