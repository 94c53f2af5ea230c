// The time formatting engine and its multibyte and expansion fronts.
#include "locale/format/gl_strftime.h"

#include <string.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_width.h"
#include "locale/format/gl_calendar.h"
#include "locale/format/gl_format_errors.h"
#include "locale/format/gl_strftime_engine.h"

namespace glftime {

namespace {

void SetError(GlLocale *loc, int32_t e) { *_gl_ext_errno(loc) = e; }

enum { kIntervalMode = 0, kTimeMode = 1 };

// Characters and bytes (terminator not counted) of a multibyte text.
Longest Measure(GlLocale *loc, const char *s) {
  Longest l;
  if (s == nullptr) return l;
  if (loc->single_byte) {
    l.chars = l.bytes = static_cast<int32_t>(strlen(s));
    return l;
  }
  int32_t bytes = gl_mbsbytes(loc, s);
  l.bytes = bytes > 0 ? bytes - gl_mb_loc_min(loc) : 0;
  int32_t chars = _gl_im_mbslen(loc, s);
  l.chars = chars > 0 ? chars : 0;
  return l;
}

void Widest(GlLocale *loc, Longest *l, const char *s) {
  Longest m = Measure(loc, s);
  if (m.chars > l->chars) l->chars = m.chars;
  if (m.bytes > l->bytes) l->bytes = m.bytes;
}

Longests FindLongest(GlLocale *loc) {
  const GlTimeInfo &t = loc->time;
  Longests l;
  for (int32_t i = 0; i < 7; ++i) {
    Widest(loc, &l.abday, t.abday[i]);
    Widest(loc, &l.day, t.day[i]);
  }
  for (int32_t i = 0; t.abmon != nullptr && i < t.abmon_count; ++i) Widest(loc, &l.abmon, t.abmon[i]);
  for (int32_t i = 0; t.mon != nullptr && i < t.mon_count; ++i) Widest(loc, &l.mon, t.mon[i]);
  for (int32_t i = 0; i < 2; ++i) Widest(loc, &l.am_pm, t.am_pm[i]);
  for (int32_t i = 0; t.era_records != nullptr && i < t.era_count; ++i) {
    if (t.era_records[i] == nullptr) continue;
    Widest(loc, &l.era_name, t.era_records[i]->name);
    Widest(loc, &l.era_name2, t.era_records[i]->name2);
  }
  for (int32_t i = 0; t.alt_digits != nullptr && i < t.alt_digits_count; ++i) {
    Widest(loc, &l.alt_digit, t.alt_digits[i]);
  }
  return l;
}

int32_t Digits(int32_t v) { return _gl_ndigits(v, 10); }

// The string-field bound: max(W, longest) for each counter.
void BoundText(Run *run, int32_t width, const Longest &l) {
  run->Bound(Max(width, l.chars), Max(width, l.bytes));
}

bool Execute(Run *run, const GlWchar *format, GlTimeFields *f, int32_t mode);

// The fraction field of v: n digits (cut, never rounded), after a point
// when point is set.
bool PutFraction(Run *run, int32_t v, const GlFormatSpec &spec, int32_t n, bool point) {
  int64_t p = point ? 1 : 0;
  int64_t len = spec.width > n + p ? spec.width : n + p;
  if (run->count + len > run->capacity) {
    SetError(run->loc, GL_E2BIG);
    return false;
  }
  char six[7];
  for (int32_t i = 5, x = v; i >= 0; --i, x /= 10) six[i] = static_cast<char>('0' + x % 10);
  int64_t pads = len - n - p;
  bool left = spec.justify == -1;
  if (!left) {
    for (int64_t i = 0; i < pads; ++i) *run->out++ = spec.pad;
  }
  if (point) *run->out++ = '.';
  for (int32_t i = 0; i < n; ++i) *run->out++ = i < 6 ? static_cast<GlWchar>(six[i]) : '0';
  if (left) {
    for (int64_t i = 0; i < pads; ++i) *run->out++ = spec.pad;
  }
  run->count += static_cast<int32_t>(len);
  return true;
}

const char *MonthName(const GlTimeInfo &t, char **names, int32_t count, int32_t index) {
  (void)t;
  if (names == nullptr || index < 0 || index >= count) return nullptr;
  return names[index];
}

// One conversion after '%' and its specification; *p on the letter.
bool Convert(Run *run, const GlWchar **p, GlTimeFields *f, GlFormatSpec &spec, int32_t mode) {
  GlLocale *loc = run->loc;
  const GlTimeInfo &t = loc->time;
  const bool ex = run->Expanding();
  const int32_t W = spec.width;
  auto P = [&](int32_t def) { return spec.precision >= 0 ? spec.precision : def; };
  GlWchar c = **p;
  if (c == 0) {
    SetError(loc, GL_EMISSING);
    return false;
  }
  ++*p;
  switch (c) {
    case '%':
      if (ex) return run->Bound(1), true;
      return PutChar(run, '%');
    case 'n':
    case 't':
      if (ex) return run->Bound(1), true;
      return PutChar(run, c == 'n' ? '\n' : '\t');
    case 'a':
    case 'A': {
      if (ex) return BoundText(run, W, c == 'a' ? run->longest->abday : run->longest->day), true;
      if (!Check(run, f, kWday)) return false;
      return PutString(run, c == 'a' ? t.abday[f->wday] : t.day[f->wday], spec);
    }
    case 'b':
    case 'h':
    case 'B': {
      bool full = c == 'B';
      if (ex) return BoundText(run, W, full ? run->longest->mon : run->longest->abmon), true;
      if (!Check(run, f, kMonth)) return false;
      const char *name = full ? MonthName(t, t.mon, t.mon_count, f->month_name)
                              : MonthName(t, t.abmon, t.abmon_count, f->month_name);
      if (name == nullptr) {
        SetError(loc, GL_EMONTH);
        return false;
      }
      return PutString(run, name, spec);
    }
    case 'c':
    case 'x':
    case 'X':
    case 'r': {
      const GlWchar *sub = c == 'c' ? t.d_t_fmt_wc : c == 'x' ? t.d_fmt_wc
                         : c == 'X' ? t.t_fmt_wc : t.t_fmt_ampm_wc;
      return SubFormat(run, sub, f);
    }
    case 'C':
    case 'g':
      if (ex) return run->Bound(Max(Max(2, W), spec.precision)), true;
      if (!Check(run, f, kYear)) return false;
      return PutNumber(run, (f->year + 1900) / 100, spec, spec.precision);
    case 'd':
      if (ex) return run->Bound(Max(Max(2, W), P(2))), true;
      if (!Check(run, f, mode == kIntervalMode ? kMdayInterval : kMday)) return false;
      return PutNumber(run, f->mday, spec, P(2));
    case 'D': {
      int32_t prec = P(2);
      if (ex) {
        int32_t months = t.mon_count > 0 ? t.mon_count - 1 : 0;
        return run->Bound(Max(3 * static_cast<int64_t>(Max(W, prec)) + 2, 4 + Digits(months))),
               true;
      }
      if (!Check(run, f, kMonth) || !Check(run, f, kMday) || !Check(run, f, kYear)) return false;
      return PutNumber(run, f->month + 1, spec, prec) && PutChar(run, '/') &&
             PutNumber(run, f->mday, spec, prec) && PutChar(run, '/') &&
             PutNumber(run, (f->year + 1900) % 100, spec, prec);
    }
    case 'e': {
      if (ex) return run->Bound(Max(Max(2, W), spec.precision)), true;
      if (!Check(run, f, kMday)) return false;
      GlFormatSpec s = spec;
      if (f->mday < 10 && spec.precision < 2) {
        if (!PutChar(run, ' ')) return false;
        if (s.width > 0) --s.width;
      }
      return PutNumber(run, f->mday, s, spec.precision);
    }
    case 'F':
    case 'i': {
      bool point = false;
      if (c == 'i') {
        GlWchar next = **p;
        if (next == 'Y' || next == 'y') {
          ++*p;
          if (next == 'Y') {
            if (ex) return run->Bound(Max(Max(4, W), P(4))), true;
            if (!Check(run, f, kYear)) return false;
            int32_t y = f->year + 1900;
            return PutNumber(run, y < 0 ? -static_cast<int64_t>(y) : y, spec, P(4));
          }
          if (ex) return run->Bound(Max(Max(2, W), P(2))), true;
          return PutNumber(run, (f->year + 1900) % 100, spec, P(2));
        }
        if (next != 'F') {
          SetError(loc, GL_EBADCONV);
          return false;
        }
        ++*p;
        point = true;
      }
      // A digit right after the F is the precision.
      GlWchar d = **p;
      if (d >= '0' && d <= '9') {
        if (d > '5') {
          SetError(loc, GL_EBADCONV);
          return false;
        }
        ++*p;
        spec.precision = static_cast<int32_t>(d - '0');
        if (spec.width < spec.precision) spec.width = spec.precision;
      }
      int32_t n = P(point ? 2 : 6);
      if (ex) return run->Bound(Max(Max(6, spec.width), n)), true;
      if (!Check(run, f, kFraction)) return false;
      return PutFraction(run, f->fraction, spec, n, point);
    }
    case 'H':
      if (ex) return run->Bound(Max(Max(2, W), P(2))), true;
      if (!Check(run, f, kHour)) return false;
      return PutNumber(run, f->hour, spec, P(2));
    case 'I':
      if (ex) return run->Bound(Max(Max(2, W), P(2))), true;
      if (!Check(run, f, kHour)) return false;
      return PutNumber(run, f->hour == 0 || f->hour == 12 ? 12 : f->hour % 12, spec, P(2));
    case 'j':
      if (ex) return run->Bound(Max(Max(3, W), P(3))), true;
      if (!Check(run, f, kYday)) return false;
      return PutNumber(run, f->yday + 1, spec, P(3));
    case 'm':
      if (ex) {
        int32_t months = t.mon_count > 0 ? t.mon_count - 1 : 0;
        return run->Bound(Max(Max(Digits(months), W), P(2))), true;
      }
      if (!Check(run, f, kMonth)) return false;
      return PutNumber(run, f->month + 1, spec, P(2));
    case 'M':
      if (ex) return run->Bound(Max(Max(2, W), P(2))), true;
      if (!Check(run, f, kMinute)) return false;
      return PutNumber(run, f->minute, spec, P(2));
    case 'p':
      if (ex) return BoundText(run, W, run->longest->am_pm), true;
      if (!Check(run, f, kHour)) return false;
      return PutString(run, t.am_pm[f->hour / 12], spec);
    case 'R':
      if (ex) return run->Bound(Max(2 * static_cast<int64_t>(Max(W, spec.precision)) + 1, 5)), true;
      if (!Check(run, f, kHour) || !Check(run, f, kMinute)) return false;
      return PutNumber(run, f->hour, spec, spec.precision) && PutChar(run, ':') &&
             PutNumber(run, f->minute, spec, spec.precision);
    case 'S':
      if (ex) return run->Bound(Max(Max(2, W), P(2))), true;
      if (!Check(run, f, kSecond)) return false;
      return PutNumber(run, f->second, spec, P(2));
    case 'T':
      if (ex) return run->Bound(Max(3 * static_cast<int64_t>(Max(W, spec.precision)) + 2, 8)), true;
      if (!Check(run, f, kSecond) || !Check(run, f, kMinute) || !Check(run, f, kHour)) return false;
      return PutNumber(run, f->hour, spec, spec.precision) && PutChar(run, ':') &&
             PutNumber(run, f->minute, spec, spec.precision) && PutChar(run, ':') &&
             PutNumber(run, f->second, spec, spec.precision);
    case 'u':
    case 'w':
      if (ex) return run->Bound(Max(Max(1, W), P(2))), true;
      if (!Check(run, f, kWday)) return false;
      return PutNumber(run, c == 'u' && f->wday == 0 ? 7 : f->wday, spec, P(2));
    case 'y':
      if (ex) return run->Bound(Max(Max(2, W), P(2))), true;
      return PutNumber(run, (f->year + 1900) % 100, spec, P(2));
    case 'Y': {
      if (ex) return run->Bound(Max(Max(4, W), P(4))), true;
      if (!Check(run, f, kYear)) return false;
      int32_t y = f->year + 1900;
      if (!PutNumber(run, y < 0 ? -static_cast<int64_t>(y) : y, spec, P(4))) {
        SetError(loc, GL_EYEARFIELD);
        return false;
      }
      return true;
    }
    case 'E':
      return EraConversion(run, p, f, spec);
    case 'O':
      return AltConversion(run, p, f, spec);
    default:
      SetError(loc, GL_EBADCONV);
      return false;
  }
}

bool Execute(Run *run, const GlWchar *format, GlTimeFields *f, int32_t mode) {
  GlLocale *loc = run->loc;
  for (const GlWchar *p = format; *p != 0;) {
    if (*p != '%') {
      if (run->Expanding()) {
        run->Bound(1, gl_wclen(loc, *p));
      } else if (!PutChar(run, *p)) {
        return false;
      }
      ++p;
      continue;
    }
    ++p;
    GlFormatSpec spec;
    _gl_fmtspec_preset(&spec);
    if (_gl_parse_fmtspec(loc, &p, &spec, nullptr, nullptr) != 0) return false;
    if ((*p == 'E' && loc->time.era_count <= 0) || (*p == 'O' && loc->time.alt_digits_count <= 0)) {
      ++p;
    }
    if (!Convert(run, &p, f, spec, mode)) return false;
  }
  return true;
}

}  // namespace

int32_t Max(int64_t a, int64_t b) { return Run::Clamp(a > b ? a : b); }

bool Check(Run *run, const GlTimeFields *f, Field field) {
  int32_t v = 0, lo = 0, hi = 0, err = 0;
  switch (field) {
    case kFraction: v = f->fraction, lo = 0, hi = 999999, err = GL_EFRACTION; break;
    case kSecond: v = f->second, lo = 0, hi = 60, err = GL_ESECOND; break;
    case kMinute: v = f->minute, lo = 0, hi = 59, err = GL_EMINUTE; break;
    case kHour: v = f->hour, lo = 0, hi = 23, err = GL_EHOUR; break;
    case kMday: v = f->mday, lo = 1, hi = 99, err = GL_EMDAY; break;
    case kMdayInterval: v = f->mday, lo = INT32_MIN, hi = 99, err = GL_EMDAY; break;
    case kMonth: v = f->month, lo = 0, hi = run->loc->time.mon_count - 1, err = GL_EMONTH; break;
    case kYear: v = f->year, lo = -1900, hi = 8099, err = GL_EYEAR; break;
    case kWday: v = f->wday, lo = 0, hi = 6, err = GL_EWDAY; break;
    case kYday: v = f->yday, lo = 0, hi = 365, err = GL_EYDAY; break;
  }
  if (v < lo || v > hi) {
    SetError(run->loc, err);
    return false;
  }
  return true;
}

bool PutChar(Run *run, GlWchar c) {
  if (run->count + 1 > run->capacity) {
    SetError(run->loc, GL_E2BIG);
    return false;
  }
  *run->out++ = c;
  ++run->count;
  return true;
}

bool PutNumber(Run *run, int64_t v, const GlFormatSpec &spec, int32_t precision) {
  uint32_t flags = 0;
  if (spec.justify == -1) flags |= GL_FMT_LEFT;
  if (spec.pad == '0') flags |= GL_FMT_ZERO;
  uint64_t magnitude = v < 0 ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v);
  return _gl_put_uint64_field(run->loc, magnitude, v < 0 ? 1 : 0, 10, &run->count, run->capacity,
                              &run->out, spec.width, precision, flags) == 0;
}

bool PutString(Run *run, const char *text, const GlFormatSpec &spec) {
  GlLocale *loc = run->loc;
  GlWchar local[256];
  GlWchar *wide = local;
  GlWchar *grown = nullptr;
  int32_t n = 0;
  if (text != nullptr) {
    n = loc->mbstowcs(loc, local, text, 256);
    if (n >= 256) {
      grown = _gl_mbstowcs_grow(loc, text);
      if (grown == nullptr) return false;
      wide = grown;
      n = _gl_text_chars(grown);
    }
    if (n < 0) return false;
  }
  bool ok = false;
  int64_t width = 0;
  int32_t kept = 0;
  for (; kept < n; ++kept) {
    int32_t w = gl_wcwidth(loc, wide[kept]);
    if (w < 0) goto done;
    if (spec.precision > 0 && width + w > spec.precision) break;
    width += w;
  }
  {
    int64_t pads = spec.width > width ? spec.width - width : 0;
    if (run->count + kept + pads > run->capacity) {
      SetError(loc, GL_E2BIG);
      goto done;
    }
    if (spec.justify != -1) {
      for (int64_t i = 0; i < pads; ++i) *run->out++ = spec.pad;
    }
    for (int32_t i = 0; i < kept; ++i) *run->out++ = wide[i];
    if (spec.justify == -1) {
      for (int64_t i = 0; i < pads; ++i) *run->out++ = spec.pad;
    }
    run->count += kept + static_cast<int32_t>(pads);
    ok = true;
  }
done:
  _gl_free(grown);
  return ok;
}

bool SubFormat(Run *run, const GlWchar *format, GlTimeFields *f) {
  if (format == nullptr || format[0] == 0) return true;
  if (run->Expanding()) {
    Run sub = *run;
    return Execute(&sub, format, f, kTimeMode);
  }
  Run sub = *run;
  sub.count = 0;
  sub.capacity = run->capacity - run->count;
  if (!Execute(&sub, format, f, kTimeMode)) return false;
  if (sub.count + 1 > sub.capacity) {
    SetError(run->loc, GL_E2BIG);
    return false;
  }
  if (sub.count == 0) {
    // A locale format that produces nothing (empty am/pm strings, say)
    // would leave a field silently blank.
    SetError(run->loc, GL_EBADCONV);
    return false;
  }
  run->out = sub.out;
  run->count += sub.count;
  return true;
}

}  // namespace glftime

using namespace glftime;

int32_t _gl_wcsftime_internal(GlLocale *loc, GlWchar *out, int32_t capacity,
                              const GlWchar *format, GlTimeFields *fields, int32_t *chars,
                              int32_t *bytes, int32_t mode) {
  Longests longest;
  Run run = {loc, out, 0, capacity, chars, bytes, &longest};
  if (run.Expanding()) longest = FindLongest(loc);
  if (format == nullptr) {
    *_gl_ext_errno(loc) = GL_EMISSING;
    return 0;
  }
  GlTimeFields local;
  GlTimeFields *f = fields;
  // In expansion mode no field is read, so nothing is converted.
  if (!run.Expanding() && loc->time.calendar > 1) {
    memset(&local, 0, sizeof local);
    local.mday = 1;
    int32_t saved = *_gl_ext_errno(loc);
    *_gl_ext_errno(loc) = 0;
    if (gl_cal_gregorian_to_local(loc, fields, &local) != 0) {
      // A date the calendar cannot show must not read as an empty text.
      if (*_gl_ext_errno(loc) == 0) *_gl_ext_errno(loc) = GL_EYEAR;
      return 0;
    }
    *_gl_ext_errno(loc) = saved;
    f = &local;
  }
  if (!Execute(&run, format, f, mode)) return 0;
  if (run.Expanding()) return 0;
  if (run.count + 1 > run.capacity) {
    *_gl_ext_errno(loc) = GL_E2BIG;
    return 0;
  }
  *run.out = 0;
  return run.count;
}

GlWchar *_gl_mbstowcs_grow(GlLocale *loc, const char *s) {
  GlWchar *buf = nullptr;
  for (int64_t size = 512; size <= (int64_t{1} << 28); size *= 2) {
    _gl_free(buf);
    buf = static_cast<GlWchar *>(_gl_malloc(static_cast<uint64_t>(size) * sizeof(GlWchar)));
    if (buf == nullptr) return nullptr;
    int32_t r = loc->mbstowcs(loc, buf, s, static_cast<int32_t>(size));
    if (r < 0) break;
    if (r < size) return buf;
  }
  _gl_free(buf);
  return nullptr;
}

int32_t _gl_mbsftime_internal(GlLocale *loc, char *out, int32_t size, const char *format,
                              GlTimeFields *fields, int32_t *chars, int32_t *bytes,
                              int32_t mode) {
  if (format == nullptr) return 0;
  if (loc->mbstowcs == nullptr) {  // no LC_CTYPE data
    *_gl_ext_errno(loc) = GL_ENOCTYPE;
    return 0;
  }
  GlWchar wformat_local[256];
  GlWchar *wformat = wformat_local;
  GlWchar *grown_format = nullptr;
  int32_t r = loc->mbstowcs(loc, wformat_local, format, 256);
  if (r < 0) return -1;
  if (r >= 256) {
    grown_format = _gl_mbstowcs_grow(loc, format);
    if (grown_format == nullptr) return 0;
    wformat = grown_format;
  }
  GlWchar wout_local[256];
  GlWchar *wout = wout_local;
  GlWchar *grown_out = nullptr;
  if (size > 256) {
    grown_out = static_cast<GlWchar *>(
        _gl_malloc((static_cast<uint64_t>(size) + 1) * sizeof(GlWchar)));
    if (grown_out == nullptr) {
      _gl_free(grown_format);
      return 0;
    }
    wout = grown_out;
  }
  int32_t result = 0;
  int32_t n = _gl_wcsftime_internal(loc, wout, size, wformat, fields, chars, bytes, mode);
  if (n > 0) {
    // Convert into scratch first: the caller gets the whole text with its
    // terminator or nothing at all.
    char *scratch = static_cast<char *>(_gl_malloc(static_cast<uint64_t>(size)));
    if (scratch != nullptr) {
      memset(scratch, 0xff, static_cast<size_t>(size));
      int32_t m = gl_mb_loc_min(loc);
      int32_t b = loc->single_byte ? _gl_is_wcstombs(loc, scratch, wout, size)
                                   : gl_full_wcstombs(loc, scratch, wout, size);
      bool terminated = b >= 0 && static_cast<int64_t>(b) + m <= size;
      for (int32_t i = 0; terminated && i < m; ++i) terminated = scratch[b + i] == 0;
      if (b >= 0 && !terminated) {
        *_gl_ext_errno(loc) = GL_E2BIG;
      } else if (b >= 0) {
        memcpy(out, scratch, static_cast<size_t>(b + m));
        result = b;
      }
      _gl_free(scratch);
    }
  }
  _gl_free(grown_out);
  _gl_free(grown_format);
  return result;
}

namespace {

int32_t FormatRecord(GlLocale *loc, char *out, int32_t size, const char *format,
                     GlTimeRecord *rec, int32_t mode) {
  *_gl_ext_errno(loc) = 0;
  GlTimeFields f;
  _gl_time_to_fields(rec, rec->month, &f);
  int32_t r = _gl_mbsftime_internal(loc, out, size, format, &f, nullptr, nullptr, mode);
  _gl_fields_to_time(&f, rec);
  return r;
}

}  // namespace

int32_t gl_mbsftime(GlLocale *loc, char *out, int32_t size, const char *format,
                    GlTimeRecord *rec) {
  return FormatRecord(loc, out, size, format, rec, 1);
}

int32_t gl_mbsfinterval(GlLocale *loc, char *out, int32_t size, const char *format,
                        GlTimeRecord *rec) {
  return FormatRecord(loc, out, size, format, rec, 0);
}

int32_t gl_wcsftime(GlLocale *loc, GlWchar *out, int32_t size, const GlWchar *format,
                    GlTimeRecord *rec) {
  *_gl_ext_errno(loc) = 0;
  GlTimeFields f;
  _gl_time_to_fields(rec, rec->month, &f);
  int32_t r = _gl_wcsftime_internal(loc, out, size, format, &f, nullptr, nullptr, 1);
  _gl_fields_to_time(&f, rec);
  return r;
}

int32_t gl_mbsfmtexpand(GlLocale *loc, int32_t kind, const char *format) {
  if (kind != 1) return -1;
  GlTimeFields f;
  memset(&f, 0, sizeof f);
  int32_t bytes = 0;
  *_gl_ext_errno(loc) = 0;
  if (_gl_mbsftime_internal(loc, nullptr, 0, format, &f, nullptr, &bytes, 1) < 0) return -1;
  return bytes;
}

int32_t gl_wcsfmtexpand(GlLocale *loc, int32_t kind, const GlWchar *format) {
  if (kind != 1) return -1;
  GlTimeFields f;
  memset(&f, 0, sizeof f);
  int32_t chars = 0;
  *_gl_ext_errno(loc) = 0;
  _gl_wcsftime_internal(loc, nullptr, 0, format, &f, &chars, nullptr, 1);
  return chars;
}
