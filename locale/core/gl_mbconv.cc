// Whole strings between the multibyte and the wide form.
#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbchar.h"

using namespace glchars;

namespace {

const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

bool BadLength(GlLocale *loc, int32_t len) {
  if (len >= -1) return false;
  SetError(loc, GL_EBADARG);
  return true;
}

int32_t IcuToWide(const GlGluApi *icu, GlLocale *loc, GlWchar *wcs, const char *mbs, int32_t len,
                  int32_t count) {
  GluStatus st = 0;
  auto r = icu->mbstoucs32(IcuHandle(loc), wcs, count, mbs, len, &st);
  IcuStatus(loc, st);
  return static_cast<int32_t>(r);
}

int32_t IcuToMulti(const GlGluApi *icu, GlLocale *loc, char *mbs, const GlWchar *wcs, int32_t len,
                   int32_t count) {
  GluStatus st = 0;
  auto r = icu->ucs32tombs(IcuHandle(loc), mbs, count, wcs, len, &st);
  IcuStatus(loc, st);
  return static_cast<int32_t>(r);
}

}  // namespace

int32_t _gl_is_mbstowcs(GlLocale *loc, GlWchar *wcs, const char *mbs, int32_t count) {
  return _zel_gl_is_mbfstowcfs(loc, wcs, mbs, -1, count);
}

int32_t _zel_gl_is_mbfstowcfs(GlLocale *loc, GlWchar *wcs, const char *mbs, int32_t len,
                              int32_t count) {
  if (BadLength(loc, len)) return -1;
  if (len == -1) {
    for (int32_t i = 0; i < count; ++i) {
      wcs[i] = U(mbs)[i];
      if (wcs[i] == 0) return i;
    }
    return count < 0 ? 0 : count;
  }
  int32_t n = len < count ? len : count;
  for (int32_t i = 0; i < n; ++i) wcs[i] = U(mbs)[i];
  return n < 0 ? 0 : n;
}

int32_t _gl_im_mbstowcs(GlLocale *loc, GlWchar *wcs, const char *mbs, int32_t count) {
  return _zel_gl_im_mbfstowcfs(loc, wcs, mbs, -1, count);
}

int32_t _zel_gl_im_mbfstowcfs(GlLocale *loc, GlWchar *wcs, const char *mbs, int32_t len,
                              int32_t count) {
  if (const GlGluApi *icu = IcuCtype(loc)) return IcuToWide(icu, loc, wcs, mbs, len, count);
  if (BadLength(loc, len)) return -1;
  const GlCodeTable *t = loc->class_table;
  const unsigned char *p = U(mbs);
  const unsigned char *end = p + (len > 0 ? len : 0);
  int32_t stored = 0;
  if (len == 0) return 0;
  while (stored < count) {
    int32_t n = 0;
    const void *v = len == -1 ? _gl_ct_lookup_mb(t, p, loc, &n)
                              : _gl_ct_lookup_mbn(t, p, static_cast<int32_t>(end - p), &n, loc);
    if (v == nullptr) {
      // A character cut by the end of counted input is invalid here.
      SetError(loc, GL_EILSEQ);
      return -1;
    }
    GlWchar w = BigEndian(p, n);
    wcs[stored] = w;
    p += n;
    if (len == -1 && w == 0) return stored;
    ++stored;
    if (len != -1 && p >= end) break;
  }
  return stored;
}

int32_t _gl_is_wcstombs(GlLocale *loc, char *mbs, const GlWchar *wcs, int32_t count) {
  return _zel_gl_is_wcstombs(loc, mbs, wcs, -1, count);
}

int32_t _zel_gl_is_wcstombs(GlLocale *loc, char *mbs, const GlWchar *wcs, int32_t len,
                            int32_t count) {
  if (const GlGluApi *icu = IcuCtype(loc)) return IcuToMulti(icu, loc, mbs, wcs, len, count);
  if (BadLength(loc, len)) return -1;
  int32_t written = 0;
  for (int32_t i = 0; written < count && (len == -1 || i < len); ++i) {
    GlWchar w = wcs[i];
    if (len == -1 && w == 0) {
      gl_mbsterm(loc, mbs + written);
      break;
    }
    if (w > 0xff) {
      SetError(loc, GL_EILSEQ);
      return -1;
    }
    mbs[written++] = static_cast<char>(w);
  }
  return written;
}

int32_t gl_full_wcstombs(GlLocale *loc, char *mbs, const GlWchar *wcs, int32_t count) {
  return _zel_gl_full_wcstombs(loc, mbs, wcs, -1, count);
}

int32_t _zel_gl_full_wcstombs(GlLocale *loc, char *mbs, const GlWchar *wcs, int32_t len,
                              int32_t count) {
  if (const GlGluApi *icu = IcuCtype(loc)) return IcuToMulti(icu, loc, mbs, wcs, len, count);
  if (BadLength(loc, len)) return -1;
  int32_t m = TermLen(loc);
  int32_t written = 0;
  for (int32_t i = 0; len == -1 || i < len; ++i) {
    GlWchar w = wcs[i];
    int32_t k = WideLength(w, m);
    if (count - written < k) break;  // no room: not an error
    if (len == -1 && w == 0) {
      gl_mbsterm(loc, mbs + written);
      break;
    }
    if (loc->single_byte) {
      // A value above 255 has no form here; writing its low byte would
      // put a different character into the output.
      if (w > 0xff) {
        SetError(loc, GL_EILSEQ);
        return -1;
      }
      mbs[written] = static_cast<char>(w);
    } else if (gl_full_wctomb(loc, mbs + written, w) < 0) {
      return -1;
    }
    written += k;
  }
  return written;
}
