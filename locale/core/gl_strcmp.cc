// Comparisons by code value: wide strings as unsigned 32-bit values,
// multibyte strings by their bytes.
#include <string.h>

#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"

using namespace glchars;

namespace {

int32_t Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// Length of the next character for gl_full_mbscmp: 0 at the NUL.
int32_t NextLength(GlLocale *loc, const char *p) {
  if (loc->single_byte) return *p != 0 ? 1 : 0;
  return gl_full_mblen(loc, p, 4);
}

// End of the first n characters of s (or its terminator); NULL with
// error 1 when a step fails.
const char *CutAfter(GlLocale *loc, const char *s, int32_t n) {
  const char *p = s;
  for (; n > 0 && gl_ismbsterm(loc, p) == 0; --n) {
    p = loc->single_byte ? p + 1 : gl_full_mbsnext(loc, p);
    if (p == nullptr) {
      SetError(loc, GL_EILSEQ);
      return nullptr;
    }
  }
  return p;
}

}  // namespace

int32_t gl_wcscmp(const GlWchar *s1, const GlWchar *s2) {
  for (;; ++s1, ++s2) {
    if (*s1 != *s2) return *s1 > *s2 ? 1 : -1;
    if (*s1 == 0) return 0;
  }
}

int32_t gl_wcsncmp(const GlWchar *s1, const GlWchar *s2, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    if (s1[i] != s2[i] || s1[i] == 0) return static_cast<int32_t>(s1[i] - s2[i]);
  }
  return 0;
}

int32_t _zel_gl_wcfscmp(const GlWchar *s1, int32_t l1, const GlWchar *s2, int32_t l2) {
  if (l1 == -1) l1 = gl_wcslen(s1);
  if (l2 == -1) l2 = gl_wcslen(s2);
  int32_t n = l1 < l2 ? l1 : l2;
  for (int32_t i = 0; i < n; ++i) {
    if (s1[i] != s2[i]) return s1[i] > s2[i] ? 1 : -1;
  }
  return l1 - l2;
}

int32_t gl_full_mbscmp(GlLocale *loc, const char *s1, const char *s2) {
  for (;;) {
    int32_t n1 = NextLength(loc, s1);
    int32_t n2 = NextLength(loc, s2);
    if (n1 < 0 || n2 < 0) return 0;  // invalid character: error 1 is set
    if (n1 != n2) return n1 > n2 ? 1 : -1;
    if (n1 == 0) return 0;
    if (int c = memcmp(s1, s2, static_cast<size_t>(n1))) return Sign(c);
    s1 += n1;
    s2 += n2;
  }
}

int32_t gl_full_mbsncmp(GlLocale *loc, const char *s1, const char *s2, int32_t n) {
  const char *e1 = CutAfter(loc, s1, n);
  const char *e2 = e1 != nullptr ? CutAfter(loc, s2, n) : nullptr;
  if (e2 == nullptr) return 0;
  size_t l1 = static_cast<size_t>(e1 - s1);
  size_t l2 = static_cast<size_t>(e2 - s2);
  if (int c = memcmp(s1, s2, l1 < l2 ? l1 : l2)) return Sign(c);
  return l1 == l2 ? 0 : (l1 > l2 ? 1 : -1);
}

int32_t _zel_gl_mbscmp(GlLocale *loc, const char *s1, int32_t l1, const char *s2, int32_t l2) {
  if ((l1 == -1) != (l2 == -1)) {
    SetError(loc, GL_EMIXEDLEN);
    return 0;
  }
  if (l1 < -1 || l2 < -1) {
    SetError(loc, GL_EBADARG);
    return 0;
  }
  if (l1 == -1) {
    int32_t m = gl_mb_loc_min(loc);
    l1 = gl_mbsbytes(loc, s1) - m;
    l2 = gl_mbsbytes(loc, s2) - m;
    if (l1 < 0 || l2 < 0) return 0;  // invalid string: error 1 is set
  }
  if (int c = memcmp(s1, s2, static_cast<size_t>(l1 < l2 ? l1 : l2))) return c;
  return l1 - l2;
}

int32_t _zel_gl_fast_mbscmp(GlLocale *, const char *s1, int32_t l1, const char *s2, int32_t l2) {
  if (l1 != l2) return 1;
  if (l1 <= 0) return 0;
  if (s1[0] != s2[0]) return 1;
  return memcmp(s1, s2, static_cast<size_t>(l1)) == 0 ? 0 : 1;
}
