// The E (eras) and O (alternate digits) modifiers of the time formatting
// engine, the era look-up and the writer of numbers in alternate digits.
#include <string.h>

#include <initializer_list>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_width.h"
#include "locale/format/gl_format_errors.h"
#include "locale/format/gl_strftime.h"
#include "locale/format/gl_strftime_engine.h"

namespace {

void SetError(GlLocale *loc, int32_t e) { *_gl_ext_errno(loc) = e; }

// Digits of v (>= 0) in base n (at least 2).
int32_t BaseDigits(int64_t v, int32_t n) {
  int32_t k = 1;
  while (v >= n) {
    v /= n;
    ++k;
  }
  return k;
}

}  // namespace

int32_t _gl_era_contains(const GlEraRecord *era, int32_t day, int32_t month, int32_t year) {
  const int32_t d = era->direction;
  bool after_start =
      d * era->start_year < d * year ||
      (era->start_year == year &&
       (d * era->start_month < d * month ||
        (era->start_month == month && (d * era->start_day < d * day || era->start_day == day))));
  bool before_end =
      era->end_kind * d > 0 || d * year < d * era->end_year ||
      (era->end_year == year &&
       (d * month < d * era->end_month ||
        (era->end_month == month && (d * day < d * era->end_day || era->end_day == day))));
  return after_start && before_end ? 0 : -1;
}

int32_t _gl_era_find(GlEraRecord *const *eras, int32_t count, const GlTimeFields *f) {
  for (int32_t i = 0; eras != nullptr && i < count; ++i) {
    if (eras[i] != nullptr && _gl_era_contains(eras[i], f->mday, f->month + 1, f->year + 1900) == 0) {
      return i;
    }
  }
  return -1;
}

int32_t _gl_era_year(GlEraRecord *const *eras, int32_t index, const GlTimeFields *f) {
  const GlEraRecord *e = eras[index];
  const int32_t d = e->direction;
  int32_t y = (f->year + 1900 - e->start_year) * d + e->offset;
  int32_t month = f->month + 1;
  if (d * month < d * e->start_month || (month == e->start_month && d * f->mday < d * e->start_day)) {
    --y;
  }
  return y;
}

int32_t _gl_alt_number(GlLocale *loc, int32_t v, int32_t *count, int32_t capacity, GlWchar **out,
                       int32_t width, int32_t precision, int32_t justify, GlWchar pad) {
  const GlTimeInfo &t = loc->time;
  const int32_t n = t.alt_digits_count;
  if (n <= 0 || t.alt_digits_wc == nullptr) {
    SetError(loc, GL_EBADCONV);
    return -1;
  }
  // A negative number (an era year below 0) is its magnitude after a '-'.
  bool negative = v < 0;
  int64_t mag = negative ? -static_cast<int64_t>(v) : v;
  const GlWchar *zero = t.alt_digits_wc[0];
  // One alternate digit gives no positional notation.
  if (n < 2) {
    SetError(loc, GL_EBADCONV);
    return -1;
  }
  const int32_t base = n;
  int32_t digits[64];
  int32_t k = 0;
  int64_t x = mag;
  do {
    digits[k++] = static_cast<int32_t>(x % base);
    x /= base;
  } while (x != 0);
  int64_t length = 0;
  int64_t cols = 0;
  for (int32_t i = 0; i < k; ++i) {
    const GlWchar *s = t.alt_digits_wc[digits[i]];
    length += _gl_text_chars(s);
    cols += _gl_text_width(loc, s);
  }
  const int64_t zero_len = _gl_text_chars(zero);
  const int64_t zero_cols = _gl_text_width(loc, zero);
  int64_t zeros = precision > k ? precision - k : 0;
  length += zeros * zero_len + (negative ? 1 : 0);
  cols += zeros * zero_cols + (negative ? 1 : 0);
  // Fill: whole units of the zero string (pad '0') or blanks, then blanks
  // for the columns left over.
  const bool zero_unit = pad == '0' && zero_cols > 0;
  int64_t units = 0, unit_len = 0, blanks = 0;
  if (width >= cols) {
    int64_t room = width - cols;
    int64_t unit_cols = zero_unit ? zero_cols : 1;
    unit_len = zero_unit ? zero_len : 1;
    units = room / unit_cols;
    blanks = room - units * unit_cols;
  }
  int64_t fill = units * unit_len + blanks;
  if (static_cast<int64_t>(*count) + length + fill > capacity) {
    SetError(loc, GL_E2BIG);
    return -1;
  }
  GlWchar *p = *out;
  auto put = [&p](const GlWchar *s) {
    while (s != nullptr && *s != 0) *p++ = *s++;
  };
  auto put_fill = [&](bool left) {
    if (!left) {
      for (int64_t i = 0; i < blanks; ++i) *p++ = ' ';
    }
    for (int64_t i = 0; i < units; ++i) {
      if (zero_unit) {
        put(zero);
      } else {
        *p++ = ' ';
      }
    }
    if (left) {
      for (int64_t i = 0; i < blanks; ++i) *p++ = ' ';
    }
  };
  bool left = justify == -1;
  if (!left) put_fill(false);
  if (negative) *p++ = '-';
  for (int64_t i = 0; i < zeros; ++i) put(zero);
  for (int32_t i = k - 1; i >= 0; --i) put(t.alt_digits_wc[digits[i]]);
  if (left) put_fill(true);
  *count += static_cast<int32_t>(p - *out);
  *out = p;
  return 0;
}

namespace glftime {

namespace {

// Characters the era year can take in the years 0-9999 (a sign included),
// over all eras: the bound of %Ey must hold for a 4-digit era year too.
int32_t EraYearChars(const GlTimeInfo &t) {
  int32_t most = 0;
  for (int32_t i = 0; t.era_records != nullptr && i < t.era_count; ++i) {
    const GlEraRecord *e = t.era_records[i];
    if (e == nullptr) continue;
    const int64_t ends[] = {0, 9999, e->start_year, e->end_year};
    for (int64_t y : ends) {
      for (int64_t v : {(y - e->start_year) * e->direction + e->offset,
                        (y - e->start_year) * e->direction + e->offset - 1}) {
        int32_t chars = (v < 0 ? 1 : 0);
        int64_t m = v < 0 ? -v : v;
        do {
          ++chars;
          m /= 10;
        } while (m != 0);
        if (chars > most) most = chars;
      }
    }
  }
  return most;
}

// The era of the fields after the field tests: its index, or -1 (error set).
int32_t FindEra(Run *run, const GlTimeFields *f, bool test_fields) {
  if (test_fields && (!Check(run, f, kYear) || !Check(run, f, kMonth) || !Check(run, f, kMday))) {
    return -1;
  }
  const GlTimeInfo &t = run->loc->time;
  int32_t i = _gl_era_find(t.era_records, t.era_count, f);
  if (i < 0) SetError(run->loc, GL_ENOERA);
  return i;
}

bool Alt(Run *run, int64_t v, const GlFormatSpec &spec, int32_t precision) {
  int32_t value = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
  return _gl_alt_number(run->loc, value, &run->count, run->capacity, &run->out, spec.width,
                        precision, spec.justify, spec.pad) == 0;
}

}  // namespace

bool EraConversion(Run *run, const GlWchar **p, GlTimeFields *f, const GlFormatSpec &spec) {
  GlLocale *loc = run->loc;
  const GlTimeInfo &t = loc->time;
  const bool ex = run->Expanding();
  const int32_t W = spec.width;
  GlWchar c = **p;
  if (c == 0) {
    SetError(loc, GL_EBADCONV);
    return false;
  }
  ++*p;
  switch (c) {
    case 'C':
    case 'g': {
      const Longest &l = c == 'C' ? run->longest->era_name : run->longest->era_name2;
      if (ex) return run->Bound(Max(W, l.chars), Max(W, l.bytes)), true;
      int32_t i = FindEra(run, f, true);
      if (i < 0) return false;
      const char *name = c == 'C' ? t.era_records[i]->name : t.era_records[i]->name2;
      return PutString(run, name, spec);
    }
    case 'y': {
      int32_t prec = spec.precision >= 0 ? spec.precision : 2;
      if (ex) return run->Bound(Max(Max(W, prec), EraYearChars(t))), true;
      int32_t i = FindEra(run, f, true);
      if (i < 0) return false;
      return PutNumber(run, _gl_era_year(t.era_records, i, f), spec, prec);
    }
    case 'Y': {
      if (ex) {
        // The largest bound among the formats of all eras.
        int32_t best_chars = 0, best_bytes = 0;
        for (int32_t i = 0; t.era_records != nullptr && i < t.era_count; ++i) {
          if (t.era_records[i] == nullptr) continue;
          int32_t ch = 0, by = 0;
          Run sub = *run;
          sub.chars = run->chars != nullptr ? &ch : nullptr;
          sub.bytes = run->bytes != nullptr ? &by : nullptr;
          bool ok = SubFormat(&sub, t.era_records[i]->format_wc, f);
          if (ch > best_chars) best_chars = ch;
          if (by > best_bytes) best_bytes = by;
          if (!ok) {
            run->Bound(best_chars, best_bytes);
            return false;
          }
        }
        run->Bound(best_chars, best_bytes);
        return true;
      }
      int32_t i = FindEra(run, f, false);
      if (i < 0) return false;
      return SubFormat(run, t.era_records[i]->format_wc, f);
    }
    case 'x':
      return SubFormat(run, t.era_d_fmt_wc, f);
    case 'c':
      return SubFormat(run, t.era_d_t_fmt_wc, f);
    case 'X':
      return SubFormat(run, t.era_t_fmt_wc, f);
    default:
      SetError(loc, GL_EBADCONV);
      return false;
  }
}

bool AltConversion(Run *run, const GlWchar **p, GlTimeFields *f, const GlFormatSpec &spec) {
  GlLocale *loc = run->loc;
  const GlTimeInfo &t = loc->time;
  const bool ex = run->Expanding();
  const int32_t W = spec.width;
  const int32_t P = spec.precision;
  GlWchar c = **p;
  if (c == 0) {
    SetError(loc, GL_EBADCONV);
    return false;
  }
  ++*p;
  const Longest &L = run->longest->alt_digit;
  auto prec = [&](int32_t def) { return P >= 0 ? P : def; };
  // max(W, P x L, 10 x L) per counter; a precision of -1 adds nothing.
  auto bound = [&](int32_t p) {
    int64_t pc = p > 0 ? static_cast<int64_t>(p) * L.chars : 0;
    int64_t pb = p > 0 ? static_cast<int64_t>(p) * L.bytes : 0;
    run->Bound(Max(Max(W, pc), 10 * static_cast<int64_t>(L.chars)),
               Max(Max(W, pb), 10 * static_cast<int64_t>(L.bytes)));
    return true;
  };
  auto bound30 = [&](int64_t w_term) {
    int64_t pp = P > 0 ? 30 * static_cast<int64_t>(P) + 2 : 0;
    run->Bound(Max(Max(pp, 30 * static_cast<int64_t>(L.chars) + 2), w_term),
               Max(Max(pp, 30 * static_cast<int64_t>(L.bytes) + 2), w_term));
    return true;
  };
  switch (c) {
    case 'C':
      if (ex) return bound(P);
      if (!Check(run, f, kYear)) return false;
      return Alt(run, (f->year + 1900) / 100, spec, P);
    case 'D':
      if (ex) return bound30(3 * static_cast<int64_t>(W) + 2);
      if (!Check(run, f, kMonth) || !Check(run, f, kMday) || !Check(run, f, kYear)) return false;
      return Alt(run, f->month + 1, spec, P) && PutChar(run, '/') && Alt(run, f->mday, spec, P) &&
             PutChar(run, '/') && Alt(run, (f->year + 1900) % 100, spec, P);
    case 'd':
      if (ex) return bound(prec(2));
      if (!Check(run, f, kMday)) return false;
      return Alt(run, f->mday, spec, prec(2));
    case 'e': {
      if (ex) return bound(P);
      if (!Check(run, f, kMday)) return false;
      int32_t n = t.alt_digits_count >= 2 ? t.alt_digits_count : 10;
      int32_t blanks = BaseDigits(31, n) - BaseDigits(f->mday, n);
      for (int32_t i = 0; i < blanks; ++i) {
        if (!PutChar(run, ' ')) return false;
      }
      return Alt(run, f->mday, spec, P);
    }
    case 'H':
      if (ex) return bound(prec(2));
      if (!Check(run, f, kHour)) return false;
      return Alt(run, f->hour, spec, prec(2));
    case 'I':
      if (ex) return bound(prec(2));
      if (!Check(run, f, kHour)) return false;
      return Alt(run, f->hour == 0 || f->hour == 12 ? 12 : f->hour % 12, spec, prec(2));
    case 'j':
      if (ex) return bound(prec(3));
      if (!Check(run, f, kYday)) return false;
      return Alt(run, f->yday + 1, spec, prec(3));
    case 'm':
      if (ex) return bound(prec(2));
      if (!Check(run, f, kMonth)) return false;
      return Alt(run, f->month + 1, spec, prec(2));
    case 'M':
      if (ex) return bound(prec(2));
      if (!Check(run, f, kMinute)) return false;
      return Alt(run, f->minute, spec, prec(2));
    case 'R':
      if (ex) return bound(P);
      if (!Check(run, f, kMinute) || !Check(run, f, kHour)) return false;
      return Alt(run, f->hour, spec, P) && PutChar(run, ':') && Alt(run, f->minute, spec, P);
    case 'S':
      if (ex) return bound(prec(2));
      if (!Check(run, f, kSecond)) return false;
      return Alt(run, f->second, spec, prec(2));
    case 'T':
      if (ex) return bound30(W);
      if (!Check(run, f, kHour) || !Check(run, f, kMinute) || !Check(run, f, kSecond)) return false;
      return Alt(run, f->hour, spec, P) && PutChar(run, ':') && Alt(run, f->minute, spec, P) &&
             PutChar(run, ':') && Alt(run, f->second, spec, P);
    case 'u':
    case 'w':
      if (ex) return bound(prec(2));
      if (!Check(run, f, kWday)) return false;
      return Alt(run, c == 'u' && f->wday == 0 ? 7 : f->wday, spec, prec(2));
    case 'y': {
      if (ex) return bound(prec(2));
      if (t.era_count > 0) {
        int32_t i = FindEra(run, f, true);
        if (i < 0) return false;
        return Alt(run, _gl_era_year(t.era_records, i, f), spec, prec(2));
      }
      return Alt(run, (f->year + 1900) % 100, spec, prec(2));
    }
    default:
      SetError(loc, GL_EBADCONV);
      return false;
  }
}

}  // namespace glftime
