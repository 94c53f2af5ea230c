// Text to numbers and numbers to text under the locale's conventions.
//
// Each reader gathers the number's characters into a narrow working text
// with the locale's signs, separators and decimal point taken out, converts
// that text with a C-library style conversion, and maps the end of what the
// conversion took back into the caller's text.
#include "locale/format/gl_numconv.h"

#include <errno.h>
#include <limits.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"
#include "locale/core/gl_width.h"
#include "locale/format/gl_fmtspec.h"
#include "locale/format/gl_format_errors.h"

namespace {

constexpr int32_t kWorkSize = 255;  // characters of a working text
constexpr uint32_t kLongError = 2147483647u;
constexpr uint64_t kULLMax = UINT64_MAX;

void SetError(GlLocale *loc, int32_t e) { *_gl_ext_errno(loc) = e; }

// The narrow working text, and for each of its characters the position in
// the caller's text just after the characters it stands for.
struct Work {
  char text[kWorkSize + 1];
  int32_t after[kWorkSize + 1];
  int32_t n = 0;
  bool Push(char c, int32_t source_after) {
    if (n >= kWorkSize) return false;
    text[n] = c;
    after[n] = source_after;
    ++n;
    text[n] = 0;
    return true;
  }
  Work() { text[0] = 0; }
};

int32_t Len(const GlWchar *ws) { return _gl_text_chars(ws); }

// Length of t when t stands at ws + i, else 0 (an empty t never matches).
int32_t MatchAt(const GlWchar *ws, int32_t i, const GlWchar *t) {
  int32_t n = Len(t);
  if (n == 0) return 0;
  for (int32_t k = 0; k < n; ++k) {
    if (ws[i + k] != t[k]) return 0;
  }
  return n;
}

// Length of t when t ends at ws + i (and starts at or after ws + lo).
int32_t MatchEnding(const GlWchar *ws, int32_t lo, int32_t i, const GlWchar *t) {
  int32_t n = Len(t);
  if (n == 0 || i - n < lo) return 0;
  for (int32_t k = 0; k < n; ++k) {
    if (ws[i - n + k] != t[k]) return 0;
  }
  return n;
}

// Size of group k (1 the rightmost): after the listed sizes the last one
// repeats; a size of 0 or -1 ends the grouping (0 returned).
int32_t GroupSize(const int32_t *g, int32_t k) {
  int32_t n = g[0];
  if (n <= 0 || n >= GL_INT_LIST_SIZE) return 0;
  int32_t size = g[k < n ? k : n];
  for (int32_t i = 1; i <= n && i <= k; ++i) {
    if (g[i] <= 0) return 0;
  }
  return size > 0 ? size : 0;
}

bool IsSpace(GlLocale *loc, GlWchar c) { return _gl_wc_class(loc, c, GL_CLASS_SPACE) != 0; }

struct Conventions {
  const GlWchar *positive;
  const GlWchar *negative;
  const GlWchar *decimal_point;
  const GlWchar *separator;
  const int32_t *grouping;
};

Conventions Numeric(GlLocale *loc) {
  const GlNumericInfo &n = loc->numeric;
  return {n.num_positive_sign.wc, n.num_negative_sign.wc, n.decimal_point.wc,
          n.thousands_sep.wc, n.grouping};
}

Conventions Monetary(GlLocale *loc) {
  const GlNumericInfo &n = loc->numeric;
  return {n.positive_sign.wc, n.negative_sign.wc, n.mon_decimal_point.wc, n.mon_thousands_sep.wc,
          n.mon_grouping};
}

// The grouped digits of ws[lo, hi), walked from the end: after each complete
// group the separator must end at the current position. A separator inside
// a group ends the number there (what lies after it is dropped). The
// characters kept go to work in reading order; *stop is where the number
// ends. False when a separator is missing (error 7 for the caller).
bool CollectGrouped(const GlWchar *ws, int32_t lo, int32_t hi, const Conventions &c, Work *work,
                    int32_t *stop) {
  GlWchar chars[kWorkSize + 1];
  int32_t from[kWorkSize + 1];
  int32_t kept = 0;
  int32_t k = 1;
  int32_t size = Len(c.separator) > 0 ? GroupSize(c.grouping, k) : 0;
  int32_t in = 0;
  int32_t i = hi;
  *stop = hi;
  while (i > lo) {
    if (size > 0 && in == size) {
      int32_t len = MatchEnding(ws, lo, i, c.separator);
      if (len == 0) return false;
      i -= len;
      size = GroupSize(c.grouping, ++k);
      in = 0;
      continue;
    }
    if (size > 0 && in > 0) {
      int32_t len = MatchEnding(ws, lo, i, c.separator);
      if (len > 0) {
        // A separator off a group boundary: the number ends before it.
        kept = 0;
        i -= len;
        *stop = i;
        k = 1;
        size = GroupSize(c.grouping, k);
        in = 0;
        continue;
      }
    }
    if (kept >= kWorkSize) return false;
    chars[kept] = ws[i - 1];
    from[kept] = i;
    ++kept;
    --i;
    ++in;
  }
  for (int32_t j = kept - 1; j >= 0; --j) {
    GlWchar ch = chars[j];
    if (!work->Push(ch < 256 ? static_cast<char>(ch) : '?', from[j])) return false;
  }
  return true;
}

int DigitValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'z') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'Z') return ch - 'A' + 10;
  return 99;
}

bool CSpace(char ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }

// Unsigned conversion of narrow text up to max. sign_decimal: base 0 with
// a sign reads base 10; stop_at_overflow: the number ends at the digit that
// overflows (else every digit is taken, as the C library does).
uint64_t ParseUnsigned(const char *s, char **end, int32_t base, uint64_t max, bool sign_decimal,
                       bool stop_at_overflow, bool *negative) {
  const char *p = s;
  while (CSpace(*p)) ++p;
  bool sign = false;
  *negative = false;
  if (*p == '-' || *p == '+') {
    *negative = *p == '-';
    sign = true;
    ++p;
  }
  if (end != nullptr) *end = const_cast<char *>(s);
  if (base < 0 || base == 1 || base > 36) {
    errno = EINVAL;
    return 0;
  }
  bool hex_prefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16;
  if (base == 0) {
    if (sign && sign_decimal) {
      base = 10;
    } else if (hex_prefix) {
      base = 16;
    } else {
      base = p[0] == '0' ? 8 : 10;
    }
  }
  if (base == 16 && hex_prefix) p += 2;
  uint64_t v = 0;
  bool any = false;
  bool overflow = false;
  for (; DigitValue(*p) < base; ++p) {
    uint64_t d = static_cast<uint64_t>(DigitValue(*p));
    if (!overflow && (v > (max - d) / static_cast<uint64_t>(base))) {
      overflow = true;
      if (stop_at_overflow) break;
    }
    if (!overflow) v = v * static_cast<uint64_t>(base) + d;
    any = true;
  }
  if (!any) {
    if (stop_at_overflow) errno = EINVAL;
    if (end != nullptr) *end = const_cast<char *>(stop_at_overflow ? p : s);
    return 0;
  }
  if (end != nullptr) *end = const_cast<char *>(p);
  if (overflow) {
    errno = ERANGE;
    *negative = false;
    return max;
  }
  return v;
}

enum class IntKind { kLong, kULong, kULongLong };

uint64_t ErrorResult(IntKind kind) {
  return kind == IntKind::kULongLong ? kULLMax : kLongError;
}

// The shared integer reader; the result is the value as 64 bits (a long's
// value sign-extended).
uint64_t ReadInteger(GlLocale *loc, const GlWchar *ws, GlWchar **end, int32_t base,
                     int32_t grouping, IntKind kind) {
  int32_t i = 0;
  while (ws[i] != 0 && IsSpace(loc, ws[i])) ++i;
  const int32_t spaces = i;
  const int32_t total = i + Len(ws + i);
  if (end != nullptr) *end = const_cast<GlWchar *>(ws);
  if (kind != IntKind::kLong && total - i >= 255) {
    SetError(loc, GL_ESHORT);
    return ErrorResult(kind);
  }
  Work work;
  Conventions c = Numeric(loc);
  if (kind == IntKind::kLong) {
    int32_t len = 0;
    if ((len = MatchAt(ws, i, c.negative)) > 0) {
      work.Push('-', i + len);
    } else if ((len = MatchAt(ws, i, c.positive)) > 0) {
      work.Push('+', i + len);
    } else if (ws[i] == '-' || ws[i] == '+') {
      len = 1;
      work.Push(static_cast<char>(ws[i]), i + 1);
    }
    i += len;
  }
  if (!grouping) {
    for (; ws[i] != 0 && ws[i] < 256; ++i) {
      if (!work.Push(static_cast<char>(ws[i]), i + 1)) {
        SetError(loc, GL_E2BIG);
        break;
      }
    }
  } else {
    int32_t stop = 0;
    if (total - i >= 256 || !CollectGrouped(ws, i, total, c, &work, &stop)) {
      SetError(loc, GL_ESHORT);
      return ErrorResult(kind);
    }
  }
  errno = 0;
  char *taken = work.text;
  uint64_t result = 0;
  bool negative = false;
  switch (kind) {
    case IntKind::kLong: {
      long long v = strtoll(work.text, &taken, base);
      if (v > INT32_MAX) {
        v = INT32_MAX;
        errno = ERANGE;
      } else if (v < INT32_MIN) {
        v = INT32_MIN;
        errno = ERANGE;
      }
      result = static_cast<uint64_t>(v);
      break;
    }
    case IntKind::kULong: {
      uint64_t v = ParseUnsigned(work.text, &taken, base, UINT32_MAX, false, false, &negative);
      result = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(v)) : v;
      break;
    }
    case IntKind::kULongLong: {
      uint64_t v = ParseUnsigned(work.text, &taken, base, kULLMax, true, true, &negative);
      result = negative ? 0 - v : v;
      break;
    }
  }
  if (end != nullptr) {
    int32_t k = static_cast<int32_t>(taken - work.text);
    *end = const_cast<GlWchar *>(ws + (k > 0 ? work.after[k - 1] : spaces));
  }
  return result;
}

// The C numeric conventions for strtod, whatever the process has set.
locale_t CLocale() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

int32_t ExponentPrefixLen(const GlWchar *p) {
  if (p[0] != 'e' && p[0] != 'E') return 0;
  if (p[1] >= '0' && p[1] <= '9') return 1;
  if ((p[1] == '+' || p[1] == '-') && p[2] >= '0' && p[2] <= '9') return 2;
  return 0;
}

bool PushDigits(Work *work, const GlWchar *ws, int32_t *i) {
  for (; ws[*i] >= '0' && ws[*i] <= '9'; ++*i) {
    if (!work->Push(static_cast<char>(ws[*i]), *i + 1)) return false;
  }
  return true;
}

template <typename T>
int32_t IntegerText(GlLocale *loc, GlWchar *out, int32_t size, T magnitude, bool negative,
                    int32_t base, int32_t grouping) {
  if (out == nullptr || size <= 0) return 0;
  out[0] = 0;
  if (base < 2 || base > 36) return 0;
  char digits[40];
  int32_t nd = 0;
  do {
    int d = static_cast<int>(magnitude % static_cast<T>(base));
    digits[nd++] = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
    magnitude /= static_cast<T>(base);
  } while (magnitude != 0);
  GlWchar text[48];
  int32_t n = 0;
  if (negative) text[n++] = '-';
  while (nd > 0) text[n++] = static_cast<GlWchar>(digits[--nd]);
  if (!grouping) {
    int32_t k = n < size - 1 ? n : size - 1;
    for (int32_t j = 0; j < k; ++j) out[j] = text[j];
    out[k] = 0;
    return k;
  }
  const GlWchar *sep = loc->numeric.thousands_sep.wc;
  const int32_t *g = loc->numeric.grouping;
  int32_t sep_len = Len(sep);
  // Separators reserved: counted over every character, the sign included.
  int32_t seps = 0;
  for (int32_t k = 1, covered = 0;; ++k) {
    int32_t gs = GroupSize(g, k);
    if (gs <= 0 || covered + gs >= n) break;
    covered += gs;
    ++seps;
  }
  int64_t need = static_cast<int64_t>(n) + 1 + static_cast<int64_t>(seps) * sep_len;
  if (need > size) return 0;
  // Insert the separators between the groups of digits, the sign excluded.
  GlWchar work[256];
  int32_t w = 256;
  int32_t first = negative ? 1 : 0;
  int32_t k = 1;
  int32_t gs = sep_len > 0 ? GroupSize(g, k) : 0;
  int32_t in = 0;
  work[--w] = 0;
  for (int32_t j = n - 1; j >= first; --j) {
    if (gs > 0 && in == gs) {
      if (w - sep_len < 1) {
        SetError(loc, GL_E2BIG);
        return 0;
      }
      for (int32_t s = sep_len - 1; s >= 0; --s) work[--w] = sep[s];
      gs = GroupSize(g, ++k);
      in = 0;
    }
    work[--w] = text[j];
    ++in;
  }
  if (negative) work[--w] = '-';
  int32_t len = 255 - w;
  if (len + 1 > size) return 0;
  memcpy(out, work + w, static_cast<size_t>(len + 1) * sizeof(GlWchar));
  return len;
}

int32_t WideToMulti(GlLocale *loc, char *out, int32_t size, const GlWchar *ws) {
  return loc->single_byte ? _gl_is_wcstombs(loc, out, ws, size)
                          : gl_full_wcstombs(loc, out, ws, size);
}

// The multibyte readers: the text as at most 256 wide characters, the wide
// reader, and the end walked back into the multibyte text.
template <typename R, typename F>
R ReadMulti(GlLocale *loc, const char *s, char **end, R error_result, R walk_failure, F read) {
  if (end != nullptr) *end = nullptr;
  errno = 0;
  if (loc->mbstowcs == nullptr) {  // no LC_CTYPE data
    SetError(loc, GL_ENOCTYPE);
    return error_result;
  }
  if (s == nullptr || gl_ismbsterm(loc, s) != 0) {
    SetError(loc, GL_ERANGE);
    return error_result;
  }
  GlWchar wide[257];
  int32_t r = loc->mbstowcs(loc, wide, s, 256);
  if (r <= 0) return error_result;
  wide[r > 256 ? 256 : r] = 0;
  GlWchar *wend = nullptr;
  R v = read(wide, end != nullptr ? &wend : nullptr);
  if (errno == ERANGE) {
    SetError(loc, GL_ERANGE);
    v = error_result;
  }
  if (end != nullptr && wend != nullptr) {
    const char *p = s;
    for (GlWchar *q = wide; q < wend; ++q) {
      p = loc->single_byte ? p + 1 : gl_full_mbsnext(loc, p);
      if (p == nullptr) return walk_failure;
    }
    *end = const_cast<char *>(p);
  }
  return v;
}

}  // namespace

uint64_t _gl_strtoull(const char *s, char **end, int32_t base) {
  bool negative = false;
  uint64_t v = ParseUnsigned(s, end, base, kULLMax, true, true, &negative);
  return negative ? 0 - v : v;
}

char *_gl_find_radix(char *s) {
  char *p = s;
  while (CSpace(*p)) ++p;
  if (*p == '-' || *p == '+') ++p;
  while (*p >= '0' && *p <= '9') ++p;
  return *p == '.' || *p == ',' ? p : nullptr;
}

int32_t gl_wcstol(GlLocale *loc, const GlWchar *ws, GlWchar **end, int32_t base,
                  int32_t grouping) {
  return static_cast<int32_t>(ReadInteger(loc, ws, end, base, grouping, IntKind::kLong));
}

uint32_t gl_wcstoul(GlLocale *loc, const GlWchar *ws, GlWchar **end, int32_t base,
                    int32_t grouping) {
  return static_cast<uint32_t>(ReadInteger(loc, ws, end, base, grouping, IntKind::kULong));
}

uint64_t gl_wcstoull(GlLocale *loc, const GlWchar *ws, GlWchar **end, int32_t base,
                     int32_t grouping) {
  return ReadInteger(loc, ws, end, base, grouping, IntKind::kULongLong);
}

int32_t gl_mbstol(GlLocale *loc, const char *s, char **end, int32_t base, int32_t grouping) {
  return ReadMulti<int32_t>(loc, s, end, INT32_MAX, -1, [&](const GlWchar *w, GlWchar **e) {
    return gl_wcstol(loc, w, e, base, grouping);
  });
}

uint32_t gl_mbstoul(GlLocale *loc, const char *s, char **end, int32_t base, int32_t grouping) {
  return ReadMulti<uint32_t>(loc, s, end, UINT32_MAX, UINT32_MAX,
                             [&](const GlWchar *w, GlWchar **e) {
                               return gl_wcstoul(loc, w, e, base, grouping);
                             });
}

double gl_mbstod(GlLocale *loc, const char *s, char **end, int32_t grouping) {
  return ReadMulti<double>(loc, s, end, 2147483647.0, -1.0, [&](const GlWchar *w, GlWchar **e) {
    return gl_wcstod(loc, w, e, grouping);
  });
}

double gl_wcstod(GlLocale *loc, const GlWchar *ws, GlWchar **end, int32_t grouping) {
  return gl_wcstod_num_mon(loc, ws, end, grouping, 0);
}

double gl_wcstod_num_mon(GlLocale *loc, const GlWchar *ws, GlWchar **end, int32_t grouping,
                         int32_t mode) {
  Conventions c = mode == 1 ? Monetary(loc) : Numeric(loc);
  if (end != nullptr) *end = const_cast<GlWchar *>(ws);
  int32_t i = 0;
  while (ws[i] != 0 && IsSpace(loc, ws[i])) ++i;
  Work work;
  int32_t len = 0;
  if ((len = MatchAt(ws, i, c.negative)) > 0) {
    work.Push('-', i + len);
  } else if ((len = MatchAt(ws, i, c.positive)) > 0) {
  } else if (ws[i] == '-') {
    len = 1;
    work.Push('-', i + 1);
  } else if (ws[i] == '+') {
    len = 1;
  }
  i += len;
  // The integer part.
  bool at_point = Len(c.decimal_point) > 0 && ws[i] == c.decimal_point[0];
  if (!at_point) {
    if (!grouping) {
      int32_t start = i;
      if (!PushDigits(&work, ws, &i)) {
        SetError(loc, GL_E2BIG);
        return 0.0;
      }
      if (i == start) return 0.0;
    } else {
      int32_t hi = i;
      for (;;) {
        int32_t m = 0;
        if (ws[hi] != 0 && _gl_wc_class(loc, ws[hi], GL_CLASS_DIGIT) != 0) {
          ++hi;
        } else if ((m = MatchAt(ws, hi, c.separator)) > 0) {
          hi += m;
        } else {
          break;
        }
        if (hi - i > 254) {
          SetError(loc, GL_ESHORT);
          return 0.0;
        }
      }
      int32_t before = work.n;
      int32_t stop = hi;
      if (!CollectGrouped(ws, i, hi, c, &work, &stop)) {
        SetError(loc, work.n >= kWorkSize ? GL_E2BIG : GL_ESHORT);
        return 0.0;
      }
      if (work.n == before) return 0.0;
      for (int32_t k = before; k < work.n; ++k) {
        if (work.text[k] < '0' || work.text[k] > '9') return 0.0;
      }
      i = stop;
    }
  }
  // Fraction and exponent.
  bool full = false;
  if ((len = MatchAt(ws, i, c.decimal_point)) > 0) {
    i += len;
    full = !work.Push('.', i) || !PushDigits(&work, ws, &i);
  }
  if (!full && (len = ExponentPrefixLen(ws + i)) > 0) {
    for (int32_t k = 0; k < len && !full; ++k, ++i) {
      full = !work.Push(static_cast<char>(ws[i]), i + 1);
    }
    full = full || !PushDigits(&work, ws, &i);
  }
  if (full) SetError(loc, GL_E2BIG);
  errno = 0;
  // The working text uses '.', which is the radix of the C conventions.
  char *radix = _gl_find_radix(work.text);
  if (radix != nullptr) *radix = '.';
  char *taken = work.text;
  double v = strtod_l(work.text, &taken, CLocale());
  if (taken == work.text) {
    if (work.n > 0) SetError(loc, GL_ENONUMBER);
    return v;
  }
  if (end != nullptr) *end = const_cast<GlWchar *>(ws + work.after[taken - work.text - 1]);
  return v;
}

int32_t gl_ltowcs(GlLocale *loc, GlWchar *out, int32_t size, int32_t value, int32_t base,
                  int32_t grouping) {
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  return IntegerText<uint32_t>(loc, out, size, magnitude, value < 0, base, grouping);
}

int32_t gl_ultowcs(GlLocale *loc, GlWchar *out, int32_t size, uint32_t value, int32_t base,
                   int32_t grouping) {
  return IntegerText<uint32_t>(loc, out, size, value, false, base, grouping);
}

int32_t gl_ltombs(GlLocale *loc, char *out, int32_t size, int32_t value, int32_t base,
                  int32_t grouping) {
  GlWchar wide[256];
  gl_ltowcs(loc, wide, 256, value, base, grouping);
  return WideToMulti(loc, out, size, wide);
}

int32_t gl_ultombs(GlLocale *loc, char *out, int32_t size, uint32_t value, int32_t base,
                   int32_t grouping) {
  GlWchar wide[256];
  gl_ultowcs(loc, wide, 256, value, base, grouping);
  return WideToMulti(loc, out, size, wide);
}
