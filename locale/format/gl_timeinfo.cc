#include "locale/format/gl_timeinfo.h"

#include <stdlib.h>
#include <string.h>

#include "locale/core/gl_calendar_kinds.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"
#include "locale/core/gl_support.h"
#include "locale/format/gl_calendar.h"

namespace {

// The pinned "today", month-day-year; process-wide, set before threads run.
struct PinnedDate {
  bool set;
  uint16_t month, day, year;
};
PinnedDate g_pinned = {false, 0, 0, 0};

constexpr int32_t kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int32_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool IsLeap(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

void *DefaultAlloc(size_t size) { return _gl_malloc(size); }

// The texts of one kind: their array and count, or false for an unknown kind.
bool KindTexts(GlLocale *loc, int32_t kind, char *const **texts, int32_t *count,
               char ***owned) {
  GlTimeInfo &t = loc->time;
  *owned = nullptr;
  switch (kind) {
    case 1: *texts = t.day; *count = 7; return true;
    case 2: *texts = t.abday; *count = 7; return true;
    case 3: *texts = t.mon; *count = t.mon_count; return true;
    case 4: *texts = t.abmon; *count = t.abmon_count; return true;
    case 5:
    case 6: {
      *texts = nullptr;
      *count = 0;
      if (t.era_count <= 0 || t.era_records == nullptr) return true;
      auto **names = static_cast<char **>(_gl_malloc(t.era_count * sizeof(char *)));
      if (names == nullptr) return true;
      for (int32_t i = 0; i < t.era_count; ++i) {
        names[i] = t.era_records[i] == nullptr ? nullptr
                   : kind == 5                 ? t.era_records[i]->name
                                               : t.era_records[i]->name2;
      }
      *owned = names;
      *texts = names;
      *count = t.era_count;
      return true;
    }
    case 7: *texts = t.alt_digits; *count = t.alt_digits_count; return true;
    case 8: *texts = t.am_pm; *count = 2; return true;
    default: return false;
  }
}

int32_t Fail(GlLocale *loc, int32_t err) {
  if (loc != nullptr) *_gl_ext_errno(loc) = err;
  return -1;
}

// Day count of a candidate year; 29 February of a common year is 1 March.
bool Candidate(int32_t month, int32_t day, int32_t year, int32_t *days, int32_t *err) {
  if (month == 2 && day == 29 && !IsLeap(year)) {
    month = 3;
    day = 1;
  }
  return _gl_date_to_days(month, day, year, days, err) == 0;
}

}  // namespace

int32_t gl_mbstimeinfo_ext(GlLocale *loc, int32_t kind, char ***array, int32_t *count,
                           GlTimeInfoAlloc alloc) {
  if (loc == nullptr || array == nullptr || count == nullptr) return -1;
  char *const *texts = nullptr;
  char **owned = nullptr;
  int32_t n = 0;
  if (!KindTexts(loc, kind, &texts, &n, &owned)) return -1;
  if (alloc == nullptr) alloc = DefaultAlloc;
  *array = nullptr;
  *count = 0;
  if (n <= 0 || texts == nullptr) {
    _gl_free(owned);
    return -1;
  }
  auto **out = static_cast<char **>(alloc(static_cast<size_t>(n) * sizeof(char *)));
  if (out == nullptr) {
    _gl_free(owned);
    return -1;
  }
  int32_t m = loc->single_byte ? 1 : gl_mb_loc_min(loc);
  if (m < 1) m = 1;
  for (int32_t i = 0; i < n; ++i) {
    out[i] = nullptr;
    if (texts[i] == nullptr) continue;
    int32_t len = (loc->single_byte ? static_cast<int32_t>(strlen(texts[i]))
                                    : gl_mbsbytes(loc, texts[i])) + m;
    if (len <= 0) continue;
    out[i] = static_cast<char *>(alloc(static_cast<size_t>(len)));
    if (out[i] == nullptr) {
      *_gl_ext_errno(loc) = GL_ENULLARG;
      continue;
    }
    memcpy(out[i], texts[i], static_cast<size_t>(len));
  }
  _gl_free(owned);
  *array = out;
  *count = n;
  return 0;
}

int32_t gl_mbstimeinfo(GlLocale *loc, int32_t kind, char ***array, int32_t *count) {
  return gl_mbstimeinfo_ext(loc, kind, array, count, nullptr);
}

const char *gl_get_ltime_fmts(GlLocale *loc, int32_t code) {
  static const char kEmpty[4] = {0, 0, 0, 0};
  if (loc == nullptr) return kEmpty;
  const GlTimeInfo &t = loc->time;
  const char *f = nullptr;
  switch (code) {
    case 0: f = t.d_t_fmt; break;
    case '=': f = t.d_fmt; break;
    case '>': f = t.t_fmt; break;
    case '?': f = t.t_fmt_ampm; break;
    case 'C': f = t.era_d_t_fmt; break;
    case 'D': f = t.era_d_fmt; break;
    case 'E': f = t.era_t_fmt; break;
    default: break;
  }
  return f != nullptr ? f : kEmpty;
}

int32_t gl_get_era_count(GlLocale *loc) { return loc == nullptr ? -1 : loc->time.era_count; }

int32_t _gl_date_to_days(int32_t month, int32_t day, int32_t year, int32_t *days,
                         int32_t *error) {
  if (month == 0 && day == 0 && year == 0) {
    *days = INT32_MIN;
    return 0;
  }
  if (year < 1 || year > 9999) return *error = GL_EYEAR, -1;
  if (month < 1 || month > 12) return *error = GL_EMONTH, -1;
  int32_t len = kMonthDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
  if (day < 1 || day > len) return *error = GL_EMDAY, -1;
  int32_t c = year - 1;
  *days = day + (c / 100 * 146097) / 4 + (c % 100 * 1461) / 4 - 693595 + kDaysBefore[month - 1] +
          (month > 2 && IsLeap(year) ? 1 : 0);
  return 0;
}

void _gl_today(int32_t *month, int32_t *day, int32_t *year) {
  GlCurrDate d = {0, 0, 0};
  _gl_ext_currdate(&d);
  *month = d.month;
  *day = d.day;
  *year = d.year;
  if (g_pinned.set) {
    *month = g_pinned.month;
    *day = g_pinned.day;
    *year = g_pinned.year;
  }
}

int32_t gl_set_current_time(int32_t day, int32_t month, int32_t year) {
  g_pinned = {true, static_cast<uint16_t>(month), static_cast<uint16_t>(day),
              static_cast<uint16_t>(year)};
  return 0;
}

int32_t gl_reset_time(void) {
  g_pinned = {false, 0, 0, 0};
  return 0;
}

int32_t gl_getcenturyloc_internal(GlLocale *loc, int32_t m, int32_t d, int32_t y, int32_t tm,
                                  int32_t td, int32_t ty, int32_t rule, int32_t mode) {
  if (loc != nullptr && loc->time.calendar != GL_CAL_GREGORIAN) {
    return gl_alt_getcentury(loc, m, d, y);
  }
  if (y > 99) return y / 100;
  const bool roc = mode == 2;
  if (tm != 0 && td != 0 && ty != 0) {
    if (roc) ty += 1911;
  } else {
    _gl_today(&tm, &td, &ty);
  }
  int32_t err = 0, today = 0;
  if (_gl_date_to_days(tm, td, ty, &today, &err) != 0) return Fail(loc, err);
  int32_t cc = roc ? (ty - 1911) / 100 : ty / 100;
  int32_t result = cc;
  if (rule != 'R') {
    int32_t cm = m != 0 ? m : tm, cd = d != 0 ? d : td;
    int32_t base = roc ? 100 * cc + y + 1911 : 100 * cc + y;
    int32_t x = 0, p = 0, n = 0;
    if (!Candidate(cm, cd, base, &x, &err)) return Fail(loc, err);
    if (rule != 'F' && !Candidate(cm, cd, base - 100, &p, &err)) return Fail(loc, err);
    if (rule != 'P' && !Candidate(cm, cd, base + 100, &n, &err)) return Fail(loc, err);
    int64_t dx = llabs(static_cast<int64_t>(x) - today), dp = llabs(static_cast<int64_t>(p) - today),
            dn = llabs(static_cast<int64_t>(n) - today);
    switch (rule) {
      case 'C':
        result = dx < dp ? (dx < dn ? cc : cc + 1) : (dp < dn ? cc - 1 : cc + 1);
        break;
      case 'F':
        result = x - today > 0 ? cc : cc + 1;
        break;
      case 'P':
        result = x - today < 0 ? cc : cc - 1;
        break;
      default:
        break;
    }
  }
  if (roc && result == -1) result = 0;
  return result;
}

int32_t gl_getcentury_internal(GlLocale *loc, int32_t m, int32_t d, int32_t y, int32_t tm,
                               int32_t td, int32_t ty, int32_t rule) {
  return gl_getcenturyloc_internal(loc, m, d, y, tm, td, ty, rule, 0);
}

int32_t gl_getcenturyloc(GlLocale *loc, int32_t m, int32_t d, int32_t y, int32_t rule,
                         int32_t mode) {
  return gl_getcenturyloc_internal(loc, m, d, y, 0, 0, 0, rule, mode);
}

int32_t gl_getcentury(GlLocale *loc, int32_t m, int32_t d, int32_t y, int32_t rule) {
  return gl_getcenturyloc_internal(loc, m, d, y, 0, 0, 0, rule, 0);
}
