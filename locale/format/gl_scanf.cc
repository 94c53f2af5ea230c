// The number scanning engine.
#include "locale/format/gl_scanf.h"

#include <errno.h>
#include <string.h>

#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_width.h"
#include "locale/format/gl_fmtspec.h"
#include "locale/format/gl_format_errors.h"
#include "locale/format/gl_intscan.h"
#include "locale/format/gl_numconv.h"
#include "locale/format/gl_strftime.h"

namespace {

bool IsSpace(GlLocale *loc, GlWchar c) {
  return c != 0 && _gl_wc_class(loc, c, GL_CLASS_SPACE) != 0;
}

int32_t Width(GlLocale *loc, GlWchar c) {
  int32_t w = gl_wcwidth(loc, c);
  return w > 0 ? w : 1;
}

// Reads a floating field. False when it cannot be read (the error number
// tells 3 and 45 apart from a field without a number).
bool ScanFloat(GlLocale *loc, const GlWchar **cursor, int32_t width, int32_t precision,
               uint32_t flags, double *value) {
  int32_t *err = _gl_ext_errno(loc);
  const GlWchar *p = *cursor;
  if (*p == 0 || IsSpace(loc, *p)) return false;
  int32_t group = (flags & GL_FMT_GROUP) != 0;
  GlWchar *end = nullptr;
  int32_t taken = 0;
  double v;
  bool overflow;
  if (width > 0) {
    GlWchar *copy = static_cast<GlWchar *>(
        _gl_ext_malloc((static_cast<uint64_t>(width) + 1) * sizeof(GlWchar)));
    if (copy == nullptr) {
      *err = GL_ENOMEM;
      return false;
    }
    int32_t n = 0, sum = 0;
    while (p[n] != 0 && sum < width && n < width) {
      sum += Width(loc, p[n]);
      copy[n] = p[n];
      ++n;
    }
    copy[n] = 0;
    v = gl_wcstod(loc, copy, &end, group);
    overflow = errno == ERANGE;
    taken = end == nullptr ? 0 : static_cast<int32_t>(end - copy);
    _gl_free(copy);
    p += n;
  } else {
    v = gl_wcstod(loc, p, &end, group);
    overflow = errno == ERANGE;
    taken = end == nullptr ? 0 : static_cast<int32_t>(end - p);
    p += taken;
  }
  if (taken == 0 || *err != 0) {
    *err = 0;
    return false;
  }
  if (overflow) *err = GL_ERANGE;
  int32_t used = taken;
  while (precision != -1 && used < precision && IsSpace(loc, *p)) {
    ++p;
    ++used;
  }
  *cursor = p;
  if (precision != -1 && used < precision) {
    *err = GL_EBADSPEC;
    return false;
  }
  *value = v;
  return true;
}

// Stores the characters of a string field; false with error 1 when one
// has no multibyte form.
bool StoreString(GlLocale *loc, const GlWchar *s, int32_t n, bool wide, void *target) {
  if (wide) {
    GlWchar *t = static_cast<GlWchar *>(target);
    memcpy(t, s, static_cast<size_t>(n) * sizeof(GlWchar));
    t[n] = 0;
    return true;
  }
  char *t = static_cast<char *>(target);
  for (int32_t i = 0; i < n; ++i) {
    if (loc->single_byte) {
      *t++ = static_cast<char>(s[i] & 0xff);
      continue;
    }
    int32_t k = gl_full_wctomb(loc, t, s[i]);
    if (k < 0) {
      *_gl_ext_errno(loc) = GL_EILSEQ;
      return false;
    }
    t += k;
  }
  gl_mbsterm(loc, t);
  return true;
}

enum Letter { kInteger, kFloat, kChar, kString, kUnknown };

Letter Classify(GlWchar c, int32_t *base) {
  switch (c) {
    case 'd': case 'i': case 'u': *base = 10; return kInteger;
    case 'o': *base = 8; return kInteger;
    case 'x': case 'X': *base = 16; return kInteger;
    case 'q': *base = 4; return kInteger;
    case 'b': *base = 2; return kInteger;
    case 'e': case 'E': case 'f': case 'g': case 'G': return kFloat;
    case 'c': return kChar;
    case 's': return kString;
    default: return kUnknown;
  }
}

}  // namespace

int32_t _gl_wcsscanf_internal(GlLocale *loc, const GlWchar *in, const GlWchar *format,
                              va_list *args) {
  int32_t *err = _gl_ext_errno(loc);
  if (in == nullptr || format == nullptr) {
    *err = GL_ENULLARG;
    return -1;
  }
  const GlWchar *p = in;
  const GlWchar *f = format;
  int32_t count = 0;
  int32_t saved = 0;
  auto finish = [&]() {
    if (saved != 0 && *err == 0) *err = saved;
    return count;
  };
  while (*f != 0) {
    if (IsSpace(loc, *f)) {
      while (IsSpace(loc, *f)) ++f;
      while (IsSpace(loc, *p)) ++p;
      continue;
    }
    if (*f != '%') {
      if (*p != *f) {
        *err = GL_EBADCONV;
        return -1;
      }
      ++p;
      ++f;
      continue;
    }
    if (f[1] == '%') {
      if (*p == 0) return finish();  // the input has ended
      ++p;
      f += 2;
      continue;
    }
    ++f;
    GlFormatSpec spec;
    _gl_fmtspec_preset(&spec);
    if (_gl_parse_fmtspec(loc, &f, &spec, nullptr, nullptr) != 0) return -1;
    int32_t length = 0;
    if (*f == 'l' || *f == 'L') {
      length = 1;
      ++f;
    } else if (*f == 'h' || *f == 'H') {
      length = -1;
      ++f;
    }
    GlWchar letter = *f;
    if (letter == 0) {
      *err = GL_EMISSING;
      return -1;
    }
    ++f;
    int32_t base = 10;
    Letter kind = Classify(letter, &base);
    if (kind == kUnknown) {
      *err = GL_EBADCONV;
      return -1;
    }
    if (kind == kChar && spec.width > 1 && spec.precision != -1) {
      *err = GL_EBADCONV;
      return -1;
    }
    bool suppress = (spec.flags & GL_FMT_SUPPRESS) != 0;
    if ((spec.flags & (GL_FMT_LEFT | GL_FMT_ZERO)) == 0) {
      while (IsSpace(loc, *p)) ++p;
    }
    if ((kind == kInteger || kind == kFloat) && *err != 0) {
      saved = *err;
      *err = 0;
    }
    if (kind == kInteger) {
      uint64_t v = 0;
      int32_t negative = 0;
      if (_gl_scan_uint64_field(loc, &v, &negative, base, &p, spec.width, spec.precision) !=
          0) {
        if (*err == GL_ENOMEM) return -1;
        return finish();
      }
      if (suppress) continue;
      if (letter == 'u' && negative) {
        *err = GL_EBADCONV;
        return -1;
      }
      uint64_t stored = negative ? uint64_t{0} - v : v;
      if (length < 0) {
        *va_arg(*args, int16_t *) = static_cast<int16_t>(static_cast<uint16_t>(stored));
      } else {
        *va_arg(*args, int32_t *) = static_cast<int32_t>(static_cast<uint32_t>(stored));
      }
      ++count;
      continue;
    }
    if (kind == kFloat) {
      double v = 0;
      if (!ScanFloat(loc, &p, spec.width, spec.precision, spec.flags, &v)) {
        if (*err == GL_ENOMEM) return -1;
        return finish();
      }
      if (suppress) continue;
      *va_arg(*args, double *) = v;
      ++count;
      continue;
    }
    if (kind == kChar && spec.width <= 1) {
      if (*p == 0) return finish();  // the input has ended
      GlWchar c = *p++;
      if (suppress) continue;
      if (length > 0) {
        *va_arg(*args, int32_t *) = static_cast<int32_t>(c);
      } else if (loc->single_byte) {
        *va_arg(*args, char *) = static_cast<char>(c & 0xff);
      } else if (gl_full_wctomb(loc, va_arg(*args, char *), c) < 0) {
        return finish();
      }
      ++count;
      continue;
    }
    // s, and c with a width: up to white space, the end, or the width.
    int32_t n = 0, sum = 0;
    while (p[n] != 0 && !IsSpace(loc, p[n])) {
      if (spec.width > 0 && sum >= spec.width) break;
      sum += Width(loc, p[n]);
      ++n;
    }
    const GlWchar *field = p;
    p += n;
    if (suppress) continue;
    if (!StoreString(loc, field, n, length > 0, va_arg(*args, void *))) return finish();
    ++count;
  }
  return finish();
}

int32_t _gl_mbsscanf_internal(GlLocale *loc, const char *in, const char *format,
                              va_list *args) {
  if (in == nullptr || format == nullptr) {
    *_gl_ext_errno(loc) = GL_ENULLARG;
    return -1;
  }
  if (loc->mbstowcs == nullptr) {  // no LC_CTYPE data
    *_gl_ext_errno(loc) = GL_ENOCTYPE;
    return -1;
  }
  GlWchar *win = _gl_mbstowcs_grow(loc, in);
  if (win == nullptr) return -1;
  GlWchar *wformat = _gl_mbstowcs_grow(loc, format);
  if (wformat == nullptr) {
    _gl_free(win);
    return -1;
  }
  int32_t r = _gl_wcsscanf_internal(loc, win, wformat, args);
  _gl_free(wformat);
  _gl_free(win);
  return r;
}

namespace {

int32_t WideResult(GlLocale *loc, int32_t r) {
  return *_gl_ext_errno(loc) == GL_ENOMEM ? -1 : r;
}

}  // namespace

#define GL_SCAN_ENTRY(call, first)            \
  *_gl_ext_errno(loc) = 0;                    \
  va_list ap;                                 \
  va_start(ap, first);                        \
  int32_t r = call;                           \
  va_end(ap);                                 \
  return WideResult(loc, r)

int32_t gl_wcsscanf(GlLocale *loc, const GlWchar *in, const GlWchar *format, ...) {
  GL_SCAN_ENTRY(_gl_wcsscanf_internal(loc, in, format, &ap), format);
}

int32_t gl_wcspnum(GlLocale *loc, const GlWchar *in, const GlWchar *format, ...) {
  GL_SCAN_ENTRY(_gl_wcsscanf_internal(loc, in, format, &ap), format);
}

int32_t gl_mbsscanf(GlLocale *loc, const char *in, const char *format, ...) {
  GL_SCAN_ENTRY(_gl_mbsscanf_internal(loc, in, format, &ap), format);
}

int32_t gl_mbspnum(GlLocale *loc, const char *in, const char *format, ...) {
  GL_SCAN_ENTRY(_gl_mbsscanf_internal(loc, in, format, &ap), format);
}
