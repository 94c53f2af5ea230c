// Copying and appending multibyte strings.
#include <string.h>

#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"

using namespace glchars;

namespace {

const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

// Bytes of s before its terminator, or -1 (error 2 for NULL, 1 invalid).
int32_t BytesBeforeTerminator(GlLocale *loc, const char *s) {
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  if (IcuCtype(loc) != nullptr) return gl_mbsbytes(loc, s) - gl_mb_loc_min(loc);
  const char *p = s;
  while (gl_ismbsterm(loc, p) == 0) {
    int32_t n = _gl_ct_mblen(loc->class_table, U(p), loc);
    if (n <= 0) return -1;
    p += n;
  }
  return static_cast<int32_t>(p - s);
}

// Bytes of the first n characters of s (fewer at its terminator), or -1.
int32_t BytesOfChars(GlLocale *loc, const char *s, int32_t n) {
  if (n < 0) {
    SetError(loc, GL_ENEGATIVE);
    return -1;
  }
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  const char *p = s;
  for (; n > 0 && gl_ismbsterm(loc, p) == 0; --n) {
    p = loc->single_byte ? p + 1 : gl_full_mbsnext(loc, p);
    if (p == nullptr) return -1;
  }
  return static_cast<int32_t>(p - s);
}

// The length of the character at p within left bytes (0 counts as m).
int32_t CountedLength(GlLocale *loc, const char *p, int32_t left) {
  if (loc->single_byte) return 1;
  int32_t n = _zel_gl_full_mblen(loc, p, left);
  return n == 0 ? gl_mb_loc_min(loc) : n;
}

// Walks the first total bytes of s character by character: total, or -1
// when a character is invalid or runs past them.
int32_t CheckWalk(GlLocale *loc, const char *s, int32_t total) {
  int32_t done = 0;
  while (done < total) {
    int32_t n = CountedLength(loc, s + done, total - done);
    if (n < 0) return -1;
    done += n;
  }
  return done;
}

// Bytes of the first n characters within len bytes of s (n < 0: all). The
// length of character n + 1 is still taken, so an invalid byte right after
// the n-th character fails.
int32_t CountedPrefix(GlLocale *loc, const char *s, int32_t len, int32_t n) {
  int32_t done = 0;
  for (int32_t chars = 0; done < len; ++chars) {
    int32_t k = CountedLength(loc, s + done, len - done);
    if (k < 0) return -1;
    if (n >= 0 && chars == n) break;
    done += k;
  }
  return done;
}

// Writes bytes then the terminator at dst.
void PutTerminated(GlLocale *loc, char *dst, const char *src, int32_t bytes) {
  memmove(dst, src, static_cast<size_t>(bytes));
  gl_mbsterm(loc, dst + bytes);
}

// The length rules of the two-string counted forms: 0, or -1 with 56 or 9.
int32_t CheckLengths(GlLocale *loc, int32_t l1, int32_t l2) {
  if ((l1 == -1) != (l2 == -1)) {
    SetError(loc, GL_EMIXEDLEN);
    return -1;
  }
  if (l1 < -1 || l2 < -1) {
    SetError(loc, GL_EBADARG);
    return -1;
  }
  return 0;
}

bool AnyNull(GlLocale *loc, const void *a, const void *b) {
  if (a != nullptr && b != nullptr) return false;
  SetError(loc, GL_ENULLARG);
  return true;
}

}  // namespace

char *gl_full_mbscpy(GlLocale *loc, char *dst, const char *src) {
  if (AnyNull(loc, dst, src)) return nullptr;
  int32_t n = BytesBeforeTerminator(loc, src);
  if (n < 0) return nullptr;
  PutTerminated(loc, dst, src, n);
  return dst;
}

char *gl_full_mbscat(GlLocale *loc, char *dst, const char *src) {
  if (AnyNull(loc, dst, src)) return nullptr;
  int32_t d = BytesBeforeTerminator(loc, dst);
  int32_t n = d < 0 ? -1 : BytesBeforeTerminator(loc, src);
  if (n < 0) return nullptr;
  PutTerminated(loc, dst + d, src, n);
  return dst;
}

char *gl_mbsncpy(GlLocale *loc, char *dst, const char *src, int32_t n) {
  if (AnyNull(loc, dst, src)) return nullptr;
  int32_t bytes = BytesOfChars(loc, src, n);
  if (bytes < 0) return nullptr;
  PutTerminated(loc, dst, src, bytes);
  return dst;
}

char *gl_mbsncat(GlLocale *loc, char *dst, const char *src, int32_t n) {
  if (AnyNull(loc, dst, src)) return nullptr;
  int32_t d = BytesBeforeTerminator(loc, dst);
  int32_t bytes = d < 0 ? -1 : BytesOfChars(loc, src, n);
  if (bytes < 0) return nullptr;
  PutTerminated(loc, dst + d, src, bytes);
  return dst;
}

int32_t _zel_gl_mbscpy(GlLocale *loc, char *dst, const char *src, int32_t len) {
  if (AnyNull(loc, dst, src)) return -1;
  if (len < -1) {
    SetError(loc, GL_EBADARG);
    return -1;
  }
  if (len == -1) {
    int32_t n = BytesBeforeTerminator(loc, src);
    if (n < 0) return -1;
    PutTerminated(loc, dst, src, n);
    return n + gl_mb_loc_min(loc);
  }
  memmove(dst, src, static_cast<size_t>(len));
  return CheckWalk(loc, dst, len);
}

int32_t _zel_gl_mbscat(GlLocale *loc, char *dst, int32_t dlen, const char *src, int32_t slen) {
  if (AnyNull(loc, dst, src) || CheckLengths(loc, dlen, slen) != 0) return -1;
  if (dlen == -1) {
    int32_t d = BytesBeforeTerminator(loc, dst);
    int32_t n = d < 0 ? -1 : BytesBeforeTerminator(loc, src);
    if (n < 0) return -1;
    PutTerminated(loc, dst + d, src, n);
    return d + n + gl_mb_loc_min(loc);
  }
  memmove(dst + dlen, src, static_cast<size_t>(slen));
  return CheckWalk(loc, dst, dlen + slen);
}

int32_t _zel_gl_mbsncpy(GlLocale *loc, char *dst, const char *src, int32_t len, int32_t n) {
  if (AnyNull(loc, dst, src)) return -1;
  if (len < -1) {
    SetError(loc, GL_EBADARG);
    return -1;
  }
  int32_t bytes = len == -1 ? BytesOfChars(loc, src, n) : CountedPrefix(loc, src, len, n);
  if (bytes < 0) return -1;
  if (len == -1) {
    PutTerminated(loc, dst, src, bytes);
  } else {
    memmove(dst, src, static_cast<size_t>(bytes));
  }
  return bytes;
}

int32_t _zel_gl_mbsncat(GlLocale *loc, char *dst, int32_t dlen, const char *src, int32_t slen,
                        int32_t n) {
  if (AnyNull(loc, dst, src) || CheckLengths(loc, dlen, slen) != 0) return -1;
  if (dlen == -1) {
    int32_t d = BytesBeforeTerminator(loc, dst);
    int32_t bytes = d < 0 ? -1 : BytesOfChars(loc, src, n);
    if (bytes < 0) return -1;
    PutTerminated(loc, dst + d, src, bytes);
    return d + bytes;
  }
  int32_t bytes = CountedPrefix(loc, src, slen, n);
  if (bytes < 0) return -1;
  memmove(dst + dlen, src, static_cast<size_t>(bytes));
  return CheckWalk(loc, dst, dlen + bytes);
}
