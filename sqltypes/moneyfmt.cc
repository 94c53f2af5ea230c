// The thread's DbMoneyFormat, separator rewriting, and number text to
// double.
#include "sqltypes/moneyfmt.h"

#include <errno.h>
#include <locale.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "base/client_locale.h"
#include "base/env.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_locale.h"
#include "locale/format/gl_printf.h"
#include "locale/format/gl_scanf.h"

namespace {

struct ThreadMoney {
  DbMoneyFormat format{};
  char front[DBMONEY_SYMBOL_MAX + 1] = {0};
  char back[DBMONEY_SYMBOL_MAX + 1] = {0};
  int state = 0;  // 0 not set up, 1 from DBMONEY, 2 from the locale alone
  int ignore_underflow = 1;
  bool underflow_read = false;
};
thread_local ThreadMoney t_money;

// Byte length of the character at p, or -1 when p begins no valid character.
int CharLen(const char* p) {
  if (*p == '\0') return 0;
  int blank = 0;
  const int32_t n = rgl_mbchar(p, static_cast<int32_t>(strnlen(p, 4)), &blank);
  return n > 0 && n <= 4 ? n : -1;
}

// One character of src into dst (5 bytes); its length, 0 for an empty or
// invalid one.
int CopyChar(char* dst, const char* src) {
  memset(dst, 0, 5);
  if (src == nullptr || *src == '\0') return 0;
  const int n = CharLen(src);
  if (n <= 0) return 0;
  memcpy(dst, src, static_cast<size_t>(n));
  return n;
}

void CopyCut(char* dst, const char* src, size_t max) {
  size_t n = src != nullptr ? strnlen(src, max) : 0;
  if (n > 0) memcpy(dst, src, n);
  dst[n] = '\0';
}

void FromLocale(DbMoneyFormat* f) {
  memset(f, 0, sizeof *f);
  GlLocale* loc = rglinit() >= 0 ? rgllocstate()->client : nullptr;
  GlLconv* lc = loc != nullptr ? gl_localeconv(loc) : nullptr;
  if (lc == nullptr) {
    strcpy(f->decimal_sep, ".");
    strcpy(f->locale_decimal_point, ".");
    f->positive_sign[0] = '\0';
    strcpy(f->negative_sign, "-");
    return;
  }
  CopyChar(f->decimal_sep, lc->decimal_point.mb);
  CopyChar(f->thousands_sep, lc->thousands_sep.mb);
  CopyChar(f->positive_sign, lc->positive_sign.mb);
  CopyChar(f->negative_sign, lc->negative_sign.mb);
  // Grouping strings longer than 15 bytes are cut to 15.
  CopyCut(f->grouping, lc->grouping, 15);
  CopyCut(f->mon_grouping, lc->mon_grouping, 15);
  CopyCut(f->int_curr_symbol, lc->int_curr_symbol.mb, 64);
  CopyCut(f->currency_symbol, lc->currency_symbol.mb, 64);
  if (CopyChar(f->mon_decimal_sep, lc->mon_decimal_point.mb) == 0)
    CopyChar(f->mon_decimal_sep, lc->decimal_point.mb);
  if (CopyChar(f->mon_thousands_sep, lc->mon_thousands_sep.mb) == 0)
    CopyChar(f->mon_thousands_sep, lc->thousands_sep.mb);
  f->int_frac_digits = lc->int_frac_digits;
  f->frac_digits = lc->frac_digits;
  f->p_cs_precedes = lc->p_cs_precedes;
  f->p_sep_by_space = lc->p_sep_by_space;
  f->n_cs_precedes = lc->n_cs_precedes;
  f->n_sep_by_space = lc->n_sep_by_space;
  f->p_sign_posn = lc->p_sign_posn;
  f->n_sign_posn = lc->n_sign_posn;
  CopyChar(f->locale_decimal_point, lc->decimal_point.mb);
}

// Reads a symbol of at most 28 bytes: stops before '.' or ',' when
// stop_at_separator, at the end, or at a character that would pass 28
// bytes. Digits become '*' (keep_digits) or are left out. Returns the
// position after the symbol; *full is set when 28 bytes were filled.
const char* ReadSymbol(const char* p, char* out, bool front, bool* full) {
  int n = 0;
  *full = false;
  while (*p != '\0') {
    if (front && (*p == '.' || *p == ',')) break;
    const int len = CharLen(p);
    if (len < 0) {
      if (!front) break;  // the back symbol stops at an invalid byte
      p++;
      continue;
    }
    if (*p >= '0' && *p <= '9') {
      if (front) {
        if (n + 1 > DBMONEY_SYMBOL_MAX) break;
        out[n++] = '*';
      }
      p++;
    } else {
      if (n + len > DBMONEY_SYMBOL_MAX) break;
      memcpy(out + n, p, static_cast<size_t>(len));
      n += len;
      p += len;
    }
    if (n == DBMONEY_SYMBOL_MAX) {
      *full = true;
      if (front) break;
    }
  }
  out[n] = '\0';
  return p;
}

void SetLength(char* c, int32_t* len, int32_t* width, const char* fallback) {
  const int n = CharLen(c);
  if (n <= 0) {
    if (fallback != nullptr) {
      strcpy(c, fallback);
      *len = static_cast<int32_t>(strlen(fallback));
    } else {
      c[0] = '\0';
      *len = 0;
    }
  } else {
    *len = n;
  }
  if (width != nullptr) *width = 1;
}

void Parse(const char* setting, char* front, char* back, DbMoneyFormat* f, int* state) {
  FromLocale(f);
  front[0] = back[0] = '\0';
  if (setting != nullptr && setting[0] != '\0') {
    bool full = false;
    const char* p = ReadSymbol(setting, front, true, &full);
    if (*p == '.' || *p == ',' || (full && *p != '\0')) {
      f->decimal_sep[0] = f->mon_decimal_sep[0] = *p;
      f->decimal_sep[1] = f->mon_decimal_sep[1] = '\0';
      p++;
      ReadSymbol(p, back, false, &full);
    }
    if (back[0] != '\0') CopyCut(f->currency_symbol, back, 64);
    else if (front[0] != '\0') CopyCut(f->currency_symbol, front, 64);
    f->p_cs_precedes = front[0] != '\0' ? 1 : 0;
    const char* th = strcmp(f->mon_decimal_sep, ",") == 0 ? "." : ",";
    strcpy(f->thousands_sep, th);
    strcpy(f->mon_thousands_sep, th);
    *state = 1;
  } else {
    if (f->p_cs_precedes == 1) CopyCut(front, f->currency_symbol, DBMONEY_SYMBOL_MAX);
    else CopyCut(back, f->currency_symbol, DBMONEY_SYMBOL_MAX);
    *state = 2;
  }
  if (f->decimal_sep[0] == '\0') strcpy(f->decimal_sep, ".");
  if (f->mon_decimal_sep[0] == '\0') strcpy(f->mon_decimal_sep, ".");
  SetLength(f->decimal_sep, &f->decimal_sep_len, &f->decimal_sep_width, ".");
  SetLength(f->mon_decimal_sep, &f->mon_decimal_sep_len, &f->mon_decimal_sep_width, ".");
  SetLength(f->thousands_sep, &f->thousands_sep_len, nullptr, nullptr);
  SetLength(f->mon_thousands_sep, &f->mon_thousands_sep_len, nullptr, nullptr);
  SetLength(f->locale_decimal_point, &f->locale_decimal_point_len, nullptr, nullptr);
  SetLength(f->positive_sign, &f->positive_sign_len, nullptr, "+");
  SetLength(f->negative_sign, &f->negative_sign_len, nullptr, "-");
}

locale_t CLocale() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c;
}

bool StartsWith(const char* p, const char* s, int n) { return n > 0 && strncmp(p, s, n) == 0; }

// The text as a number of the format: an optional sign, digits and blanks,
// one decimal separator, one exponent letter with one optional sign, and
// not ending right after the letter or its sign.
bool NumberShape(const char* p, const DbMoneyFormat* f) {
  auto sign = [&](const char* q) -> int {
    if (StartsWith(q, f->negative_sign, f->negative_sign_len)) return f->negative_sign_len;
    if (StartsWith(q, f->positive_sign, f->positive_sign_len)) return f->positive_sign_len;
    if (*q == '+' || *q == '-') return 1;
    return 0;
  };
  p += sign(p);
  bool sep = false, exp = false;
  while (*p != '\0') {
    if (*p >= '0' && *p <= '9') {
      p++;
    } else if (*p == ' ') {
      p++;
    } else if (!exp && !sep && StartsWith(p, f->decimal_sep, f->decimal_sep_len)) {
      sep = true;
      p += f->decimal_sep_len;
    } else if (!exp && (*p == 'e' || *p == 'E')) {
      exp = true;
      p++;
      p += sign(p);
      if (*p == '\0') return false;
    } else {
      return false;
    }
  }
  return true;
}

// Number text read by the locale's scanner under a format: the thread's
// decimal separator becomes the locale's decimal point first.
int ScanDouble(double* out, const char* text, const char* format, const DbMoneyFormat* f) {
  std::string work(strlen(text) * 4 + 1, '\0');
  if (f->locale_decimal_point_len > 0 &&
      (f->decimal_sep_len != f->locale_decimal_point_len ||
       strcmp(f->decimal_sep, f->locale_decimal_point) != 0)) {
    if (rsepsubst(text, f->decimal_sep, f->decimal_sep_len, f->locale_decimal_point,
                  f->locale_decimal_point_len, work.data(), static_cast<int>(work.size())) != 0)
      return -1213;
  } else {
    memcpy(work.data(), text, strlen(text) + 1);
  }
  GlLocale* loc = rgllocstate()->client;
  *_gl_ext_errno(loc) = 0;
  double v = 0;
  const int32_t n = gl_mbsscanf(loc, work.c_str(), format, &v);
  const int32_t err = *_gl_ext_errno(loc);
  if (n != 1) return -1213;
  if (err == 6) {
    if (t_money.ignore_underflow == 0) return -1223;
  } else if (err != 0) {
    return -1213;
  }
  if (isnan(v) || isinf(v)) return -1223;
  *out = v;
  if (!NumberShape(text, f)) return -1213;
  return 0;
}

// One E, G, e, f or g conversion with flags, width, precision and "l";
// "%%" is text.
bool OneDoubleConversion(const char* format) {
  int conversions = 0;
  for (const char* p = format; *p != '\0'; p++) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      p++;
      continue;
    }
    p++;
    while (*p != '\0' && strchr(" #'+-", *p) != nullptr) p++;
    while (*p >= '0' && *p <= '9') p++;
    if (*p == '.') {
      p++;
      while (*p >= '0' && *p <= '9') p++;
    }
    if (*p == 'l') p++;
    if (*p == '\0' || strchr("EGefg", *p) == nullptr) return false;
    conversions++;
  }
  return conversions == 1;
}

}  // namespace

TV_EXTERN_C TV_API int zel_gl_format_double(char* out, int size, double value,
                                            const char* format) {
  if (rglinit() < 0) {
    const int32_t e = rgetglerror();
    return e != 0 ? e : -23108;
  }
  const DbMoneyFormat* f = rmoneyformat();
  if (format == nullptr) format = "%G";
  if (out == nullptr || !OneDoubleConversion(format)) return -415;
  char text[400];
  GlLocale* loc = rgllocstate()->client;
  const int32_t n = gl_mbsprintf(loc, text, sizeof text, format, value);
  if (n <= 0) return -415;
  if (n > size - 1) return -1207;
  if (f->decimal_sep_len == f->locale_decimal_point_len &&
      strcmp(f->decimal_sep, f->locale_decimal_point) == 0) {
    memcpy(out, text, static_cast<size_t>(n) + 1);
    return 0;
  }
  return rsepsubst(text, f->locale_decimal_point, f->locale_decimal_point_len, f->decimal_sep,
                   f->decimal_sep_len, out, size);
}

const DbMoneyFormat* rmoneyformat() {
  rmoneyinit();
  return &t_money.format;
}
const char* rmoneyfront() { return t_money.front; }
const char* rmoneyback() { return t_money.back; }
int rmoneystate() { return t_money.state; }

TV_EXTERN_C TV_API void rmoneyinit(void) {
  if (t_money.state == 0) rmoneyparse(nullptr, nullptr, nullptr, nullptr);
}

TV_EXTERN_C TV_API void rmoneyparse(const char* setting, char* front, char* back,
                                    DbMoneyFormat* record) {
  if (setting == nullptr || setting[0] == '\0') setting = ggetenv_idx("DBMONEY", ENVROW_DBMONEY);
  char fb[DBMONEY_SYMBOL_MAX + 1], bb[DBMONEY_SYMBOL_MAX + 1];
  if (record == nullptr) {
    if (t_money.state != 0) return;
    Parse(setting, t_money.front, t_money.back, &t_money.format, &t_money.state);
    if (front != nullptr) strcpy(front, t_money.front);
    if (back != nullptr) strcpy(back, t_money.back);
    return;
  }
  int state = 0;
  Parse(setting, fb, bb, record, &state);
  if (front != nullptr) strcpy(front, fb);
  if (back != nullptr) strcpy(back, bb);
}

TV_EXTERN_C TV_API int rsepsubst(const char* src, const char* sep, int sep_len, const char* repl,
                                 int repl_len, char* dst, int dst_size) {
  const DbMoneyFormat* f = rmoneyformat();
  int out = 0;
  const char* p = src;
  while (*p != '\0') {
    int n = CharLen(p);
    if (n <= 0) n = 1;
    const char* piece = p;
    int piece_len = n;
    if (sep_len > 0 && n == sep_len && strncmp(p, sep, static_cast<size_t>(n)) == 0) {
      piece = repl;
      piece_len = repl_len;
    } else if (f->thousands_sep_len > 0 && n == f->thousands_sep_len &&
               strncmp(p, f->thousands_sep, static_cast<size_t>(n)) == 0) {
      piece_len = 0;
    }
    if (out + piece_len + 1 > dst_size) return -1273;
    if (piece_len > 0) memcpy(dst + out, piece, static_cast<size_t>(piece_len));
    out += piece_len;
    p += n;
  }
  if (out + 1 > dst_size) return -1273;
  dst[out] = '\0';
  return 0;
}

TV_EXTERN_C TV_API int zel_gl_convert_double(double* out, const char* text, const char* format) {
  if (rglinit() < 0) {
    const int32_t e = rgetglerror();
    return e != 0 ? e : -23108;
  }
  if (!t_money.underflow_read) {
    const char* v = ggetenv_idx("IGNORE_UNDERFLOW", ENVROW_IGNORE_UNDERFLOW);
    t_money.ignore_underflow = v != nullptr ? atoi(v) : 1;
    t_money.underflow_read = true;
  }
  rsetglerror(0);
  const DbMoneyFormat* f = rmoneyformat();
  const char* p = text;
  while (*p == ' ') p++;
  if (*p == '\0') {
    memset(out, 0xFF, sizeof *out);
    return 0;
  }
  // The conversion runs under the C locale: the decimal separator becomes
  // "." and thousands separators are dropped.
  std::string work(strlen(p) + 1, '\0');
  if (rsepsubst(p, f->decimal_sep, f->decimal_sep_len, ".", 1, work.data(),
                static_cast<int>(work.size())) != 0)
    return -1213;
  const char* w = work.c_str();
  if (w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = strtoull(w, &end, 16);
    if (errno != 0 || end == w + 2) return -1213;
    *out = v >= (1ULL << 63) ? static_cast<double>(v) : static_cast<double>(static_cast<long long>(v));
    return 0;
  }
  if (format != nullptr) {
    const char* ctype = rgllocstate()->categories[RGL_CAT_CTYPE];
    if (strncasecmp(ctype, "en_us", 5) != 0 || strcmp(f->locale_decimal_point, ".") != 0)
      return ScanDouble(out, p, format, f);
  }
  errno = 0;
  char* end = nullptr;
  const double v = strtod_l(w, &end, CLocale());
  if (end == w) {
    rsetglerror(9);
    return -1213;
  }
  if (errno == ERANGE) {
    rsetglerror(9);
    // Underflow is accepted when IGNORE_UNDERFLOW allows; overflow never.
    if (t_money.ignore_underflow == 0 || isinf(v)) return -1223;
  } else if (errno != 0) {
    rsetglerror(9);
    return -1213;
  } else if (isnan(v) || isinf(v)) {
    return -1223;
  }
  *out = v;
  if (!NumberShape(p, f)) return -1213;
  return 0;
}
