// The time parsing engine: walks a format over wide text and records the
// fields it matches in a GlParsedTime. Locale formats (%c, %x, %r, the era
// formats) run as sub-formats on the same record and text cursor.
#include <string.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/format/gl_fmtspec.h"
#include "locale/format/gl_format_errors.h"
#include "locale/format/gl_ptime_read.h"
#include "locale/format/gl_strftime.h"
#include "locale/format/gl_strptime.h"

namespace glptime {

namespace {

enum {
  kEnoEraName = 42,    // no era name matched
  kEnoPoint = 47,      // the "." of a fraction field missing
  kEmonthName = 48,    // month name not read
  kEparseFraction = 33,
  kEparseSecond = 34,
  kEparseMinute = 35,
  kEparseHour = 36,
  kEparseMday = 37,
  kEparseWday = 38,
  kEparseMonth = 40,
};

// Locale formats may name each other; a chain deeper than this is a loop.
constexpr int kMaxDepth = 8;

const GlWchar kFormatD[] = {'%', 'm', '/', '%', 'd', '/', '%', 'y', 0};
const GlWchar kFormatR[] = {'%', 'H', ':', '%', 'M', 0};
const GlWchar kFormatT[] = {'%', 'H', ':', '%', 'M', ':', '%', 'S', 0};

struct Engine {
  GlLocale *loc;
  GlParsedTime *pt;
  int depth;
  bool Fail(int32_t e) {
    *_gl_ext_errno(loc) = e;
    return false;
  }
};

bool Walk(Engine *e, const GlWchar **t, const GlWchar *format);

// A locale format as a sub-format; one the locale lacks fails.
bool Sub(Engine *e, const GlWchar **t, const GlWchar *format) {
  if (format == nullptr || format[0] == 0) return false;
  if (e->depth >= kMaxDepth) return e->Fail(GL_EBADCONV);
  ++e->depth;
  bool ok = Walk(e, t, format);
  --e->depth;
  return ok;
}

// A decimal field: the default width w applies when the conversion gave
// neither width nor precision. Stores value in [lo, hi] or fails with the
// parse or range error.
bool Decimal(Engine *e, const GlWchar **t, const GlFormatSpec &spec, int32_t w, int64_t lo,
             int64_t hi, int32_t parse_error, int32_t range_error, int32_t *out) {
  int32_t width = spec.width;
  if (spec.width == -1 && spec.precision == 1) width = w;
  int64_t v = 0;
  if (!ReadDecimal(e->loc, t, width, spec.precision, &v)) return e->Fail(parse_error);
  if (v < lo || v > hi) return e->Fail(range_error);
  *out = static_cast<int32_t>(v);
  return true;
}

// The same in alternate digits (no default width).
bool Alt(Engine *e, const GlWchar **t, const GlFormatSpec &spec, int64_t lo, int64_t hi,
         int32_t parse_error, int32_t range_error, int32_t *out) {
  int32_t v = 0;
  if (_gl_ptime_alt_number(e->loc, t, spec.width, spec.precision, &v) != 0) {
    return e->Fail(parse_error);
  }
  if (v < lo || v > hi) return e->Fail(range_error);
  *out = v;
  return true;
}

void SetMonth(GlParsedTime *pt, int32_t month) {
  pt->month = month;
  pt->flags = (pt->flags | GL_PT_MONTH) & ~GL_PT_MONTH_NAME;
}

// An optional precision digit right after F; a digit 6-9 fails.
bool FractionPrecision(Engine *e, const GlWchar **p, GlFormatSpec *spec) {
  GlWchar d = **p;
  if (d < '0' || d > '9') return true;
  if (d > '5') return e->Fail(GL_EBADCONV);
  ++*p;
  spec->precision = static_cast<int32_t>(d - '0');
  if (spec->width < spec->precision) spec->width = spec->precision;
  return true;
}

bool Fraction(Engine *e, const GlWchar **t, const GlFormatSpec &spec) {
  if (!ReadFraction(t, spec.width, spec.precision, &e->pt->fraction)) {
    return e->Fail(kEparseFraction);
  }
  e->pt->flags |= GL_PT_FRACTION;
  return true;
}

bool EraConversion(Engine *e, const GlWchar **p, const GlWchar **t, const GlFormatSpec &spec) {
  GlLocale *loc = e->loc;
  const GlTimeInfo &ti = loc->time;
  GlParsedTime *pt = e->pt;
  GlWchar c = **p;
  if (c == 0) return e->Fail(GL_EBADCONV);
  ++*p;
  pt->year_kind = 3;
  switch (c) {
    case 'C':
    case 'g':
      if (!ReadName(loc, t, ti.tries[GL_TRIE_ERA_NAME], ti.tries[GL_TRIE_ERA_NAME2],
                    &pt->era_index) ||
          pt->era_index < 0 || pt->era_index >= ti.era_count) {
        return e->Fail(kEnoEraName);
      }
      pt->flags |= GL_PT_ERA;
      return true;
    case 'c':
      return Sub(e, t, ti.era_d_t_fmt_wc);
    case 'x':
      return Sub(e, t, ti.era_d_fmt_wc);
    case 'X':
      return Sub(e, t, ti.era_t_fmt_wc);
    case 'Y':
      for (int32_t i = 0; ti.era_records != nullptr && i < ti.era_count; ++i) {
        if (ti.era_records[i] == nullptr) continue;
        GlParsedTime scratch = *pt;
        const GlWchar *s = *t;
        Engine sub = {loc, &scratch, e->depth};
        if (Sub(&sub, &s, ti.era_records[i]->format_wc)) {
          *pt = scratch;
          *t = s;
          return true;
        }
      }
      return e->Fail(kEnoEraName);
    case 'y':
      if (!Decimal(e, t, spec, -1, 0, INT32_MAX, GL_EYEARFIELD, GL_EYEARFIELD, &pt->era_year)) {
        return false;
      }
      pt->flags |= GL_PT_ERA_YEAR;
      return true;
    default:
      return e->Fail(GL_EBADCONV);
  }
}

bool AltConversion(Engine *e, const GlWchar **p, const GlWchar **t, const GlFormatSpec &spec) {
  GlLocale *loc = e->loc;
  GlParsedTime *pt = e->pt;
  GlWchar c = **p;
  if (c == 0) return e->Fail(GL_EBADCONV);
  ++*p;
  switch (c) {
    case 'H':
      if (!Alt(e, t, spec, 0, 23, kEparseHour, GL_EHOUR, &pt->hour24)) return false;
      pt->flags |= GL_PT_HOUR24;
      pt->hour_kind = 1;
      return true;
    case 'I':
      if (!Alt(e, t, spec, 1, 12, kEparseHour, GL_EHOUR, &pt->hour12)) return false;
      pt->flags |= GL_PT_HOUR12;
      pt->hour_kind = 2;
      return true;
    case 'M':
      if (!Alt(e, t, spec, 0, 59, kEparseMinute, GL_EMINUTE, &pt->minute)) return false;
      pt->flags |= GL_PT_MINUTE;
      return true;
    case 'S':
      if (!Alt(e, t, spec, 0, 60, kEparseSecond, GL_ESECOND, &pt->second)) return false;
      pt->flags |= GL_PT_SECOND;
      return true;
    case 'd':
    case 'e':
      if (!Alt(e, t, spec, 1, 31, kEparseMday, GL_EMDAY, &pt->mday)) return false;
      pt->flags |= GL_PT_MDAY;
      return true;
    case 'm': {
      int32_t v = 0;
      if (!Alt(e, t, spec, 1, loc->time.mon_count, kEparseMonth, GL_EMONTH, &v)) return false;
      SetMonth(pt, v - 1);
      return true;
    }
    case 'w':
      if (!Alt(e, t, spec, 0, 6, kEparseWday, GL_EWDAY, &pt->wday)) return false;
      pt->flags |= GL_PT_WDAY;
      return true;
    case 'y':
      if (loc->time.era_count > 0) {
        if (!Alt(e, t, spec, 0, INT32_MAX, GL_EYEARFIELD, GL_EYEARFIELD, &pt->era_year)) {
          return false;
        }
        pt->flags |= GL_PT_ERA_YEAR;
        pt->year_kind = 3;
      } else {
        if (!Alt(e, t, spec, 0, INT32_MAX, GL_EYEARFIELD, GL_EYEARFIELD, &pt->year2)) {
          return false;
        }
        pt->flags |= GL_PT_YEAR2;
        pt->year_kind = 2;
      }
      return true;
    default:
      return e->Fail(GL_EBADCONV);
  }
}

bool IConversion(Engine *e, const GlWchar **p, const GlWchar **t, GlFormatSpec spec) {
  GlParsedTime *pt = e->pt;
  GlWchar c = **p;
  if (c == 0) return e->Fail(GL_EBADCONV);
  ++*p;
  switch (c) {
    case 'F':
      if (!FractionPrecision(e, p, &spec)) return false;
      if (**t != '.') return e->Fail(kEnoPoint);
      ++*t;
      return Fraction(e, t, spec);
    case 'Y':
    case 'y': {
      int32_t v = 0, digits = 0;
      if (!ReadShortYear(t, &v, &digits)) return e->Fail(GL_EYEARFIELD);
      if (digits <= 2) {
        pt->year2 = v;
        pt->flags |= GL_PT_YEAR2;
        pt->year_kind = 2;
      } else {
        pt->year = v - 1900;
        pt->flags |= GL_PT_YEAR;
        pt->year_kind = 1;
      }
      return true;
    }
    default:
      return e->Fail(GL_EBADCONV);
  }
}

// One conversion; *p on the conversion letter.
bool Convert(Engine *e, const GlWchar **p, const GlWchar **t, GlFormatSpec spec) {
  GlLocale *loc = e->loc;
  const GlTimeInfo &ti = loc->time;
  GlParsedTime *pt = e->pt;
  GlWchar c = **p;
  if (c == 0) return e->Fail(GL_EMISSING);
  ++*p;
  int32_t v = 0;
  switch (c) {
    case '%':
      if (**t != '%') return e->Fail(GL_EBADCONV);
      ++*t;
      return true;
    case 'a':
    case 'A':
      if (!ReadName(loc, t, ti.tries[GL_TRIE_DAY], ti.tries[GL_TRIE_ABDAY], &pt->wday)) {
        return e->Fail(kEparseWday);
      }
      pt->flags |= GL_PT_WDAY;
      return true;
    case 'b':
    case 'B':
    case 'h':
      if (!ReadName(loc, t, ti.tries[GL_TRIE_MON], ti.tries[GL_TRIE_ABMON], &pt->month_name)) {
        return e->Fail(kEmonthName);
      }
      pt->flags = (pt->flags | GL_PT_MONTH_NAME) & ~GL_PT_MONTH;
      return true;
    case 'C':
    case 'g':
      if (!Decimal(e, t, spec, -1, 0, 99, GL_EYEARFIELD, GL_EYEAR, &pt->century)) return false;
      pt->flags |= GL_PT_CENTURY;
      pt->year_kind = 2;
      return true;
    case 'd':
    case 'e':
      if (!Decimal(e, t, spec, 2, 1, 31, kEparseMday, GL_EMDAY, &pt->mday)) return false;
      pt->flags |= GL_PT_MDAY;
      return true;
    case 'D':
      return Sub(e, t, kFormatD);
    case 'F':
      if (!FractionPrecision(e, p, &spec)) return false;
      return Fraction(e, t, spec);
    case 'H':
      if (!Decimal(e, t, spec, 2, 0, 23, kEparseHour, GL_EHOUR, &pt->hour24)) return false;
      pt->flags |= GL_PT_HOUR24;
      pt->hour_kind = 1;
      return true;
    case 'I':
      if (!Decimal(e, t, spec, 2, 1, 12, kEparseHour, GL_EHOUR, &pt->hour12)) return false;
      pt->flags |= GL_PT_HOUR12;
      pt->hour_kind = 2;
      return true;
    case 'j':
      if (!Decimal(e, t, spec, -1, 1, 366, GL_EYDAY, GL_EYDAY, &v)) return false;
      pt->yday = v - 1;
      pt->flags |= GL_PT_YDAY;
      return true;
    case 'm':
      if (!Decimal(e, t, spec, 2, 1, ti.mon_count, kEparseMonth, GL_EMONTH, &v)) return false;
      SetMonth(pt, v - 1);
      return true;
    case 'M':
      if (!Decimal(e, t, spec, 2, 0, 59, kEparseMinute, GL_EMINUTE, &pt->minute)) return false;
      pt->flags |= GL_PT_MINUTE;
      return true;
    case 'n':
    case 't':
      if (!IsSpace(loc, **t)) return e->Fail(GL_ENONUMBER);
      while (IsSpace(loc, **t)) ++*t;
      return true;
    case 'p':
      if (!ReadName(loc, t, ti.tries[GL_TRIE_AM_PM], nullptr, &v)) return e->Fail(GL_ENONUMBER);
      if (v != 0 && v != 1) return e->Fail(GL_EBADARG);
      pt->pm = v;
      pt->flags |= GL_PT_AMPM;
      pt->hour_kind = 2;
      return true;
    case 'r':
      if (!Sub(e, t, ti.t_fmt_ampm_wc)) return e->Fail(GL_EBADCONV);
      return true;
    case 'R':
      return Sub(e, t, kFormatR);
    case 'S':
      if (!Decimal(e, t, spec, 2, 0, 60, kEparseSecond, GL_ESECOND, &pt->second)) return false;
      pt->flags |= GL_PT_SECOND;
      return true;
    case 'T':
      return Sub(e, t, kFormatT);
    case 'u':
      if (!Decimal(e, t, spec, 1, 1, 7, kEparseWday, GL_EWDAY, &v)) return false;
      pt->wday = v == 7 ? 0 : v;
      pt->flags |= GL_PT_WDAY;
      return true;
    case 'w':
      if (!Decimal(e, t, spec, 1, 0, 6, kEparseWday, GL_EBADARG, &pt->wday)) return false;
      pt->flags |= GL_PT_WDAY;
      return true;
    case 'x':
      return Sub(e, t, ti.d_fmt_wc);
    case 'X':
      return Sub(e, t, ti.t_fmt_wc);
    case 'c':
      return Sub(e, t, ti.d_t_fmt_wc);
    case 'y':
      if (!Decimal(e, t, spec, 2, 0, 99, GL_EYEARFIELD, GL_EBADARG, &pt->year2)) return false;
      pt->flags |= GL_PT_YEAR2;
      pt->year_kind = 2;
      return true;
    case 'Y':
      if (!Decimal(e, t, spec, 4, 0, 9999, GL_EYEARFIELD, GL_EBADARG, &v)) return false;
      pt->year = v - 1900;
      pt->flags |= GL_PT_YEAR;
      pt->year_kind = 1;
      return true;
    case 'i':
      return IConversion(e, p, t, spec);
    case 'E':
      return EraConversion(e, p, t, spec);
    case 'O':
      return AltConversion(e, p, t, spec);
    default:
      return e->Fail(GL_EBADCONV);
  }
}

bool Walk(Engine *e, const GlWchar **t, const GlWchar *format) {
  GlLocale *loc = e->loc;
  const GlWchar *p = format;
  while (*p != 0) {
    if (*p != '%') {
      if (IsBlank(loc, *p)) {
        ++p;
        while (IsBlank(loc, **t)) ++*t;
      }
      while (IsBlank(loc, *p)) ++p;
      if (*p == '%' || *p == 0) continue;
      while (IsBlank(loc, **t)) ++*t;
      if (**t != *p) return e->Fail(GL_ENONUMBER);
      ++*t;
      ++p;
      continue;
    }
    ++p;
    GlFormatSpec spec;
    _gl_fmtspec_preset(&spec);
    spec.width = -1;
    spec.precision = 1;
    if (_gl_parse_fmtspec(loc, &p, &spec, nullptr, nullptr) != 0) return false;
    if ((*p == 'E' && loc->time.era_count <= 0) || (*p == 'O' && loc->time.alt_digits_count <= 0)) {
      ++p;
    }
    if (!Convert(e, &p, t, spec)) return false;
  }
  return true;
}

}  // namespace

}  // namespace glptime

using namespace glptime;

const GlWchar *_gl_ptime_engine(GlLocale *loc, const GlWchar *text, const GlWchar *format,
                                GlParsedTime *pt, int32_t) {
  if (format == nullptr || text == nullptr) {
    *_gl_ext_errno(loc) = format == nullptr ? GL_EMISSING : GL_ENULLARG;
    return nullptr;
  }
  Engine e = {loc, pt, 0};
  const GlWchar *t = text;
  if (!Walk(&e, &t, format)) return nullptr;

  // An era year without an era name: the era of the current time.
  if ((pt->flags & GL_PT_ERA_YEAR) != 0 && (pt->flags & GL_PT_ERA) == 0) {
    GlTimeRecord now;
    memset(&now, 0, sizeof now);
    _gl_ext_currtime(&now);
    GlTimeFields f;
    _gl_time_to_fields(&now, now.month, &f);
    int32_t i = _gl_era_find(loc->time.era_records, loc->time.era_count, &f);
    if (i >= 0) {
      pt->era_index = i;
      pt->flags |= GL_PT_ERA;
    }
  }

  // A leap second only where one can stand: the end of a quarter hour on
  // the first or last day of a month.
  if (pt->second == 60) {
    bool minute_ok = pt->minute == 14 || pt->minute == 29 || pt->minute == 44 || pt->minute == 59;
    bool day_ok = pt->year == 0 || pt->mday == 1 ||
                  pt->mday == MonthLength(pt->month, pt->year + 1900);
    if (!minute_ok || !day_ok) {
      pt->second = 0;
      *_gl_ext_errno(loc) = GL_ESECOND;
      return nullptr;
    }
    pt->second = 59;
  }
  return t;
}
