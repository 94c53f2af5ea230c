// Conversion specifications, integer fields, digit grouping and signs.
#include "locale/format/gl_fmtspec.h"

#include <limits.h>

#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_width.h"
#include "locale/format/gl_format_errors.h"

namespace {

void SetError(GlLocale *loc, int32_t e) { *_gl_ext_errno(loc) = e; }

bool IsDigit(GlLocale *loc, GlWchar c) { return _gl_wc_class(loc, c, GL_CLASS_DIGIT) != 0; }

// Reads a run of digit-class characters as a decimal number. False when the
// value leaves 32 bits (the run is still consumed).
bool ReadNumber(GlLocale *loc, const GlWchar **p, int32_t *value) {
  int64_t v = 0;
  bool ok = true;
  while (**p != 0 && IsDigit(loc, **p)) {
    v = v * 10 + (static_cast<int64_t>(**p) - '0');
    if (v > INT32_MAX || v < 0) {
      ok = false;
      v = INT32_MAX;
    }
    ++*p;
  }
  *value = static_cast<int32_t>(v);
  return ok;
}

bool AsciiLetter(GlWchar c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The size of group k (1 the rightmost), or 0 when the grouping has ended.
int32_t GroupSize(const int32_t *g, int32_t k) {
  int32_t n = g[0];
  if (n <= 0 || n >= GL_INT_LIST_SIZE) return 0;
  int32_t size = 0;
  for (int32_t i = 1; i <= n && i <= k; ++i) {
    if (g[i] == -1 || (g[i] < 0)) return 0;
    if (g[i] != 0) size = g[i];
  }
  return size;
}

const GlWchar *Wide(const GlText &t) { return t.wc; }

}  // namespace

void _gl_fmtspec_preset(GlFormatSpec *spec) {
  spec->flags = 0;
  spec->width = 0;
  spec->precision = -1;
  spec->justify = 0;
  spec->pad = ' ';
  spec->argpos = 0;
}

int32_t _gl_parse_fmtspec(GlLocale *loc, const GlWchar **cursor, GlFormatSpec *spec,
                          int32_t *argpos, va_list *args) {
  const GlWchar *p = *cursor;
  // An argument position: digits directly followed by '$'.
  const GlWchar *q = p;
  while (*q != 0 && IsDigit(loc, *q)) ++q;
  if (q != p && *q == '$') {
    int32_t pos = 0;
    if (!ReadNumber(loc, &p, &pos)) {
      SetError(loc, GL_EBADSPEC);
      return -1;
    }
    if (argpos != nullptr) *argpos = pos;
    spec->argpos = pos;
    p = q + 1;
  }
  // Flags; '0' is the last one read.
  for (bool more = true; more && *p != 0;) {
    switch (*p) {
      case ' ': spec->flags |= GL_FMT_SPACE; break;
      case '#': spec->flags |= GL_FMT_ALT; break;
      case '\'': spec->flags |= GL_FMT_GROUP; break;
      case '+': spec->flags |= GL_FMT_PLUS; break;
      case '-': spec->flags |= GL_FMT_LEFT; break;
      case '0':
        if ((spec->flags & GL_FMT_LEFT) == 0) spec->flags |= GL_FMT_ZERO;
        more = false;
        break;
      default: more = false; continue;
    }
    ++p;
  }
  // Width.
  if (*p == '*') {
    ++p;
    if ((spec->flags & GL_FMT_ARGWIDTH) != 0 && args != nullptr) {
      int w = va_arg(*args, int);
      if (w == INT_MIN) {
        SetError(loc, GL_EBADSPEC);
        return -1;
      }
      if (w < 0) {
        spec->flags |= GL_FMT_LEFT;
        w = -w;
      }
      spec->width = w;
    } else {
      spec->flags |= GL_FMT_SUPPRESS;
    }
  } else if (*p != 0 && IsDigit(loc, *p)) {
    if (!ReadNumber(loc, &p, &spec->width)) {
      SetError(loc, GL_EBADSPEC);
      return -1;
    }
  }
  // Precision.
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      ++p;
      // Without an argument list there is nothing to read: no precision.
      if (args != nullptr) {
        int v = va_arg(*args, int);
        spec->precision = v < 0 ? -1 : v;
      }
    } else if (*p != 0 && IsDigit(loc, *p)) {
      if (!ReadNumber(loc, &p, &spec->precision)) {
        SetError(loc, GL_EBADSPEC);
        return -1;
      }
    } else if (AsciiLetter(*p)) {
      spec->precision = 0;
    } else {
      SetError(loc, GL_EBADSPEC);
      return -1;
    }
  }
  if ((spec->flags & GL_FMT_LEFT) != 0) {
    spec->justify = -1;
    spec->pad = ' ';
  }
  if ((spec->flags & GL_FMT_ZERO) != 0) {
    spec->justify = 0;
    spec->pad = '0';
  }
  *cursor = p;
  return 0;
}

int32_t _gl_text_chars(const GlWchar *ws) {
  int32_t n = 0;
  while (ws != nullptr && ws[n] != 0) ++n;
  return n;
}

int32_t _gl_text_width(GlLocale *loc, const GlWchar *ws) {
  int32_t n = _gl_text_chars(ws);
  if (n == 0) return 0;
  int32_t saved = *_gl_ext_errno(loc);
  int32_t w = gl_wcswidth(loc, ws, n);
  if (w < 0) {
    // A text without a width (a control character) counts one column a
    // character, so that padding stays finite.
    SetError(loc, saved);
    return n;
  }
  return w;
}

int32_t _gl_group_count(GlLocale *loc, int32_t digits, int32_t direction, GlGroupWalk *walk) {
  const int32_t *g = loc->numeric.grouping;
  int32_t covered = 0;
  int32_t seps = 0;
  for (int32_t k = 1;; ++k) {
    int32_t size = GroupSize(g, k);
    if (size <= 0 || covered + size >= digits) break;
    covered += size;
    ++seps;
  }
  if (walk != nullptr) {
    walk->remaining = seps;
    if (direction == GL_GROUP_FORWARD) {
      walk->index = seps;
      walk->left = digits - covered;
    } else {
      walk->index = 1;
      walk->left = GroupSize(g, 1);
    }
  }
  return seps;
}

void _gl_group_step(GlLocale *loc, GlWchar **out, GlGroupWalk *walk, int32_t direction) {
  if (walk->remaining <= 0) return;
  if (--walk->left > 0) return;
  const GlWchar *sep = Wide(loc->numeric.thousands_sep);
  int32_t n = _gl_text_chars(sep);
  if (direction == GL_GROUP_FORWARD) {
    for (int32_t i = 0; i < n; ++i) *(*out)++ = sep[i];
    walk->left = GroupSize(loc->numeric.grouping, walk->index);
    --walk->index;
  } else {
    for (int32_t i = n - 1; i >= 0; --i) *--*out = sep[i];
    ++walk->index;
    walk->left = GroupSize(loc->numeric.grouping, walk->index);
  }
  --walk->remaining;
}

void _gl_put_sign(GlLocale *loc, GlWchar **out, int32_t negative, uint32_t flags,
                  int32_t direction) {
  const GlWchar *text = nullptr;
  bool blanks = false;
  if (negative) {
    text = Wide(loc->numeric.num_negative_sign);
  } else if ((flags & GL_FMT_PLUS) != 0) {
    text = Wide(loc->numeric.num_positive_sign);
  } else if ((flags & GL_FMT_SPACE) != 0) {
    text = Wide(loc->numeric.num_positive_sign);
    blanks = true;
  }
  int32_t n = _gl_text_chars(text);
  if (direction == GL_GROUP_FORWARD) {
    for (int32_t i = 0; i < n; ++i) *(*out)++ = blanks ? ' ' : text[i];
  } else {
    for (int32_t i = n - 1; i >= 0; --i) *--*out = blanks ? ' ' : text[i];
  }
}

int32_t _gl_put_uint_field(GlLocale *loc, uint32_t magnitude, int32_t negative, int32_t base,
                           int32_t *count, int32_t capacity, GlWchar **out, int32_t width,
                           int32_t precision, uint32_t flags) {
  return _gl_put_uint64_field(loc, magnitude, negative, base, count, capacity, out, width,
                              precision, flags);
}

int32_t _gl_put_uint64_field(GlLocale *loc, uint64_t magnitude, int32_t negative, int32_t base,
                             int32_t *count, int32_t capacity, GlWchar **out, int32_t width,
                             int32_t precision, uint32_t flags) {
  if (base > 36 || base < 2) {
    SetError(loc, GL_EBADARG);
    return -1;
  }
  int32_t w0 = gl_wcwidth(loc, '0');
  // Digits, least significant first.
  GlWchar digits[64];
  int32_t nd = 0;
  int64_t dw = 0;  // display width so far
  uint64_t v = magnitude;
  do {
    uint32_t d = static_cast<uint32_t>(v % static_cast<uint64_t>(base));
    GlWchar c = d < 10 ? '0' + d : ((flags & GL_FMT_UPPER) != 0 ? 'A' : 'a') + d - 10;
    digits[nd++] = c;
    dw += gl_wcwidth(loc, c);
    v /= static_cast<uint64_t>(base);
  } while (v != 0);
  GlWchar pad = (flags & GL_FMT_ZERO) != 0 ? '0' : ' ';
  int64_t prec = precision;
  if (base == 8 && (flags & GL_FMT_ALT) != 0 && prec <= dw) prec = dw + w0;
  GlGroupWalk walk = {0, 0, 0};
  int32_t seps = (flags & GL_FMT_GROUP) != 0
                     ? _gl_group_count(loc, nd, GL_GROUP_BACKWARD, &walk)
                     : 0;
  int64_t zeros = prec > nd ? prec - nd : 0;
  dw += zeros * w0;
  const GlWchar *sep = Wide(loc->numeric.thousands_sep);
  int64_t chars = zeros + nd + static_cast<int64_t>(seps) * _gl_text_chars(sep);
  dw += static_cast<int64_t>(seps) * _gl_text_width(loc, sep);
  const GlWchar *sign = nullptr;
  if (negative) {
    sign = Wide(loc->numeric.num_negative_sign);
  } else if ((flags & (GL_FMT_PLUS | GL_FMT_SPACE)) != 0) {
    sign = Wide(loc->numeric.num_positive_sign);
  }
  chars += _gl_text_chars(sign);
  dw += _gl_text_width(loc, sign);
  bool prefix = base == 16 && (flags & GL_FMT_ALT) != 0;
  if (prefix) {
    chars += 2;
    dw += w0 + gl_wcwidth(loc, 'x');
  }
  int64_t pads = 0;
  if (width >= dw) {
    int64_t wp = gl_wcwidth(loc, pad);
    if (wp <= 0) wp = 1;
    pads = (width - dw + wp / 2) / wp;
  }
  chars += pads;
  if (static_cast<int64_t>(*count) + chars > capacity) {
    SetError(loc, GL_E2BIG);
    return -1;
  }
  // The field is written from its end.
  GlWchar *end = *out + chars;
  GlWchar *p = end;
  bool left = (flags & GL_FMT_LEFT) != 0;
  bool zero = (flags & GL_FMT_ZERO) != 0;
  if (left && !zero) {
    for (int64_t i = 0; i < pads; ++i) *--p = pad;
  }
  for (int32_t i = 0; i < nd; ++i) {
    *--p = digits[i];
    if (seps > 0 && i + 1 < nd) _gl_group_step(loc, &p, &walk, GL_GROUP_BACKWARD);
  }
  for (int64_t i = 0; i < zeros; ++i) *--p = '0';
  if (prefix) {
    *--p = (flags & GL_FMT_UPPER) != 0 ? 'X' : 'x';
    *--p = '0';
  }
  if (pad == ' ') _gl_put_sign(loc, &p, negative, flags, GL_GROUP_BACKWARD);
  if (!left || zero) {
    for (int64_t i = 0; i < pads; ++i) *--p = pad;
  }
  if (pad == '0') _gl_put_sign(loc, &p, negative, flags, GL_GROUP_BACKWARD);
  *out = end;
  *count += static_cast<int32_t>(chars);
  return 0;
}
