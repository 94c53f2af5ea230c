// The number formatting engine.
#include "locale/format/gl_printf.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_width.h"
#include "locale/format/gl_fmon.h"
#include "locale/format/gl_fmtspec.h"
#include "locale/format/gl_format_errors.h"
#include "locale/format/gl_strftime.h"

namespace {

void SetError(GlLocale *loc, int32_t e) { *_gl_ext_errno(loc) = e; }

constexpr int32_t kFloatText = 127;  // characters of a run-time floating text

// The output state of one call.
struct Out {
  GlLocale *loc;
  GlWchar *p;
  int32_t count;  // starts at 1: the terminator's place
  int32_t capacity;

  bool Put(GlWchar c) {
    if (count >= capacity) {
      SetError(loc, GL_E2BIG);
      return false;
    }
    *p++ = c;
    ++count;
    return true;
  }
  bool PutText(const GlWchar *t) {
    for (; t != nullptr && *t != 0; ++t) {
      if (!Put(*t)) return false;
    }
    return true;
  }
  bool PutBlanks(int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
      if (!Put(' ')) return false;
    }
    return true;
  }
};

enum Length { kHH = -2, kH = -1, kNone = 0, kL = 1, kLL = 2 };

void SignedArg(va_list *args, int32_t length, uint64_t *magnitude, int32_t *negative) {
  int64_t v;
  switch (length) {
    case kLL: v = va_arg(*args, long long); break;
    case kH: v = static_cast<int16_t>(va_arg(*args, int)); break;
    case kHH: v = static_cast<int8_t>(va_arg(*args, int)); break;
    default: v = static_cast<int32_t>(va_arg(*args, int)); break;
  }
  *negative = v < 0;
  *magnitude = v < 0 ? uint64_t{0} - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

uint64_t UnsignedArg(va_list *args, int32_t length) {
  switch (length) {
    case kLL: return va_arg(*args, unsigned long long);
    case kH: return static_cast<uint16_t>(va_arg(*args, unsigned));
    case kHH: return static_cast<uint8_t>(va_arg(*args, unsigned));
    default: return va_arg(*args, unsigned);
  }
}

int32_t Chars(const GlWchar *t) { return _gl_text_chars(t); }

// Display width of a run-time floating text, '.' counting as the locale's
// decimal point.
int32_t FloatTextWidth(GlLocale *loc, const char *text) {
  int32_t w = 0;
  int32_t dp = _gl_text_width(loc, loc->numeric.decimal_point.wc);
  for (; *text != 0; ++text) {
    w += *text == '.' ? dp : gl_wcwidth(loc, static_cast<unsigned char>(*text));
  }
  return w;
}

void BuildFormat(char *fmt, size_t size, uint32_t flags, int32_t width, int32_t precision,
                 char letter) {
  char f[5] = "%";
  size_t n = 1;
  if ((flags & GL_FMT_ALT) != 0) f[n++] = '#';
  if ((flags & GL_FMT_LEFT) != 0) f[n++] = '-';
  if ((flags & GL_FMT_ZERO) != 0) f[n++] = '0';
  f[n] = 0;
  if (width > 0 && precision >= 0) {
    snprintf(fmt, size, "%s%d.%d%c", f, width, precision, letter);
  } else if (width > 0) {
    snprintf(fmt, size, "%s%d%c", f, width, letter);
  } else if (precision >= 0) {
    snprintf(fmt, size, "%s.%d%c", f, precision, letter);
  } else {
    snprintf(fmt, size, "%s%c", f, letter);
  }
}

bool PutFloatField(Out *o, double x, int32_t width, int32_t precision, uint32_t flags,
                   char letter) {
  GlLocale *loc = o->loc;
  const GlNumericInfo &num = loc->numeric;
  if (width >= 100) {
    SetError(loc, GL_E2BIG);
    return false;
  }
  bool negative = x < 0;
  double ax = fabs(x);
  GlGroupWalk walk = {0, 0, 0};
  int32_t seps = 0;
  if (letter == 'f' && (flags & GL_FMT_GROUP) != 0) {
    int32_t digits = 0;
    for (double v = ax; v >= 1 && digits < 400; v /= 10) ++digits;
    seps = _gl_group_count(loc, digits, GL_GROUP_FORWARD, &walk);
  }
  const GlWchar *psign = num.num_positive_sign.wc;
  const GlWchar *nsign = num.num_negative_sign.wc;
  int32_t sign_len = Chars(nsign) > Chars(psign) ? Chars(nsign) : Chars(psign);
  int32_t taken = 0;
  if (negative) {
    taken = _gl_text_width(loc, nsign);
  } else if ((flags & (GL_FMT_PLUS | GL_FMT_SPACE)) != 0) {
    taken = _gl_text_width(loc, psign);
  }
  taken += seps * _gl_text_width(loc, num.thousands_sep.wc);
  int32_t left = width - taken;
  char fmt[64];
  char text[kFloatText + 1];
  BuildFormat(fmt, sizeof fmt, flags, left, precision, letter);
  if (left > 0) {
    if (_gl_c_format_double(text, sizeof text, fmt, ax) < 0) {
      SetError(loc, GL_E2BIG);
      return false;
    }
    int32_t measured = FloatTextWidth(loc, text);
    if (measured > left) {
      left = 2 * left - measured;
      BuildFormat(fmt, sizeof fmt, flags, left, precision, letter);
    }
  }
  if (_gl_c_format_double(text, sizeof text, fmt, ax) < 0) {
    SetError(loc, GL_E2BIG);
    return false;
  }
  const char *t = text;
  for (; *t == ' '; ++t) {
    if (!o->Put(' ')) return false;
  }
  if (negative) {
    if (!o->PutBlanks(sign_len - Chars(nsign)) || !o->PutText(nsign)) return false;
  } else if ((flags & GL_FMT_PLUS) != 0) {
    if (!o->PutBlanks(sign_len - Chars(psign)) || !o->PutText(psign)) return false;
  } else if ((flags & GL_FMT_SPACE) != 0) {
    if (!o->PutBlanks(sign_len)) return false;
  }
  for (; *t >= '0' && *t <= '9'; ++t) {
    if (!o->Put(static_cast<GlWchar>(*t))) return false;
    if (walk.remaining > 0) {
      int32_t n = Chars(num.thousands_sep.wc);
      if (walk.left == 1 && o->count + n > o->capacity) {
        SetError(loc, GL_E2BIG);
        return false;
      }
      GlWchar *before = o->p;
      _gl_group_step(loc, &o->p, &walk, GL_GROUP_FORWARD);
      o->count += static_cast<int32_t>(o->p - before);
    }
  }
  if (*t == '.') {
    const GlWchar *dp = num.decimal_point.wc;
    if (o->count + Chars(dp) > o->capacity) {
      SetError(loc, GL_E2BIG);
      return false;
    }
    o->PutText(dp);
    ++t;
  }
  for (; *t >= '0' && *t <= '9'; ++t) {
    if (!o->Put(static_cast<GlWchar>(*t))) return false;
  }
  if (*t == 'e' || *t == 'E') {
    if (!o->Put(static_cast<GlWchar>(*t))) return false;
    ++t;
    if (*t == '+' && !o->PutText(psign)) return false;
    if (*t == '-' && !o->PutText(nsign)) return false;
    if (*t == '+' || *t == '-') ++t;
    const char *d = t;
    while (*d >= '0' && *d <= '9') ++d;
    while (d - t > 2 && *t == '0') ++t;
    if (d - t < 2 && !o->Put('0')) return false;
    for (; t < d; ++t) {
      if (!o->Put(static_cast<GlWchar>(*t))) return false;
    }
  }
  for (; *t == ' '; ++t) {
    if (!o->Put(' ')) return false;
  }
  return true;
}

bool PutCharField(Out *o, GlWchar c, int32_t width, uint32_t flags) {
  GlLocale *loc = o->loc;
  GlWchar pad = (flags & GL_FMT_ZERO) != 0 ? '0' : ' ';
  int32_t cw = gl_wcwidth(loc, c);
  int32_t wp = gl_wcwidth(loc, pad);
  if (wp <= 0) wp = 1;
  int64_t pads = width >= cw ? (int64_t{width} - cw + wp / 2) / wp : 0;
  if (o->count + 1 + pads > o->capacity) {
    SetError(loc, GL_E2BIG);
    return false;
  }
  if ((flags & GL_FMT_LEFT) != 0) {
    o->Put(c);
    o->PutBlanks(pads);
  } else {
    for (int64_t i = 0; i < pads; ++i) o->Put(pad);
    o->Put(c);
  }
  return true;
}

bool PutStringField(Out *o, const GlWchar *s, int32_t width, int32_t precision,
                    uint32_t flags) {
  GlLocale *loc = o->loc;
  int32_t len = Chars(s);
  if (width == 0 && precision == -1) {
    width = len;
    precision = len;
  } else if (width > 0 && precision == -1) {
    precision = width;
  }
  int32_t taken = 0;
  int64_t dw = 0, bytes = 0;
  while (taken < precision && taken < len) {
    int32_t w = gl_wcwidth(loc, s[taken]);
    dw += w > 0 ? w : 0;
    bytes += gl_wclen(loc, s[taken]);
    ++taken;
  }
  int64_t pads = width > dw ? width - dw : 0;
  if (o->count + bytes + pads > o->capacity) {
    SetError(loc, GL_E2BIG);
    return false;
  }
  if ((flags & GL_FMT_LEFT) != 0) {
    for (int32_t i = 0; i < taken; ++i) o->Put(s[i]);
    o->PutBlanks(pads);
  } else {
    GlWchar pad = (flags & GL_FMT_ZERO) != 0 ? '0' : ' ';
    for (int64_t i = 0; i < pads; ++i) o->Put(pad);
    for (int32_t i = 0; i < taken; ++i) o->Put(s[i]);
  }
  return true;
}

bool PutSpecial(Out *o, const char *text, int32_t width, uint32_t flags) {
  GlWchar w[5] = {0, 0, 0, 0, 0};
  for (int i = 0; i < 4 && text[i] != 0; ++i) w[i] = static_cast<unsigned char>(text[i]);
  int64_t pads = text[0] == '-' ? 0 : (width > 3 ? width - 3 : 0);
  bool left = (flags & GL_FMT_LEFT) != 0;
  if (!left && !o->PutBlanks(pads)) return false;
  if (!o->PutText(w)) return false;
  return !left || o->PutBlanks(pads);
}

// One conversion, p just after '%'. False when the call fails (a c
// conversion without a character fails without an error number).
bool Convert(Out *o, const GlWchar **pp, va_list *args) {
  GlLocale *loc = o->loc;
  GlFormatSpec spec;
  _gl_fmtspec_preset(&spec);
  spec.flags = GL_FMT_ARGWIDTH;
  if (_gl_parse_fmtspec(loc, pp, &spec, nullptr, args) != 0) return false;
  const GlWchar *p = *pp;
  int32_t length = kNone;
  if (*p == 'l' || *p == 'L') {
    length = kL;
    if (*++p == 'l') {
      length = kLL;
      ++p;
    }
  } else if (*p == 'h' || *p == 'H') {
    length = kH;
    if (*++p == 'h') {
      length = kHH;
      ++p;
    }
  }
  GlWchar letter = *p;
  if (letter == 0) {
    SetError(loc, GL_EMISSING);
    return false;
  }
  *pp = p + 1;
  uint32_t flags = spec.flags;
  int32_t width = spec.width, precision = spec.precision;
  int32_t base = 0;
  bool is_signed = false;
  switch (letter) {
    case 'd':
    case 'i': base = 10; is_signed = true; break;
    case 'b': base = 2; is_signed = true; break;
    case 'u': base = 10; break;
    case 'o': base = 8; break;
    case 'x': base = 16; break;
    case 'X': base = 16; flags |= GL_FMT_UPPER; break;
    case 'q': base = 4; break;
    case 'p': {
      uint64_t v = reinterpret_cast<uintptr_t>(va_arg(*args, void *)) & 0xffffffffu;
      flags |= GL_FMT_UPPER | GL_FMT_ZERO;
      if (width == 0) width = 16;
      GlWchar *q = o->p;
      if (_gl_put_uint64_field(loc, v, 0, 16, &o->count, o->capacity, &q, width, precision,
                               flags) != 0) {
        return false;
      }
      o->p = q;
      return true;
    }
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G': {
      double x = va_arg(*args, double);
      if (isinf(x)) return PutSpecial(o, x > 0 ? "Inf" : "-Inf", width, flags);
      if (isnan(x)) return PutSpecial(o, "NaN", width, flags);
      return PutFloatField(o, x, width, precision, flags, static_cast<char>(letter));
    }
    case 'c': {
      GlWchar c = 0;
      if (length > 0) {
        c = static_cast<GlWchar>(va_arg(*args, int));
      } else {
        const char *s = va_arg(*args, const char *);
        if (s == nullptr || *s == 0) return false;
        if (loc->single_byte) {
          c = static_cast<unsigned char>(*s);
        } else if (_zel_gl_full_mbtowc(loc, &c, s, -1) <= 0) {
          return false;
        }
      }
      return PutCharField(o, c, width, flags);
    }
    case 's': {
      if (length > 0) {
        const GlWchar *ws = va_arg(*args, const GlWchar *);
        if (ws == nullptr) {
          SetError(loc, GL_ENULLARG);
          return false;
        }
        return PutStringField(o, ws, width, precision, flags);
      }
      const char *s = va_arg(*args, const char *);
      if (s == nullptr) {
        SetError(loc, GL_ENULLARG);
        return false;
      }
      GlWchar *ws = _gl_mbstowcs_grow(loc, s);
      if (ws == nullptr) {
        if (*_gl_ext_errno(loc) == 0) SetError(loc, GL_ENOMEM);
        return false;
      }
      bool ok = PutStringField(o, ws, width, precision, flags);
      _gl_free(ws);
      return ok;
    }
    default:
      SetError(loc, GL_EBADCONV);
      return false;
  }
  uint64_t magnitude;
  int32_t negative = 0;
  if (is_signed) {
    SignedArg(args, length, &magnitude, &negative);
  } else {
    magnitude = UnsignedArg(args, length);
  }
  GlWchar *q = o->p;
  if (_gl_put_uint64_field(loc, magnitude, negative, base, &o->count, o->capacity, &q, width,
                           precision, flags) != 0) {
    return false;
  }
  o->p = q;
  return true;
}

}  // namespace

int32_t _gl_wcsprintf_internal(GlLocale *loc, GlWchar *out, int32_t capacity,
                               const GlWchar *format, va_list *args) {
  if (out == nullptr || format == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  if (capacity < 1) {
    SetError(loc, GL_E2BIG);
    return -1;
  }
  Out o = {loc, out, 1, capacity};
  for (const GlWchar *p = format; *p != 0;) {
    if (*p != '%' || p[1] == '%') {
      if (!o.Put(*p)) return -1;
      p += *p == '%' ? 2 : 1;
      continue;
    }
    ++p;
    if (!Convert(&o, &p, args)) return -1;
  }
  *o.p = 0;
  return o.count - 1;
}

int32_t _gl_mbsprintf_internal(GlLocale *loc, char *out, int32_t size, const char *format,
                               va_list *args) {
  return _gl_mbs_front(loc, out, size, format, _gl_wcsprintf_internal, args);
}

#define GL_VARIADIC(call, first)   \
  va_list ap;                      \
  va_start(ap, first);             \
  int32_t r = call;                \
  va_end(ap);                      \
  return r

int32_t gl_wcsprintf(GlLocale *loc, GlWchar *out, int32_t size, const GlWchar *format, ...) {
  *_gl_ext_errno(loc) = 0;
  GL_VARIADIC(_gl_wcsprintf_internal(loc, out, size, format, &ap), format);
}

int32_t gl_wcsfnum(GlLocale *loc, GlWchar *out, int32_t size, const GlWchar *format, ...) {
  *_gl_ext_errno(loc) = 0;
  GL_VARIADIC(_gl_wcsprintf_internal(loc, out, size, format, &ap), format);
}

int32_t gl_mbsprintf(GlLocale *loc, char *out, int32_t size, const char *format, ...) {
  *_gl_ext_errno(loc) = 0;
  GL_VARIADIC(_gl_mbsprintf_internal(loc, out, size, format, &ap), format);
}

int32_t gl_mbsfnum(GlLocale *loc, char *out, int32_t size, const char *format, ...) {
  *_gl_ext_errno(loc) = 0;
  GL_VARIADIC(_gl_mbsprintf_internal(loc, out, size, format, &ap), format);
}
