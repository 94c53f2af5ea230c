// Decimals read and written by locale number formats: one floating
// conversion (E, G, e, f, g) goes through a double, one integer conversion
// (X, b, d, i, o, q, u, x) through a 16-bit range whose -32768 is null.
#include <string.h>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "locale/core/gl_ext.h"
#include "locale/format/gl_printf.h"
#include "locale/format/gl_scanf.h"
#include "sqltypes/decimal.h"
#include "sqltypes/decimal_text.h"
#include "sqltypes/moneyfmt.h"

namespace {

enum FormatKind { kUnusable, kFloating, kInteger };

void SetLocaleError(int32_t err) {
  if (GlLocale* loc = rgllocstate()->client) *_gl_ext_errno(loc) = err;
  rsetglerror(err);
}

FormatKind Classify(const char* format) {
  const char* p = format;
  for (; *p != '\0'; p++) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      p++;
      continue;
    }
    break;
  }
  if (*p == '\0') return kUnusable;
  p++;
  while (*p != '\0' && strchr(" #'+-", *p) != nullptr) p++;
  while (*p >= '0' && *p <= '9') p++;
  if (*p == '.') {
    p++;
    while (*p >= '0' && *p <= '9') p++;
  }
  FormatKind kind = kUnusable;
  if (*p != '\0' && strchr("EGefg", *p) != nullptr) kind = kFloating;
  if (*p != '\0' && strchr("Xbdioqux", *p) != nullptr) kind = kInteger;
  if (kind == kUnusable) return kind;
  for (p++; *p != '\0'; p++) {
    if (*p != '%') continue;
    if (p[1] != '%') return kUnusable;
    p++;
  }
  return kind;
}

}  // namespace

TV_EXTERN_C TV_API int zel_gl_convert_number(Decimal* out, const char* text, const char* format) {
  if (rglinit() < 0) return -1;
  if (out == nullptr || text == nullptr) {
    SetLocaleError(2);
    return -1;
  }
  if (format == nullptr) {
    // Any failure of the text, also a locale error number, is a failure.
    if (deccvasc(text, static_cast<int>(strlen(text)), out) == 0) return 0;
    SetLocaleError(9);
    return -1;
  }
  const FormatKind kind = Classify(format);
  if (kind == kUnusable) {
    SetLocaleError(22);
    return -1;
  }
  GlLocale* loc = rgllocstate()->client;
  *_gl_ext_errno(loc) = 0;
  if (kind == kFloating) {
    double d = 0;
    if (gl_mbsscanf(loc, text, format, &d) != 1) return -1;
    if (deccvdbl(d, out) != 0) {
      SetLocaleError(9);
      return -1;
    }
    return 0;
  }
  int v = 0;
  if (gl_mbsscanf(loc, text, format, &v) != 1) return -1;
  if (v == -32768) {
    decsetnull(out);
    return 0;
  }
  if (deccvlong(v, out) != 0) {
    SetLocaleError(9);
    return -1;
  }
  return 0;
}

TV_EXTERN_C TV_API int zel_gl_format_number(char* out, int length, const Decimal* value,
                                            const char* format) {
  if (rglinit() < 0) return -1;
  if (out == nullptr || value == nullptr || length <= 0) {
    SetLocaleError(2);
    return -1;
  }
  if (format == nullptr) {
    const int field = length - 1;
    if (field <= 0 || decfmtfield(value, out, field, -1, ' ', nullptr) != 0) {
      SetLocaleError(9);
      return -1;
    }
    int n = field;
    while (n > 0 && out[n - 1] == ' ') n--;
    out[n] = '\0';
    return 0;
  }
  const FormatKind kind = Classify(format);
  GlLocale* loc = rgllocstate()->client;
  if (kind == kFloating) {
    double d = 0;
    if (dectodbl(value, &d) != 0) {
      SetLocaleError(9);
      return -1;
    }
    return gl_mbsprintf(loc, out, length, format, d) >= 1 ? 0 : -1;
  }
  if (kind == kInteger) {
    int v = -32768;
    if (value->sign != DEC_NULLSIGN) {
      int32_t l = 0;
      if (dectolong(value, &l) != 0 || l < -32767 || l > 32767) {
        SetLocaleError(9);
        return -1;
      }
      v = l;
    }
    return gl_mbsprintf(loc, out, length, format, v) >= 1 ? 0 : -1;
  }
  SetLocaleError(9);
  return -1;
}
