// Integer field readers.
#include "locale/format/gl_intscan.h"

#include <errno.h>

#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_width.h"
#include "locale/format/gl_fmtspec.h"
#include "locale/format/gl_numconv.h"

namespace {

bool Is(GlLocale *loc, GlWchar c, uint32_t cls) { return c != 0 && _gl_wc_class(loc, c, cls) != 0; }

// Characters of the locale's negative sign at p, 0 when it is not there.
int32_t NegativeSignAt(GlLocale *loc, const GlWchar *p) {
  const GlWchar *s = loc->numeric.num_negative_sign.wc;
  if (s == nullptr || *s == 0) return 0;
  int32_t n = 0;
  for (; s[n] != 0; ++n) {
    if (p[n] != s[n]) return 0;
  }
  return n;
}

template <typename T>
T Convert(GlLocale *loc, const GlWchar *p, GlWchar **end, int32_t base);
template <>
uint32_t Convert<uint32_t>(GlLocale *loc, const GlWchar *p, GlWchar **end, int32_t base) {
  return gl_wcstoul(loc, p, end, base, 0);
}
template <>
uint64_t Convert<uint64_t>(GlLocale *loc, const GlWchar *p, GlWchar **end, int32_t base) {
  return gl_wcstoull(loc, p, end, base, 0);
}

template <typename T>
int32_t ScanField(GlLocale *loc, T *value, int32_t *negative, int32_t base,
                  const GlWchar **cursor, int32_t width, int32_t precision) {
  int32_t *err = _gl_ext_errno(loc);
  const GlWchar *p = *cursor;
  int32_t used = 0;  // characters counted against the precision
  *negative = 0;
  if (width <= 0) {
    int32_t sign = *p == '-' ? 1 : NegativeSignAt(loc, p);
    if (sign > 0) {
      *negative = 1;
      p += sign;
      ++used;
    }
    *err = 0;
    GlWchar *end = nullptr;
    T v = Convert<T>(loc, p, &end, base);
    bool overflow = errno == ERANGE;
    if (*err != 0 || end == nullptr || end == p) {
      *cursor = p;
      return -1;
    }
    if (overflow) *err = GL_ERANGE;
    used += static_cast<int32_t>(end - p);
    p = end;
    while (precision != -1 && used < precision && Is(loc, *p, GL_CLASS_BLANK)) {
      ++p;
      ++used;
    }
    *cursor = p;
    if (precision != -1 && used < precision) return -1;
    *value = v;
    return 0;
  }
  while (width > 0 && Is(loc, *p, GL_CLASS_SPACE)) {
    width -= gl_wcwidth(loc, *p);
    ++p;
    ++used;
  }
  if (*p == '-') {
    width -= gl_wcwidth(loc, '-');
    *negative = 1;
    ++p;
    ++used;
  } else if (int32_t sign = NegativeSignAt(loc, p); sign > 0) {
    width -= _gl_text_width(loc, loc->numeric.num_negative_sign.wc);
    *negative = 1;
    p += sign;
    ++used;
  }
  if (width <= 0) {
    *cursor = p;
    return -1;
  }
  // The digits, into a buffer of width + 1 characters.
  GlWchar local[64];
  GlWchar *buf = local;
  if (width + 1 > 64) {
    buf = static_cast<GlWchar *>(
        _gl_malloc((static_cast<uint64_t>(width) + 1) * sizeof(GlWchar)));
    if (buf == nullptr) {
      *err = GL_ENOMEM;
      *cursor = p;
      return -1;
    }
  }
  int32_t n = 0, collected = 0;
  while (collected < width && n < width && Is(loc, p[n], GL_CLASS_DIGIT)) {
    collected += gl_wcwidth(loc, p[n]);
    buf[n] = p[n];
    ++n;
  }
  buf[n] = 0;
  int32_t saved = *err;
  *err = 0;
  GlWchar *end = nullptr;
  T v = Convert<T>(loc, buf, &end, base);
  bool overflow = errno == ERANGE;
  int32_t taken = end == nullptr ? 0 : static_cast<int32_t>(end - buf);
  if (buf != local) _gl_free(buf);
  if (taken == 0 || *err != 0) {
    if (*err == 0) *err = saved;
    *cursor = p;
    return -1;
  }
  *err = overflow ? GL_ERANGE : saved;
  width -= collected;
  used += taken;
  p += taken;
  while (width > 0 && Is(loc, *p, GL_CLASS_BLANK)) ++p;
  while (width > 0 && Is(loc, *p, GL_CLASS_SPACE)) {
    ++p;
    --width;
    ++used;
  }
  *cursor = p;
  if (precision != -1 && used < precision) return -1;
  *value = v;
  return 0;
}

}  // namespace

int32_t _gl_scan_uint_field(GlLocale *loc, uint32_t *value, int32_t *negative, int32_t base,
                            const GlWchar **cursor, int32_t width, int32_t precision) {
  return ScanField(loc, value, negative, base, cursor, width, precision);
}

int32_t _gl_scan_uint64_field(GlLocale *loc, uint64_t *value, int32_t *negative, int32_t base,
                              const GlWchar **cursor, int32_t width, int32_t precision) {
  return ScanField(loc, value, negative, base, cursor, width, precision);
}
