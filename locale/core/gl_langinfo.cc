#include "locale/core/gl_langinfo.h"

#include "locale/core/gl_calendar_kinds.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"

namespace {

struct Item {
  const char *mb;
  const GlWchar *wc;
};

Item TextItem(const GlText &t) { return {t.mb, t.wc}; }

// One month name of a list, bounded by the list's own count.
Item MonthItem(GlLocale *loc, char **mb, GlWchar **wc, int32_t count, int32_t index) {
  if (index >= count || mb == nullptr) {
    *_gl_ext_errno(loc) = GL_EBADARG;
    return {nullptr, nullptr};
  }
  return {mb[index], wc != nullptr ? wc[index] : nullptr};
}

Item Lookup(GlLocale *loc, int32_t item) {
  const GlTimeInfo &t = loc->time;
  const GlNumericInfo &n = loc->numeric;
  if (item >= 1 && item <= 7) return {t.day[item - 1], t.day_wc[item - 1]};
  if (item >= 8 && item <= 14) return {t.abday[item - 8], t.abday_wc[item - 8]};
  if (item >= 15 && item <= 34) return MonthItem(loc, t.mon, t.mon_wc, t.mon_count, item - 15);
  if (item >= 35 && item <= 54) {
    return MonthItem(loc, t.abmon, t.abmon_wc, t.abmon_count, item - 35);
  }
  switch (item) {
    case 0: return {t.d_t_fmt, t.d_t_fmt_wc};
    case 55: return TextItem(n.decimal_point);
    case 56: return TextItem(n.thousands_sep);
    case 57: return TextItem(n.msg_text[2]);
    case 58: return TextItem(n.msg_text[3]);
    case 59: return TextItem(n.currency_symbol);
    case 60:
      if (loc->codesets[GL_NUMERIC - 2][0] == '\0') return {nullptr, nullptr};
      return {loc->codesets[GL_NUMERIC - 2],
              reinterpret_cast<const GlWchar *>(loc->wcodesets[GL_NUMERIC - 2])};
    case 61: return {t.d_fmt, t.d_fmt_wc};
    case 62: return {t.t_fmt, t.t_fmt_wc};
    case 63: return {t.t_fmt_ampm, t.t_fmt_ampm_wc};
    case 64: return {t.am_pm[0], t.am_pm_wc[0]};
    case 65: return {t.am_pm[1], t.am_pm_wc[1]};
    case 66: return TextItem(t.era_joined);
    case 67: return {t.era_d_fmt, t.era_d_fmt_wc};
    case 68: return {t.era_d_t_fmt, t.era_d_t_fmt_wc};
    case 69: return {t.era_t_fmt, t.era_t_fmt_wc};
    case 70: return TextItem(t.alt_digits_joined);
    case 71: return TextItem(n.msg_text[0]);
    case 72: return TextItem(n.msg_text[1]);
    case 73: {
      const GlCalendarKind *k = _gl_calendar_by_number(t.calendar);
      if (k == nullptr) return {nullptr, nullptr};
      return {k->name, k->wname};
    }
    default: return {nullptr, nullptr};
  }
}

}  // namespace

char *gl_nl_langinfo(GlLocale *loc, int32_t item) {
  if (loc == nullptr || item < 0 || item > 73) return nullptr;
  // The texts belong to the locale object; the caller must not change them.
  return const_cast<char *>(Lookup(loc, item).mb);
}

GlWchar *gl_wc_nl_langinfo(GlLocale *loc, int32_t item) {
  if (loc == nullptr || item < 0 || item > 73) return nullptr;
  return const_cast<GlWchar *>(Lookup(loc, item).wc);
}

const char *gl_version(void) { return "Tevrin locale library 11.0"; }
const char *gl_lc_version(void) { return "11"; }
const char *gl_cv_version(void) { return "9"; }
const char *gl_cm_version(void) { return "3"; }
