// DATETIME text by time formats: choice and translation of the format,
// the units a format covers, the mapping between values and time records,
// and the parse and format operations.
#include "sqltypes/datetime_format.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "base/client_locale.h"
#include "base/env.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_langinfo.h"
#include "locale/format/gl_strftime.h"
#include "locale/format/gl_strptime.h"
#include "sqltypes/date.h"
#include "sqltypes/datetime_fields.h"

namespace {

constexpr const char* kBuiltinFormat = "%iY-%m-%d %H:%M:%S";
constexpr int32_t kLangInfoDateTime = 0;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return isalpha(static_cast<unsigned char>(c)) != 0; }
bool IsSpace(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

int Accumulate(int value, char digit) {
  const int v = value * 10 + (digit - '0');
  return v > 9999 ? 9999 : v;
}

GlLocale* Client() { return rgllocstate()->client; }

void SetLocaleError(int32_t err) {
  if (GlLocale* loc = Client()) *_gl_ext_errno(loc) = err;
  rsetglerror(err);
}

char* Dup(const std::string& s) {
  char* p = static_cast<char*>(malloc(s.size() + 1));
  if (p != nullptr) memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

char Century() {
  const char c = rgetdbcentury();
  return c != 0 ? c : 'R';
}

// The standard qualifier from unit first to unit last.
int StandardQual(int first, int last) {
  const int digits = (first == TU_YEAR ? 4 : 2) + last - first;
  return TU_ENCODE(digits, first, last);
}

// Owns a format chosen by dtgetfmt.
struct ChosenFormat {
  char* text = nullptr;
  ~ChosenFormat() { free(text); }
};

int DayOfYear(int year, int month, int day) {
  int yday = day - 1;
  for (int m = 1; m < month; m++) yday += rmonthlength(m, year);
  return yday;
}

// Weekday and day of the year of the record's date, when it has a valid one.
void CompleteDay(GlTimeRecord* rec) {
  const int year = rec->year + 1900, month = rec->month + 1;
  const int16_t mdy[3] = {static_cast<int16_t>(month), static_cast<int16_t>(rec->mday),
                          static_cast<int16_t>(year)};
  int32_t date = 0;
  if (rmdyjul(mdy, &date) != 0) return;
  rec->wday = rdayofweek(date);
  rec->yday = DayOfYear(year, month, rec->mday);
}

}  // namespace

int rglerrtosql() {
  GlLocale* loc = Client();
  const int32_t e = loc != nullptr ? *_gl_ext_errno(loc) : 12;
  switch (e) {
    case 3: return -1211;
    case 12: return -23108;
    case 14: return -1273;
    case 15: case 22: return -1276;
    case 42: return -1236;
    case 43: return -1237;
    case 46: return -1277;
    case 47: return -1271;
    default: return e >= 33 && e <= 41 ? -1277 : -1263;
  }
}

int dtfmttogl(const char* format, int mode, char** out, int dot) {
  if (format == nullptr || out == nullptr) return -1272;
  size_t n = strlen(format);
  int era = 0;  // 1 the "g" forms, 2 the "C" forms
  if (n >= 2) {
    const char a = format[n - 2], b = format[n - 1];
    if ((a == 'C' || a == 'c' || a == 'J' || a == 'j') && b == '1') era = 1;
    if ((a == 'J' || a == 'j') && b == '2') era = 2;
    if (era != 0) n -= 2;
  }
  std::string r;
  for (size_t i = 0; i < n;) {
    if (format[i] != '%') {
      r += format[i++];
      continue;
    }
    i++;
    if (i >= n) return -1276;
    std::string conv = "%";
    const bool minus = format[i] == '-';
    if (minus) conv += format[i++];
    std::string width, precision;
    bool dotted = false;
    while (i < n && IsDigit(format[i])) width += format[i++];
    if (i < n && format[i] == '.') {
      dotted = true;
      i++;
      while (i < n && IsDigit(format[i])) precision += format[i++];
    }
    if (i >= n || !IsLetter(format[i])) {
      if (!width.empty() || !precision.empty() || dotted) return -1275;
      if (i >= n) return -1276;
      r += conv;  // "%%" and other characters stay as they are
      r += format[i++];
      continue;
    }
    const char letter = format[i++];
    if (mode == 0) {
      if (width.empty()) width = precision;
      precision.clear();
      dotted = false;
    }
    if ((letter == 'Y' || letter == 'y') && era != 0) {
      const char* prefix = era == 1 ? "%Eg" : "%EC";
      r += prefix;
      r += mode == 0 ? "%Ey" : letter == 'Y' ? "%04.4Ey" : "%02.2Ey";
      continue;
    }
    if (width.empty() && era == 0) {
      if (strchr("HIMRSTdmy", letter) != nullptr) width = "02";
      if (letter == 'Y') width = "04";
    }
    const bool bare = (!minus && width.empty() && !dotted) || (dotted && precision.empty());
    conv += width;
    if (dotted) conv += "." + precision;
    if (letter == 'F') {
      if (dot) conv += 'i';
      conv += 'F';
      if ((i >= n || !IsDigit(format[i])) && bare) conv += '2';
    } else {
      conv += letter;
    }
    r += conv;
  }
  char* copy = Dup(r);
  if (copy == nullptr) return -1211;
  *out = copy;
  return 0;
}

int dtfmtqual(const char* format) {
  if (format == nullptr) return -1272;
  int first = -1, last = -1;
  auto cover = [&](int f, int l) {
    if (first < 0 || f < first) first = f;
    if (last < 0 || l > last) last = l;
  };
  for (const char* p = format; *p != '\0';) {
    if (*p++ != '%') continue;
    if (*p == '\0') return -1276;
    if (*p == '-') p++;
    int width = 0, wdigits = 0, precision = -1;
    // Only one-digit widths and precisions count; longer runs are capped.
    while (IsDigit(*p)) width = Accumulate(width, *p++), wdigits++;
    if (*p == '.') {
      p++;
      precision = 0;
      while (IsDigit(*p)) precision = Accumulate(precision, *p++);
    }
    char mod = 0;
    if ((*p == 'E' || *p == 'O' || *p == 'i') && IsLetter(p[1])) mod = *p++;
    if (*p == '\0') return (wdigits > 0 || precision >= 0) ? -1275 : -1276;
    const char c = *p++;
    if (!IsLetter(c)) {
      if (wdigits > 0 || precision >= 0) return -1275;
      continue;
    }
    auto is = [&](const char* plain, const char* e, const char* o, const char* i) {
      if (mod == 0) return strchr(plain, c) != nullptr;
      if (mod == 'E') return strchr(e, c) != nullptr;
      if (mod == 'O') return strchr(o, c) != nullptr;
      return strchr(i, c) != nullptr;
    };
    if (mod == 'E' && strchr("CXcgx", c) != nullptr) {
      cover(TU_YEAR, TU_F2);
    } else if (is("YyCnt", "Yy", "Yy", "Yy")) {
      cover(TU_YEAR, TU_YEAR);
    } else if (is("mbBh", "", "m", "")) {
      cover(TU_MONTH, TU_MONTH);
    } else if (is("de", "", "de", "")) {
      cover(TU_DAY, TU_DAY);
    } else if (is("HIp", "", "HI", "")) {
      cover(TU_HOUR, TU_HOUR);
    } else if (is("M", "", "M", "")) {
      cover(TU_MINUTE, TU_MINUTE);
    } else if (is("S", "", "S", "")) {
      cover(TU_SECOND, TU_SECOND);
    } else if (is("F", "", "", "F")) {
      int digits = 2;
      if (IsDigit(*p)) {
        digits = *p++ - '0';
        if (digits < 1 || digits > 5) return -1275;
      } else if (wdigits == 1 && width >= 1 && width <= 5) {
        digits = width;
      } else if (precision >= 1 && precision <= 5) {
        digits = precision;
      }
      cover(TU_SECOND + digits, TU_SECOND + digits);
    } else if (is("AauD", "", "w", "")) {
      cover(TU_YEAR, TU_DAY);
    } else if (mod == 0 && c == 'R') {
      cover(TU_HOUR, TU_MINUTE);
    } else if (mod == 0 && c == 'T') {
      cover(TU_HOUR, TU_SECOND);
    } else if (mod == 0 && strchr("Xcjrwx", c) != nullptr) {
      cover(TU_YEAR, TU_F2);
    }
  }
  if (first < 0) return 0;
  if (first > TU_SECOND) first = TU_FRAC;
  if (last < first) last = first;
  return StandardQual(first, last);
}

int dtgetfmt(char** format, int mode, int dot) {
  if (rglinit() < 0) return -23108;
  if (*format != nullptr) {
    const bool dot_allowed = getenv("ZEL_DATETIME_DOT_IN_FRACTION") != nullptr;
    return dtfmttogl(*format, mode, format, dot && dot_allowed ? 1 : 0);
  }
  if (const char* v = ggetenv_idx("DBTIME", ENVROW_DBTIME); v != nullptr)
    return dtfmttogl(v, mode, format, dot);
  if (const char* v = ggetenv_idx("GL_DATETIME", ENVROW_GL_DATETIME); v != nullptr)
    return dtfmttogl(v, mode, format, 0);
  const char* own = nullptr;
  if (GlLocale* loc = Client()) own = gl_nl_langinfo(loc, kLangInfoDateTime);
  char* copy = Dup(own != nullptr && own[0] != '\0' ? own : kBuiltinFormat);
  if (copy == nullptr) return -1211;
  *format = copy;
  return 0;
}

int tmrectodt(const GlTimeRecord* rec, int qual, Decimal* out) {
  const int first = TU_START(qual), last = TU_END(qual);
  auto has = [&](int u) { return first <= u && u <= last; };
  if (has(TU_YEAR) && rec->year == -1900) return -1263;
  DtFields f;
  f.f[0] = rec->year + 1900;
  f.f[1] = rec->month + 1;
  f.f[2] = rec->mday;
  f.f[3] = rec->hour;
  f.f[4] = rec->minute;
  f.f[5] = rec->second;
  if (rec->fraction < 0 || rec->fraction > 999999) return -1263;
  f.f[6] = rec->fraction / 10;
  for (int i = 0; i < 6; i++)
    if (f.f[i] < 0) return -1263;
  Decimal v;
  if (FieldsToDec(f, qual, DEC_POS, &v) != 0) return -1263;
  if (dtchkval(&v, qual) != 0) return -1263;
  *out = v;
  return 0;
}

int dttotmrec(const DateTimeValue* value, GlTimeRecord* rec) {
  *rec = GlTimeRecord{};
  rec->mday = 1;
  const int q = value->dt_qual;
  DtFields f;
  if (int rc = DecToFields(&value->dt_dec, q, &f); rc != 0) return rc;
  const int first = TU_START(q), last = TU_END(q);
  auto has = [&](int u) { return first <= u && u <= last; };
  if (has(TU_YEAR)) rec->year = static_cast<int32_t>(f.f[0] - 1900);
  if (has(TU_MONTH)) rec->month = static_cast<int32_t>(f.f[1] - 1);
  if (has(TU_DAY)) rec->mday = static_cast<int32_t>(f.f[2]);
  if (has(TU_HOUR)) rec->hour = static_cast<int32_t>(f.f[3]);
  if (has(TU_MINUTE)) rec->minute = static_cast<int32_t>(f.f[4]);
  if (has(TU_SECOND)) rec->second = static_cast<int32_t>(f.f[5]);
  if (last > TU_SECOND) rec->fraction = static_cast<int32_t>(f.f[6] * 10);
  return 0;
}

TV_EXTERN_C TV_API int dtcvfmtasc(const char* text, const char* format, DateTimeValue* out) {
  if (rglinit() < 0) {
    const int32_t e = rgetglerror();
    return e != 0 ? e : -23108;
  }
  if (text == nullptr || text[0] == '\0') return -1272;
  ChosenFormat fmt;
  fmt.text = const_cast<char*>(format);
  if (int rc = dtgetfmt(&fmt.text, 0, 1); rc != 0) {
    fmt.text = nullptr;
    return rc;
  }
  if (fmt.text[0] == '\0') return -1277;
  const int q = dtfmtqual(fmt.text);
  if (q < 0) return q;
  GlLocale* loc = Client();
  if (loc == nullptr) return -23108;
  GlTimeRecord rec{};
  rec.mday = 1;
  *_gl_ext_errno(loc) = 0;
  const char* end = gl_mbsptime(loc, text, fmt.text, &rec, Century());
  if (end == nullptr) return rglerrtosql();
  while (IsSpace(*end)) end++;
  if (*end != '\0') return -1263;
  DateTimeValue parsed{static_cast<int16_t>(q), {}};
  if (q == 0 || tmrectodt(&rec, q, &parsed.dt_dec) != 0) return -1263;
  return dtextend(&parsed, out);
}

TV_EXTERN_C TV_API int dttofmtasc(const DateTimeValue* value, char* out, int length,
                                  const char* format) {
  if (rglinit() < 0) {
    const int32_t e = rgetglerror();
    return e != 0 ? e : -23108;
  }
  if (out == nullptr) return -1273;
  ChosenFormat fmt;
  fmt.text = const_cast<char*>(format);
  if (int rc = dtgetfmt(&fmt.text, 1, 1); rc != 0) {
    fmt.text = nullptr;
    return rc;
  }
  const int q = dtfmtqual(fmt.text);
  if (q < 0) return q;
  if (length >= 0) out[0] = '\0';
  if (value->dt_dec.sign == DEC_NULLSIGN) return 0;
  GlLocale* loc = Client();
  if (loc == nullptr) return -23108;
  GlTimeRecord rec{};
  rec.mday = 1;
  if (q != 0) {
    DateTimeValue v{static_cast<int16_t>(q), {}};
    if (int rc = dtextend(value, &v); rc != 0) return rc;
    if (int rc = dttotmrec(&v, &rec); rc != 0) return rc;
    CompleteDay(&rec);
  }
  *_gl_ext_errno(loc) = 0;
  const int32_t n = gl_mbsftime(loc, out, length + 1, fmt.text, &rec);
  if (n > 0) return 0;
  if (*_gl_ext_errno(loc) != 0) return rglerrtosql();
  if (length >= 0) out[0] = '\0';
  return 0;
}

TV_EXTERN_C TV_API int zel_gl_convert_datetime(DateTimeValue* out, const char* text,
                                               const char* format) {
  if (rglinit() < 0) return -1;
  if (text == nullptr || out == nullptr) {
    SetLocaleError(2);
    return -1;
  }
  ChosenFormat fmt;
  if (format != nullptr) {
    fmt.text = strdup(format);
    if (fmt.text == nullptr) {
      SetLocaleError(3);
      return -1;
    }
  }
  char* given = fmt.text;
  if (dtgetfmt(&fmt.text, 0, 0) != 0) {
    SetLocaleError(22);
    return -1;
  }
  free(given);
  const int q = dtfmtqual(fmt.text);
  if (q < 0) {
    SetLocaleError(22);
    return -1;
  }
  GlLocale* loc = Client();
  GlTimeRecord rec{};
  rec.mday = 1;
  *_gl_ext_errno(loc) = 0;
  if (gl_mbsptime(loc, text, fmt.text, &rec, Century()) == nullptr) return -1;
  Decimal v;
  if (q == 0 || tmrectodt(&rec, q, &v) != 0) {
    SetLocaleError(41);
    return -1;
  }
  out->dt_qual = static_cast<int16_t>(q);
  out->dt_dec = v;
  return 0;
}

TV_EXTERN_C TV_API int zel_gl_format_datetime(char* out, int length, const DateTimeValue* value,
                                              const char* format) {
  if (rglinit() < 0) return -1;
  if (out == nullptr || value == nullptr) {
    SetLocaleError(2);
    return -1;
  }
  ChosenFormat fmt;
  fmt.text = const_cast<char*>(format);
  if (dtgetfmt(&fmt.text, 0, 0) != 0) {
    fmt.text = nullptr;
    return -1;
  }
  const int q = dtfmtqual(fmt.text);
  if (q < 0) return q;
  // The value's digits are read as YEAR TO the format's last unit.
  const int last = q == 0 ? TU_SECOND : TU_END(q);
  const DateTimeValue as_year{static_cast<int16_t>(StandardQual(TU_YEAR, last)), value->dt_dec};
  GlTimeRecord rec{};
  rec.mday = 1;
  if (value->dt_dec.sign != DEC_NULLSIGN && dttotmrec(&as_year, &rec) == 0) CompleteDay(&rec);
  GlLocale* loc = Client();
  *_gl_ext_errno(loc) = 0;
  const int32_t n = gl_mbsftime(loc, out, length, fmt.text, &rec);
  if (n > 0) return 0;
  return *_gl_ext_errno(loc) != 0 ? -1 : 0;
}

int dtfmtwidth() {
  char* fmt = nullptr;
  if (dtgetfmt(&fmt, 0, 1) != 0) return 0;
  GlLocale* loc = Client();
  const int32_t n = loc != nullptr ? gl_mbsfmtexpand(loc, 1, fmt) : -1;
  free(fmt);
  return n > 0 ? n : 0;
}
