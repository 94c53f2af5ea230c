// The field readers of the time parsing engine: decimal fields, names,
// fractions, short years and numbers in alternate digits.
#include "locale/format/gl_ptime_read.h"

#include <initializer_list>

#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_trie.h"
#include "locale/core/gl_width.h"
#include "locale/format/gl_intscan.h"
#include "locale/format/gl_strptime.h"

namespace glptime {

namespace {

bool IsAsciiDigit(GlWchar c) { return c >= '0' && c <= '9'; }

}  // namespace

int32_t MonthLength(int32_t month, int32_t year) {
  static const int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 0 || month > 11) return 0;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 1 && leap ? 29 : kDays[month];
}

bool IsBlank(GlLocale *loc, GlWchar c) { return c != 0 && _gl_wc_class(loc, c, GL_CLASS_BLANK) != 0; }
bool IsSpace(GlLocale *loc, GlWchar c) { return c != 0 && _gl_wc_class(loc, c, GL_CLASS_SPACE) != 0; }

bool ReadDecimal(GlLocale *loc, const GlWchar **t, int32_t width, int32_t precision,
                 int64_t *value) {
  const GlWchar *p = *t;
  uint32_t v = 0;
  int32_t negative = 0;
  if (_gl_scan_uint_field(loc, &v, &negative, 10, &p, width, precision) != 0 || negative) {
    return false;
  }
  *value = v;
  *t = p;
  return true;
}

bool ReadName(GlLocale *loc, const GlWchar **t, GlNameTrie first, GlNameTrie second,
              int32_t *payload) {
  int32_t n = 0;
  for (GlNameTrie trie : {first, second}) {
    if (trie == nullptr) continue;
    // The longest name: a hebrew leap year's "Adar I" begins with "Adar".
    if (_gl_trie_wcsmatch_longest(loc, trie, *t, &n, payload) == 0) {
      *t += n;
      return true;
    }
  }
  return false;
}

bool ReadFraction(const GlWchar **t, int32_t width, int32_t precision, int32_t *micro) {
  const GlWchar *p = *t;
  int32_t digits = 0;
  int32_t v = 0;
  while (IsAsciiDigit(*p) && (width <= 0 || digits < width)) {
    if (digits < 6) v = v * 10 + static_cast<int32_t>(*p - '0');
    ++digits;
    ++p;
  }
  if (digits == 0 || digits < precision) return false;
  for (int32_t i = digits; i < 6; ++i) v *= 10;
  *micro = v;
  *t = p;
  return true;
}

bool ReadShortYear(const GlWchar **t, int32_t *value, int32_t *digits) {
  const GlWchar *p = *t;
  int32_t n = 0, v = 0;
  while (n < 4 && IsAsciiDigit(p[n])) v = v * 10 + static_cast<int32_t>(p[n++] - '0');
  if (n == 0) return false;
  *value = v;
  *digits = n;
  *t = p + n;
  return true;
}

}  // namespace glptime

using namespace glptime;

int32_t _gl_ptime_alt_number(GlLocale *loc, const GlWchar **cursor, int32_t width,
                             int32_t precision, int32_t *value) {
  const GlTimeInfo &ti = loc->time;
  const int32_t base = ti.alt_digits_count;
  GlNameTrie trie = ti.tries[GL_TRIE_ALT_DIGITS];
  if (base <= 0 || trie == nullptr) return -1;
  const GlWchar *p = *cursor;
  const bool limited = width > 0;
  int64_t left = width;
  while (IsSpace(loc, *p)) {
    if (limited) {
      int32_t w = gl_wcwidth(loc, *p);
      left -= w > 0 ? w : 1;
    }
    ++p;
  }
  if (limited && left <= 0) return -1;
  int64_t v = 0;
  int32_t taken = 0;
  int32_t n = 0, digit = 0;
  // The longest digit: with a hundred of them the text of eleven begins
  // with the text of ten.
  while ((!limited || left > 0) && *p != 0 &&
         _gl_trie_wcsmatch_longest(loc, trie, p, &n, &digit) == 0) {
    if (n == 0) break;
    v = v * base + digit;
    if (v > INT32_MAX) return -1;
    p += n;
    ++taken;
    --left;
  }
  if (taken == 0 || taken < precision) return -1;
  *value = static_cast<int32_t>(v);
  *cursor = p;
  return 0;
}
