// Calendar arithmetic of DATE values: day counts, month-day-year triples,
// leap years and days of the week.
#include <stdlib.h>

#include "base/env.h"
#include "base/thread_state.h"
#include "sqltypes/date.h"
#include "sqltypes/date_internal.h"

namespace {

// The thread's month lengths; the February byte follows the year at hand.
thread_local uint8_t t_month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

void SetFebruary(int year) { t_month_days[1] = rleapyear(year) ? 29 : 28; }

bool NoZeroMdy() {
  const char* v = ggetenv_idx("ZEL_NOZEROMDY", ENVROW_ZEL_NOZEROMDY);
  return v != nullptr && atoi(v) == 1;
}

}  // namespace

int rmonthlength(int month, int year) {
  static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && rleapyear(year)) return 29;
  return kDays[month - 1];
}

int32_t rdaynumber(int year, int month, int day) {
  int32_t date = day + (year - 1) / 100 * 146097 / 4 + (year - 1) % 100 * 1461 / 4 - 693595;
  for (int m = 1; m < month; m++) date += rmonthlength(m, year);
  return date;
}

TV_EXTERN_C TV_API int rleapyear(int year) {
  return ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0) ? 1 : 0;
}

TV_EXTERN_C TV_API int rdayofweek(int32_t date) {
  if (date == DATE_NULL) return 0;
  int64_t d = (static_cast<int64_t>(date) + 693595) % 7;
  return static_cast<int>(d < 0 ? d + 7 : d);
}

TV_EXTERN_C TV_API int rmdyjul(const int16_t mdy[3], int32_t* date) {
  const int month = mdy[0], day = mdy[1], year = mdy[2];
  if (month == 0 && day == 0 && year == 0) {
    if (NoZeroMdy()) return -1206;
    *date = DATE_NULL;
    return 0;
  }
  SetFebruary(year);
  if (year <= 0 || year > 9999) return -1204;
  if (month < 1 || month > 12) return -1205;
  if (day < 1 || day > t_month_days[month - 1]) return -1206;
  int32_t d = day + (year - 1) / 100 * 146097 / 4 + (year - 1) % 100 * 1461 / 4 - 693595;
  for (int m = 0; m < month - 1; m++) d += t_month_days[m];
  *date = d;
  dbtoday_record_parts(year, month, day);
  return 0;
}

TV_EXTERN_C TV_API int rjulmdy(int32_t date, int16_t mdy[3]) {
  if (date == DATE_NULL) {
    mdy[0] = mdy[1] = mdy[2] = 0;
    return 0;
  }
  if (date < DATE_MIN || date > DATE_MAX) {
    mdy[0] = mdy[1] = mdy[2] = 0;
    return -1210;
  }
  const int32_t b = (4 * date + 2774379) / 146097;
  const int32_t d1 = date - 146097 * b / 4 + 693594;
  const int32_t c = (4 * d1 + 3) / 1461;
  const int year = 100 * b + c + 1;
  int yday = d1 - 1461 * c / 4 + 1;
  SetFebruary(year);
  int month = 0;
  while (month < 11 && yday > t_month_days[month]) yday -= t_month_days[month++];
  mdy[0] = static_cast<int16_t>(month + 1);
  mdy[1] = static_cast<int16_t>(yday);
  mdy[2] = static_cast<int16_t>(year);
  return 0;
}
