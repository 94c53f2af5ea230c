// Stepping through multibyte strings: next and previous character, a
// character by index, replacing one, and the offset within a character.
#include <string.h>

#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"
#include "locale/core/gl_support.h"

using namespace glchars;

namespace {

const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }
char *Mutable(const char *s) { return const_cast<char *>(s); }

char *IcuNext(const GlGluApi *icu, GlLocale *loc, const char *s, int32_t n) {
  GluStatus st = 0;
  char *r = icu->mbsnext(IcuHandle(loc), s, n, &st);
  IcuStatus(loc, st);
  return r;
}

// Character i of s, stopping at the terminator (i beyond the characters:
// error 4, NULL) so that nothing past the string is read.
char *Locate(GlLocale *loc, const char *s, int32_t i) {
  if (i < 0) {
    SetError(loc, GL_ENEGATIVE);
    return nullptr;
  }
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return nullptr;
  }
  const char *p = s;
  for (int32_t k = 0; k < i; ++k) {
    if (gl_ismbsterm(loc, p) != 0) {
      SetError(loc, GL_ENEGATIVE);
      return nullptr;
    }
    p = loc->single_byte ? p + 1 : gl_full_mbsnext(loc, p);
    if (p == nullptr) return nullptr;
  }
  return Mutable(p);
}

}  // namespace

char *gl_full_mbsnext(GlLocale *loc, const char *s) {
  if (const GlGluApi *icu = IcuCtype(loc)) return IcuNext(icu, loc, s, -1);
  int32_t len = 0;
  if (_gl_ct_lookup_mb(loc->class_table, U(s), loc, &len) == nullptr) return nullptr;
  return Mutable(s + len);
}

char *_zel_gl_full_mbsnext(GlLocale *loc, const char *s, int32_t n) {
  if (const GlGluApi *icu = IcuCtype(loc)) return IcuNext(icu, loc, s, n);
  int32_t len = _zel_gl_full_mblen(loc, s, n);
  return len > 0 ? Mutable(s + len) : nullptr;
}

char *gl_full_mbsprev(GlLocale *loc, const char *start, const char *pos) {
  if (start >= pos) {
    SetError(loc, GL_EBEFORESTART);
    return nullptr;
  }
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    char *r = icu->mbsprev(IcuHandle(loc), start, pos, &st);
    IcuStatus(loc, st);
    return r;
  }
  const char *p = start;
  const char *last = start;
  while (p < pos) {
    last = p;
    int32_t len = loc->single_byte ? 1 : _zel_gl_full_mblen(loc, p, static_cast<int32_t>(pos - p));
    if (len <= 0) return nullptr;
    p += len;
  }
  return Mutable(last);
}

char *gl_full_getmbsi(GlLocale *loc, const char *s, int32_t i) {
  if (loc->single_byte && i >= 0 && s != nullptr) return Mutable(s + i);
  return Locate(loc, s, i);
}

char *gl_full_putmbsi(GlLocale *loc, char *s, int32_t i, const char *c) {
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->putmbsi(IcuHandle(loc), s, i, c, &st);
    IcuStatus(loc, st);
    return r < 0 ? nullptr : s + r;
  }
  // The character must lie within the string: the terminator is never
  // replaced and nothing past it is read.
  char *p = Locate(loc, s, i);
  if (p == nullptr) return nullptr;
  if (gl_ismbsterm(loc, p) != 0) {
    SetError(loc, GL_ENEGATIVE);
    return nullptr;
  }
  if (c == nullptr) {
    SetError(loc, GL_ENULLARG);
    return nullptr;
  }
  const char *rest = loc->single_byte ? p + 1 : gl_full_mbsnext(loc, p);
  if (rest == nullptr) return nullptr;
  int32_t a = _gl_ct_mblen(loc->class_table, U(c), loc);
  if (a <= 0) return nullptr;
  int32_t b = gl_mbsbytes(loc, rest);
  if (b <= 0) return nullptr;
  auto *buf = static_cast<char *>(_gl_malloc(static_cast<uint64_t>(a) + b + 4));
  if (buf == nullptr) {
    SetError(loc, GL_ENOMEM);
    return nullptr;
  }
  memcpy(buf, c, static_cast<size_t>(a));
  memcpy(buf + a, rest, static_cast<size_t>(b));
  memcpy(p, buf, static_cast<size_t>(a) + b);
  _gl_free(buf);
  return p;
}

int32_t gl_full_charoffset(GlLocale *loc, const char *start, const char *pos, int32_t *len) {
  if (pos < start) {
    SetError(loc, GL_ESHORT);
    *len = 0;
    return -1;
  }
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->charoffset(IcuHandle(loc), start, pos, len, &st);
    IcuStatus(loc, st);
    return r;
  }
  if (loc->single_byte) {
    *len = 1;
    return 0;
  }
  const char *p = start;
  for (;;) {
    // The terminator counts as the last character; pos beyond it is outside
    // the string.
    if (int32_t m = gl_ismbsterm(loc, p)) {
      if (pos - p >= m) {
        SetError(loc, GL_ESHORT);
        *len = 0;
        return -1;
      }
      *len = m;
      return static_cast<int32_t>(pos - p);
    }
    const char *q = gl_full_mbsnext(loc, p);
    if (q == nullptr) {
      SetError(loc, GL_EILSEQ);
      *len = 0;
      return -1;
    }
    if (q > pos) {
      *len = static_cast<int32_t>(q - p);
      return static_cast<int32_t>(pos - p);
    }
    p = q;
  }
}
