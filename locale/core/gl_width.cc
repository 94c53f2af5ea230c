// Display widths of characters and strings.
#include "locale/core/gl_width.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstream.h"
#include "locale/core/gl_mbstring.h"

using namespace glchars;

namespace {

const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

uint32_t FullWidthHandle(GlLocale *loc) { return gl_ctype(loc, "full_width"); }

// Columns of a printable character on the table road.
int32_t Columns(uint32_t class_bits_fw) { return class_bits_fw != 0 ? 2 : 1; }

// Sum of the widths of wide characters [ws, stop) or up to the 0; at most
// limit characters when limit >= 0.
int32_t SumWide(GlLocale *loc, const GlWchar *ws, const GlWchar *stop, int32_t limit) {
  uint32_t fw = FullWidthHandle(loc);
  int32_t sum = 0;
  for (int32_t i = 0; (limit < 0 || i < limit) && (stop == nullptr || ws + i < stop) && ws[i] != 0;
       ++i) {
    if (_gl_wc_class(loc, ws[i], GL_CLASS_PRINT) == 0) {
      SetError(loc, GL_ESHORT);
      return -1;
    }
    sum += fw != 0 ? Columns(_gl_wc_class(loc, ws[i], fw)) : 1;
  }
  return sum;
}

// The same over a multibyte string. keep_class_error: a non-printable
// character keeps an error number the class test stored (gl_mbspwidth).
int32_t SumMulti(GlLocale *loc, const char *s, const char *stop, int32_t limit,
                 bool keep_class_error) {
  uint32_t fw = FullWidthHandle(loc);
  int32_t sum = 0;
  const char *p = s;
  for (int32_t i = 0; (limit < 0 || i < limit) && (stop == nullptr || p < stop); ++i) {
    if (gl_ismbsterm(loc, p) != 0) break;
    if (keep_class_error) SetError(loc, GL_ENOERROR);
    if (_gl_mb_class(loc, p, GL_CLASS_PRINT) == 0) {
      if (!keep_class_error || *_gl_ext_errno(loc) == 0) SetError(loc, GL_ESHORT);
      return -1;
    }
    sum += fw != 0 ? Columns(_gl_mb_class(loc, p, fw)) : 1;
    const char *next = loc->single_byte ? p + 1 : gl_full_mbsnext(loc, p);
    if (next == nullptr) {
      SetError(loc, GL_EILSEQ);
      return -1;
    }
    p = next;
  }
  return sum;
}

// The argument tests of the counted string forms: a NULL string is error
// 2, a negative count error 4.
bool BadCount(GlLocale *loc, const void *s, int32_t n) {
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return true;
  }
  if (n < 0) {
    SetError(loc, GL_ENEGATIVE);
    return true;
  }
  return false;
}

// The same for the forms with an end position: error 2, or 5 for an end
// below the start.
bool BadEnd(GlLocale *loc, const void *s, const void *end) {
  if (s == nullptr || end == nullptr) {
    SetError(loc, GL_ENULLARG);
    return true;
  }
  if (static_cast<const char *>(end) < static_cast<const char *>(s)) {
    SetError(loc, GL_EBEFORESTART);
    return true;
  }
  return false;
}

int32_t CharLength(GlLocale *loc, const char *s) {
  if (loc->single_byte) return s[0] != 0 ? 1 : 0;
  return gl_full_mblen(loc, s, 4);
}

}  // namespace

uint32_t _gl_wc_class(GlLocale *loc, GlWchar wc, uint32_t handle) {
  if (loc->class_map != nullptr) {
    if (wc > 0xff) {
      SetError(loc, GL_EILSEQ);
      return 0;
    }
    return loc->class_map[wc] & handle;
  }
  return _gl_im_iswctype(loc, wc, handle);
}

uint32_t _gl_mb_class(GlLocale *loc, const char *s, uint32_t handle) {
  if (loc->class_map != nullptr) return loc->class_map[U(s)[0]] & handle;
  return _gl_im_ismctype(loc, s, handle);
}

int32_t gl_wcwidth(GlLocale *loc, GlWchar wc) {
  if (wc == 0) return 0;
  if (_gl_wc_class(loc, wc, GL_CLASS_PRINT) == 0) {
    SetError(loc, GL_ESHORT);
    return -1;
  }
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->uc32width(wc, &st);
    IcuStatus(loc, st);
    return r;
  }
  uint32_t fw = FullWidthHandle(loc);
  return fw != 0 ? Columns(_gl_wc_class(loc, wc, fw)) : 1;
}

int32_t gl_mbwidth(GlLocale *loc, const char *s) {
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  if (gl_ismbsterm(loc, s) != 0) return 0;
  if (_gl_mb_class(loc, s, GL_CLASS_PRINT) != 0) {
    if (const GlGluApi *icu = IcuCtype(loc)) {
      GluStatus st = 0;
      int32_t r = icu->mbwidth(IcuHandle(loc), s, &st);
      IcuStatus(loc, st);
      return r;
    }
    uint32_t fw = FullWidthHandle(loc);
    return fw != 0 ? Columns(_gl_mb_class(loc, s, fw)) : 1;
  }
  // A one-byte control character takes one column where it is shown alone.
  if (CharLength(loc, s) == 1) return 1;
  if (loc->icu_in_use[GL_CTYPE - 2] == 1 && _gl_ext_getenv("ZEL_PUA_DISPLAY_MAPPING") != nullptr) {
    int32_t w = gl_mbwidth_PUA(loc, s);
    if (w > 0) return w;
  }
  SetError(loc, GL_ESHORT);
  return -1;
}

int32_t gl_wcswidth(GlLocale *loc, const GlWchar *ws, int32_t n) {
  if (BadCount(loc, ws, n)) return -1;
  if (n == 0) return 0;
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->ucs32width(ws, n, &st);
    IcuStatus(loc, st);
    return r;
  }
  return SumWide(loc, ws, nullptr, n);
}

int32_t gl_mbswidth(GlLocale *loc, const char *s, int32_t n) {
  if (BadCount(loc, s, n)) return -1;
  if (n == 0) return 0;
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->mbswidth(IcuHandle(loc), s, n, &st);
    IcuStatus(loc, st);
    return r;
  }
  return SumMulti(loc, s, nullptr, n, false);
}

int32_t gl_wcspwidth(GlLocale *loc, const GlWchar *ws, const GlWchar *end) {
  if (BadEnd(loc, ws, end)) return -1;
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->ucs32pwidth(ws, end, &st);
    IcuStatus(loc, st);
    return r;
  }
  return SumWide(loc, ws, end, -1);
}

int32_t gl_mbspwidth(GlLocale *loc, const char *s, const char *end) {
  if (BadEnd(loc, s, end)) return -1;
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->mbspwidth(IcuHandle(loc), s, end, &st);
    IcuStatus(loc, st);
    return r;
  }
  return SumMulti(loc, s, end, -1, true);
}

// The width map {TARVELONDIR}/lxr/etc/pua.map, read as text of the locale's
// code set on every call. Printable characters anywhere are passed over; an
// entry is a non-printable character, any characters of class space, and
// one digit, the width. A listed character followed by anything else (or by
// the end of the file) is 1 column wide; an unlisted one gives -1.
int32_t gl_mbwidth_PUA(GlLocale *loc, const char *s) {
  static constexpr char kMap[] = "pua.map";
  const char *dir = _gl_ext_getenv("TARVELONDIR");
  if (dir == nullptr) return -1;
  size_t size = strlen(dir) + 3 + strlen(kMap) + 12;
  auto *path = static_cast<char *>(_gl_ext_malloc(size));
  if (path == nullptr) return -1;
  snprintf(path, size, "%s%slxr%setc%s%s", dir, "/", "/", "/", kMap);
  FILE *f = fopen(path, "re");
  if (f == nullptr) {
    _gl_ext_free(path);
    return -1;
  }
  int32_t result = -1;
  const int32_t want = CharLength(loc, s);
  if (want > 0) {
    // The character read and a terminator, for the class tests and the
    // decimal conversion of a digit.
    char c[8] = {};
    int32_t len;
    while ((len = gl_full_fgetmb(loc, c, f)) > 0) {
      memset(c + len, 0, sizeof c - static_cast<size_t>(len));
      if (_gl_mb_class(loc, c, GL_CLASS_PRINT) != 0) continue;
      if (CharLength(loc, c) != want || memcmp(c, s, static_cast<size_t>(want)) != 0) continue;
      result = 1;
      for (;;) {
        len = gl_full_fgetmb(loc, c, f);
        if (len <= 0) break;
        memset(c + len, 0, sizeof c - static_cast<size_t>(len));
        if (c[0] == 0 || _gl_mb_class(loc, c, GL_CLASS_SPACE) == 0) {
          if (_gl_mb_class(loc, c, GL_CLASS_DIGIT) != 0) result = atoi(c);
          break;
        }
      }
      break;
    }
  }
  fclose(f);
  _gl_ext_free(path);
  return result;
}
