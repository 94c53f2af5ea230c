// The standard text forms of DATETIME and INTERVAL values:
// "2024-03-05 10:20:30.123", and for intervals "  -5 03:04:05".
#include <ctype.h>
#include <string.h>

#include "base/env.h"
#include "base/thread_state.h"
#include "sqltypes/date.h"
#include "sqltypes/datetime.h"
#include "sqltypes/datetime_fields.h"
#include "sqltypes/datetime_format.h"

namespace {

// The length dttoasc writes under GL_DATETIME.
constexpr int kFormattedLength = 80;

// The separator written before a unit in the standard form.
char SeparatorBefore(int unit) {
  switch (unit) {
    case TU_MONTH:
    case TU_DAY:
      return '-';
    case TU_HOUR:
      return ' ';
    case TU_MINUTE:
    case TU_SECOND:
      return ':';
    default:
      return '.';
  }
}

bool IsSpace(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Parses the fields of the standard form (after any interval sign). kind 0
// DATETIME, 1 INTERVAL. *two_digit_year is set when a DATETIME's year was
// written with one or two digits.
int ParseFields(const char* p, int kind, int qual, DtFields* f, bool* two_digit_year) {
  const int first = TU_START(qual), last = TU_END(qual);
  const int nf = FracDigits(qual);
  *two_digit_year = false;
  auto fraction = [&](const char* q) -> const char* {
    int64_t frac = 0;
    int n = 0;
    while (IsDigit(*q) && n < nf) {
      frac = frac * 10 + (*q - '0');
      q++;
      n++;
    }
    f->f[6] = frac * Pow10(5 - n);
    return q;
  };
  if (first > TU_SECOND) {
    while (*p == '0') p++;
    if (IsDigit(*p)) return -1263;
    if (*p != '.') return -1271;
    p = fraction(p + 1);
  } else {
    const int lastint = last < TU_SECOND ? last : TU_SECOND;
    for (int u = first; u <= lastint; u += 2) {
      if (u != first)
        while (IsSpace(*p)) p++;
      if (!IsDigit(*p)) return -1262;
      int64_t v = 0;
      int n = 0;
      while (IsDigit(*p) && (u == first || n < 2)) {
        // A first field holds at most 18 digits, whatever its qualifier.
        if (u == first && (n >= FirstDigits(qual) || n >= 18)) return -1261;
        v = v * 10 + (*p++ - '0');
        n++;
      }
      if (u == TU_YEAR && kind == 0 && n <= 2) *two_digit_year = true;
      f->f[UnitIndex(u)] = v;
      const char sep = SeparatorBefore(u == TU_SECOND ? TU_F1 : u + 2);
      if (*p == sep) {
        p++;
        if (u == lastint) {
          if (u == TU_SECOND && last > TU_SECOND) p = fraction(p);
          break;
        }
        continue;
      }
      if (u == last || (u == TU_SECOND && *p == '\0')) break;
      return IsDigit(*p) || *p == '\0' ? -1263 : -1262;
    }
  }
  if (!(*p == '\0' || IsSpace(*p) || IsDigit(*p))) return -1262;
  while (*p != '\0') {
    if (!IsSpace(*p)) return -1264;
    p++;
  }
  return 0;
}

int Parse(const char* text, int kind, int16_t qual, Decimal* out) {
  if (int rc = dtchkqual(kind, qual); rc != 0) return rc;
  const char* p = text;
  int sign = DEC_POS;
  if (kind == 1) {
    while (IsSpace(*p)) p++;
    if (*p == '+' || *p == '-') sign = *p++ == '-' ? DEC_NEG : DEC_POS;
  }
  decsetnull(out);
  while (IsSpace(*p)) p++;
  if (*p == '\0') return 0;
  DtFields f;
  bool two_digit = false;
  if (int rc = ParseFields(p, kind, qual, &f, &two_digit); rc != 0) return rc;
  int32_t today = 0;
  rtoday(&today);
  int16_t mdy[3];
  if (int rc = rjulmdy(today, mdy); rc != 0) return rc;
  if (two_digit) {
    const int last = TU_END(qual);
    const int month = last >= TU_MONTH ? static_cast<int>(f.f[1]) : mdy[0];
    int day = mdy[1];
    if (last >= TU_DAY) {
      day = static_cast<int>(f.f[2]);
    } else {
      const int year = mdy[2] / 100 * 100 + static_cast<int>(f.f[0]);
      const int len = rmonthlength(month, year);
      if (len > 0 && day > len) day = len;
    }
    const int century = rgetcentury(month, day, static_cast<int>(f.f[0]));
    if (century < 0) return century;
    f.f[0] += century * 100;
  }
  Decimal v;
  if (FieldsToDec(f, qual, sign, &v) != 0) return -1261;
  if (int rc = kind == 0 ? dtchkval(&v, qual) : invchkval(&v, qual); rc != 0) return rc;
  *out = v;
  return 0;
}

// Writes the fields after the first (from unit `from`) and the fraction.
char* WriteRest(char* p, const DtFields& f, int qual) {
  const int first = TU_START(qual), last = TU_END(qual);
  if (first <= TU_SECOND) {
    for (int u = first + 2; u <= last && u <= TU_SECOND; u += 2) {
      *p++ = SeparatorBefore(u);
      const int64_t v = f.f[UnitIndex(u)];
      *p++ = static_cast<char>('0' + v / 10 % 10);
      *p++ = static_cast<char>('0' + v % 10);
    }
  }
  const int nf = FracDigits(qual);
  if (nf > 0) {
    *p++ = '.';
    for (int k = 0; k < nf; k++) *p++ = static_cast<char>('0' + f.f[6] / Pow10(4 - k) % 10);
  }
  *p = '\0';
  return p;
}

}  // namespace

int use_dtenv() {
  ThreadRuntimeRecord* tr = rthreadrec();
  if (tr == nullptr) return 0;
  if (!(tr->flags & TR_USE_DTENV_READ)) {
    const char* v = ggetenv("USE_DTENV");
    if (v != nullptr && strcmp(v, "1") == 0) tr->flags |= TR_USE_DTENV_ON;
    tr->flags |= TR_USE_DTENV_READ;
  }
  return (tr->flags & TR_USE_DTENV_ON) ? 0x40 : 0;
}

TV_EXTERN_C TV_API int dtcvasc(const char* text, DateTimeValue* out) {
  if (text == nullptr) return -1262;
  if (use_dtenv() != 0) {
    // Under USE_DTENV the text is read by the format in force; the
    // caller's value changes only when that succeeds.
    DateTimeValue v = *out;
    const int rc = dtcvfmtasc(text, nullptr, &v);
    if (rc == 0) *out = v;
    return rc;
  }
  return Parse(text, 0, out->dt_qual, &out->dt_dec);
}

TV_EXTERN_C TV_API int incvasc(const char* text, IntervalValue* out) {
  if (text == nullptr) return -1262;
  return Parse(text, 1, out->in_qual, &out->in_dec);
}

TV_EXTERN_C TV_API int dttoasc(const DateTimeValue* value, char* out) {
  out[0] = '\0';
  if (ggetenv_idx("GL_DATETIME", ENVROW_GL_DATETIME) != nullptr)
    return dttofmtasc(value, out, kFormattedLength, nullptr);
  const int q = value->dt_qual;
  if (int rc = dtchkqual(0, q); rc != 0) return rc;
  if (value->dt_dec.sign == DEC_NULLSIGN) return 0;
  DtFields f;
  if (DecToFields(&value->dt_dec, q, &f) != 0) return -1266;
  char* p = out;
  if (TU_START(q) <= TU_SECOND) {
    const int nd = FirstDigits(q);
    const int64_t v = f.f[UnitIndex(TU_START(q))];
    for (int k = nd - 1; k >= 0; k--) *p++ = static_cast<char>('0' + v / Pow10(k) % 10);
  }
  WriteRest(p, f, q);
  return 0;
}

TV_EXTERN_C TV_API int intoasc(const IntervalValue* value, char* out) {
  out[0] = '\0';
  const int q = value->in_qual;
  if (int rc = dtchkqual(1, q); rc != 0) return rc;
  if (value->in_dec.sign == DEC_NULLSIGN) return 0;
  DtFields f;
  if (DecToFields(&value->in_dec, q, &f) != 0) return -1266;
  char* p = out;
  *p++ = ' ';
  char* lead = p;  // first significant character
  if (TU_START(q) <= TU_SECOND) {
    const int nd = FirstDigits(q);
    const int64_t v = f.f[UnitIndex(TU_START(q))];
    bool leading = true;
    for (int k = nd - 1; k >= 0; k--) {
      const int d = static_cast<int>(v / Pow10(k) % 10);
      if (leading && d == 0 && k > 0) {
        *p++ = ' ';
        lead = p;
      } else {
        leading = false;
        *p++ = static_cast<char>('0' + d);
      }
    }
  }
  WriteRest(p, f, q);
  if (value->in_dec.sign == DEC_NEG) lead[-1] = '-';
  return 0;
}
