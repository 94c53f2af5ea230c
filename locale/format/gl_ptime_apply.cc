// Applying parsed time values onto the working record (hours, months and
// years by their rules, eras) and validating the gregorian result.
#include <string.h>

#include "locale/core/gl_calendar_kinds.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"
#include "locale/format/gl_ptime_read.h"
#include "locale/format/gl_strftime.h"
#include "locale/format/gl_strptime.h"
#include "locale/format/gl_timeinfo.h"

namespace {

using glptime::MonthLength;

enum { kEnoEraName = 42 };

void SetError(GlLocale *loc, int32_t e) { *_gl_ext_errno(loc) = e; }

bool Has(const GlParsedTime *pt, int32_t bits) { return (pt->flags & bits) == bits; }

bool Gregorian(GlLocale *loc) { return loc->time.calendar <= GL_CAL_GREGORIAN; }

// Two-digit year completed by the century rule.
bool Year2(GlLocale *loc, GlParsedTime *pt, GlTimeFields *w, GlCurrDate today, int32_t rule) {
  int32_t month = Has(pt, GL_PT_MONTH) || Has(pt, GL_PT_MONTH_NAME) ? w->month + 1 : 1;
  int32_t day = Has(pt, GL_PT_MDAY) ? w->mday : 1;
  bool pinned = today.month != 0 && today.day != 0 && today.year != 0;
  int32_t c = gl_getcentury_internal(loc, month, day, pt->year2, pinned ? today.month : 0,
                                     pinned ? today.day : 0, pinned ? today.year : 0, rule);
  if (c < 0) return false;
  pt->century = c;
  w->year = pt->year2 + c * 100 - 1900;
  pt->flags |= GL_PT_CENTURY;
  return true;
}

bool SameName(GlLocale *loc, const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return a == b;
  if (gl_mb_loc_min(loc) == 1) return strcmp(a, b) == 0;
  return gl_full_mbscmp(loc, a, b) == 0;
}

// The full year of an era year in era e, for the working month and day.
int32_t EraDate(const GlEraRecord *e, int32_t era_year, const GlTimeFields *w) {
  const int32_t d = e->direction;
  int32_t year = (era_year - e->offset) * d + e->start_year;
  int32_t month = w->month + 1;
  if (month * d < e->start_month * d || (month == e->start_month && w->mday * d < e->start_day * d)) {
    year += d;
  }
  return year;
}

// The era rule: 1 done, 0 the era data are incomplete, -1 failed.
int32_t Era(GlLocale *loc, GlParsedTime *pt, GlTimeFields *w) {
  const GlTimeInfo &ti = loc->time;
  if (!Has(pt, GL_PT_ERA | GL_PT_MONTH | GL_PT_MDAY)) return 0;
  if (ti.era_records == nullptr || pt->era_index < 0 || pt->era_index >= ti.era_count ||
      ti.era_records[pt->era_index] == nullptr) {
    return 0;
  }
  const bool has_year = Has(pt, GL_PT_ERA_YEAR);
  const int32_t era_year = has_year ? pt->era_year : 1;
  const GlEraRecord *named = ti.era_records[pt->era_index];
  for (int32_t i = pt->era_index; i >= 0; --i) {
    const GlEraRecord *e = ti.era_records[i];
    if (e == nullptr) continue;
    if (i != pt->era_index && !SameName(loc, e->name, named->name)) continue;
    int32_t year = EraDate(e, era_year, w);
    if (_gl_era_contains(e, w->mday, w->month + 1, year) == 0) {
      w->year = year - 1900;
      if (has_year) pt->flags |= GL_PT_YEAR;
      return 1;
    }
  }
  SetError(loc, kEnoEraName);
  return -1;
}

// The year by the kind of the last year conversion.
bool Year(GlLocale *loc, GlParsedTime *pt, GlTimeFields *w, GlCurrDate today, int32_t rule) {
  if (pt->year_kind == 2 && Has(pt, GL_PT_CENTURY | GL_PT_YEAR2)) {
    w->year = pt->century * 100 + pt->year2 - 1900;
    return true;
  }
  if (pt->year_kind == 2 && Has(pt, GL_PT_YEAR2)) return Year2(loc, pt, w, today, rule);
  if (pt->year_kind == 1) {
    w->year = pt->year;
    return true;
  }
  if (pt->year_kind == 3) {
    int32_t r = Era(loc, pt, w);
    if (r != 0) return r > 0;
  }
  if (Has(pt, GL_PT_YEAR)) {
    w->year = pt->year;
  } else if (Has(pt, GL_PT_CENTURY | GL_PT_YEAR2)) {
    w->year = pt->century * 100 + pt->year2 - 1900;
  } else if (Has(pt, GL_PT_YEAR2)) {
    return Year2(loc, pt, w, today, rule);
  } else if (Has(pt, GL_PT_CENTURY)) {
    w->year = pt->century * 100 - 1900;
  }
  return true;
}

}  // namespace

int32_t _gl_ptime_apply(GlLocale *loc, GlParsedTime *pt, GlTimeFields *w, GlCurrDate today,
                        int32_t century) {
  if (Has(pt, GL_PT_FRACTION)) w->fraction = pt->fraction;
  if (Has(pt, GL_PT_SECOND)) w->second = pt->second;
  if (Has(pt, GL_PT_MINUTE)) w->minute = pt->minute;
  if (Has(pt, GL_PT_YDAY)) w->yday = pt->yday;
  if (Has(pt, GL_PT_MDAY)) w->mday = pt->mday;
  if (Has(pt, GL_PT_WDAY)) w->wday = pt->wday;

  if (pt->hour_kind == 2) {
    if (Has(pt, GL_PT_HOUR12 | GL_PT_AMPM)) {
      w->hour = pt->hour12 % 12 + 12 * pt->pm;
    } else if (Has(pt, GL_PT_HOUR12)) {
      w->hour = pt->hour12;
    } else if (Has(pt, GL_PT_HOUR24)) {
      w->hour = pt->hour24;
    }
  } else if (Has(pt, GL_PT_HOUR24)) {
    w->hour = pt->hour24;
  }

  const bool number = Has(pt, GL_PT_MONTH);
  const bool name = Has(pt, GL_PT_MONTH_NAME);
  if (!Gregorian(loc)) {
    // The calendar resolves the pair; with neither the default's stays.
    if (number || name) {
      w->month_name = name ? pt->month_name : -1;
      w->month = number ? pt->month : -1;
    }
  } else if (number && name) {
    w->month = pt->month;
    w->month_name = pt->month_name;
  } else if (number) {
    w->month = w->month_name = pt->month;
  } else if (name) {
    w->month = w->month_name = pt->month_name;
    pt->month = pt->month_name;
    pt->flags |= GL_PT_MONTH;
  }

  return Year(loc, pt, w, today, century) ? 0 : -1;
}

int32_t _gl_ptime_validate(GlLocale *loc, const GlParsedTime *pt, GlTimeFields *out) {
  const bool month = Has(pt, GL_PT_MONTH) || Has(pt, GL_PT_MONTH_NAME);
  const bool year = Has(pt, GL_PT_YEAR) || Has(pt, GL_PT_CENTURY | GL_PT_YEAR2);
  if (!Has(pt, GL_PT_MDAY) || !month || !year) return 0;
  if (out->year < -1900 || out->year > 8099) {
    SetError(loc, GL_EYEAR);
    return -1;
  }
  if (out->month < 0 || out->month > 11 || out->month >= loc->time.mon_count) {
    SetError(loc, GL_EMONTH);
    return -1;
  }
  if (out->mday < 1 || out->mday > MonthLength(out->month, out->year + 1900)) {
    SetError(loc, GL_EMDAY);
    return -1;
  }
  int32_t days = 0, error = 0;
  if (_gl_date_to_days(out->month + 1, out->mday, out->year + 1900, &days, &error) != 0) {
    SetError(loc, error);
    return -1;
  }
  int32_t wday = ((days % 7) + 7) % 7;
  if (Gregorian(loc)) {
    if (!Has(pt, GL_PT_WDAY)) {
      out->wday = wday;
    } else if (out->wday != wday) {
      SetError(loc, 38);
      return -1;
    }
    if (!Has(pt, GL_PT_YDAY)) {
      int32_t yday = out->mday - 1;
      for (int32_t m = 0; m < out->month; ++m) yday += MonthLength(m, out->year + 1900);
      out->yday = yday;
    }
  }
  return 0;
}
