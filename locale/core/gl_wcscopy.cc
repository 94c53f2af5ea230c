// Copying and appending wide strings. The _zel_gl_ forms take a locale that
// may be NULL (then no error number is stored).
#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbstring.h"

namespace {

int32_t Fail(GlLocale *loc, int32_t e) {
  if (loc != nullptr) glchars::SetError(loc, e);
  return -1;
}

void Copy(GlWchar *dst, const GlWchar *src, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[i] = src[i];
}

// Characters of src before its 0, at most limit (limit < 0: no limit).
int32_t Prefix(const GlWchar *src, int32_t limit) {
  int32_t n = 0;
  while ((limit < 0 || n < limit) && src[n] != 0) ++n;
  return n;
}

// The length rules of the two-string forms: 0, or -1 with 2, 56 or 9.
int32_t Check(GlLocale *loc, const void *dst, int32_t dlen, const void *src, int32_t slen) {
  if (dst == nullptr || src == nullptr) return Fail(loc, GL_ENULLARG);
  if ((dlen == -1) != (slen == -1)) return Fail(loc, GL_EMIXEDLEN);
  if (dlen < -1 || slen < -1) return Fail(loc, GL_EBADARG);
  return 0;
}

}  // namespace

GlWchar *gl_wcscpy(GlWchar *dst, const GlWchar *src) {
  if (dst == nullptr || src == nullptr) return nullptr;
  int32_t n = Prefix(src, -1);
  Copy(dst, src, n + 1);
  return dst;
}

GlWchar *gl_wcscat(GlWchar *dst, const GlWchar *src) {
  if (dst == nullptr || src == nullptr) return nullptr;
  return gl_wcscpy(dst + gl_wcslen(dst), src) != nullptr ? dst : nullptr;
}

GlWchar *gl_wcsncpy(GlWchar *dst, const GlWchar *src, int32_t n) {
  if (dst == nullptr || src == nullptr) return nullptr;
  int32_t k = n > 0 ? Prefix(src, n) : 0;
  Copy(dst, src, k);
  for (int32_t i = k; i < n; ++i) dst[i] = 0;
  return dst;
}

GlWchar *gl_wcsncat(GlWchar *dst, const GlWchar *src, int32_t n) {
  if (dst == nullptr || src == nullptr) return nullptr;
  GlWchar *end = dst + gl_wcslen(dst);
  int32_t k = n > 0 ? Prefix(src, n) : 0;
  Copy(end, src, k);
  end[k] = 0;
  return dst;
}

int32_t _zel_gl_wcscpy(GlLocale *loc, GlWchar *dst, const GlWchar *src, int32_t len) {
  if (dst == nullptr || src == nullptr) return Fail(loc, GL_ENULLARG);
  if (len < -1) return Fail(loc, GL_EBADARG);
  int32_t n = len == -1 ? Prefix(src, -1) : len;
  Copy(dst, src, n);
  if (len == -1) dst[n] = 0;
  return n;
}

int32_t _zel_gl_wcscat(GlLocale *loc, GlWchar *dst, int32_t dlen, const GlWchar *src,
                       int32_t slen) {
  if (Check(loc, dst, dlen, src, slen) != 0) return -1;
  if (dlen == -1) {
    dlen = gl_wcslen(dst);
    slen = Prefix(src, -1);
    Copy(dst + dlen, src, slen + 1);
    return dlen + slen;
  }
  Copy(dst + dlen, src, slen);
  return dlen + slen;
}

int32_t _zel_gl_wcsncpy(GlLocale *loc, GlWchar *dst, const GlWchar *src, int32_t len,
                        int32_t n) {
  if (dst == nullptr || src == nullptr) return Fail(loc, GL_ENULLARG);
  if (len < -1) return Fail(loc, GL_EBADARG);
  if (len == -1) {
    gl_wcsncpy(dst, src, n);
    return n > 0 ? Prefix(src, n) : 0;
  }
  int32_t k = n < len ? n : len;
  if (k < 0) k = 0;
  Copy(dst, src, k);
  return k;
}

int32_t _zel_gl_wcsncat(GlLocale *loc, GlWchar *dst, int32_t dlen, const GlWchar *src,
                        int32_t slen, int32_t n) {
  if (Check(loc, dst, dlen, src, slen) != 0) return -1;
  if (dlen == -1) {
    dlen = gl_wcslen(dst);
    if (n <= 0) return dlen;
    int32_t k = Prefix(src, n);
    if (k == 0) return dlen;
    Copy(dst + dlen, src, k);
    dst[dlen + k] = 0;
    return dlen + k;
  }
  if (slen == 0 || n <= 0) return dlen;
  int32_t k = n < slen ? n : slen;
  Copy(dst + dlen, src, k);
  return dlen + k;
}
