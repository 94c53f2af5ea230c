// The wide-string comparator, which runs the passes of the collation
// tables, and the general multibyte comparator built on it.
#include <string.h>

#include "locale/core/gl_coll_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_glu.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"
#include "locale/core/gl_strcoll.h"
#include "locale/core/gl_thai.h"

using glcoll::WorkBuf;

namespace {

void SetError(GlLocale *loc, int32_t e) { *_gl_ext_errno(loc) = e; }

// Thai: both strings go to multibyte form (4 bytes a character at most)
// and the Thai comparator decides.
int32_t ThaiWide(GlLocale *loc, const GlWchar *s1, int32_t l1, const GlWchar *s2, int32_t l2) {
  WorkBuf<char, 512> b1, b2;
  int32_t m = gl_mb_loc_min(loc);
  size_t need1 = static_cast<size_t>(l1) * 4 + 4, need2 = static_cast<size_t>(l2) * 4 + 4;
  if (!b1.Reserve(need1) || !b2.Reserve(need2)) {
    SetError(loc, GL_ENOMEM);
    return 0;
  }
  auto convert = [&](char *out, const GlWchar *ws, int32_t n, size_t room) {
    int32_t r = loc->single_byte
                    ? _zel_gl_is_wcstombs(loc, out, ws, n, static_cast<int32_t>(room) - m)
                    : _zel_gl_full_wcstombs(loc, out, ws, n, static_cast<int32_t>(room) - m);
    if (r >= 0) gl_mbsterm(loc, out + r);
    return r;
  };
  int32_t n1 = convert(b1.data(), s1, l1, need1);
  if (n1 < 0) return 0;
  int32_t n2 = convert(b2.data(), s2, l2, need2);
  if (n2 < 0) return 0;
  return _zel_gl_thaismoncoll(loc, b1.data(), n1, b2.data(), n2);
}

}  // namespace

int32_t _zel_gl_full_wcscoll(GlLocale *loc, const GlWchar *s1, int32_t l1, const GlWchar *s2,
                             int32_t l2) {
  if (loc == nullptr) return 0;
  if (loc->icu_in_use[GL_COLLATE - 2] == 1) {
    GlGluApi *api = _gl_glu_api();
    if (api == nullptr || api->ucs32coll == nullptr) {
      SetError(loc, GL_ENOFILE);
      return 0;
    }
    GluStatus st = 0;
    int32_t r = api->ucs32coll(loc->icu_locale[GL_COLLATE - 2], s1, l1, s2, l2, &st);
    if (st > 0) SetError(loc, st);
    return r;
  }
  if (s1 == nullptr || s2 == nullptr) {
    SetError(loc, GL_ENULLARG);
    return 0;
  }
  if (!glcoll::LengthsOk(loc, s1, l1, s2, l2)) return 0;
  if (l1 == 0 && l2 == 0) return 0;
  if (l1 == -1) {
    l1 = gl_wcslen(s1);
    l2 = gl_wcslen(s2);
  }
  if (loc->coll_kind == GL_COLL_THAI) return ThaiWide(loc, s1, l1, s2, l2);

  glcoll::Prepared p1, p2;
  if (!p1.Build(loc, s1, l1) || !p2.Build(loc, s2, l2)) return 0;
  for (int32_t pass = 0; pass < loc->coll_npasses; ++pass) {
    int32_t r = glcoll::ComparePass(loc, pass, p1, p2);
    if (r != 0) return r;
  }
  return 0;
}

int32_t gl_full_wcscoll(GlLocale *loc, const GlWchar *s1, const GlWchar *s2) {
  return _zel_gl_full_wcscoll(loc, s1, -1, s2, -1);
}

namespace {

// One string of the general comparator in wide form: its character count
// and bytes, then the conversion. False with the error set.
bool Widen(GlLocale *loc, const char *s, int32_t len, WorkBuf<GlWchar> *buf, int32_t *count) {
  int32_t n;
  if (len == -1) {
    if (loc->single_byte) {
      n = static_cast<int32_t>(strlen(s));
      len = n;
    } else {
      n = _gl_im_mbslen(loc, s);
      len = gl_mbsbytes(loc, s) - gl_mb_loc_min(loc);
    }
  } else {
    n = loc->single_byte ? len : _zel_gl_im_mbfslen(loc, s, len);
  }
  if (n < 0 || len < 0) {
    SetError(loc, GL_EILSEQ);
    return false;
  }
  if (!buf->Reserve(static_cast<size_t>(n) + 1)) {
    SetError(loc, GL_ENOMEM);
    return false;
  }
  int32_t r = loc->mbfstowcfs(loc, buf->data(), s, len, n + 1);
  if (r < 0) {
    SetError(loc, GL_EILSEQ);
    return false;
  }
  *count = r < n ? r : n;
  return true;
}

}  // namespace

int32_t _zel_gl_im_mbfscoll(GlLocale *loc, const char *s1, int32_t l1, const char *s2,
                            int32_t l2) {
  if (!glcoll::LengthsOk(loc, s1, l1, s2, l2)) return 0;
  WorkBuf<GlWchar> w1, w2;
  int32_t n1 = 0, n2 = 0;
  if (!Widen(loc, s1, l1, &w1, &n1) || !Widen(loc, s2, l2, &w2, &n2)) return 0;
  if (loc->code_order) return _zel_gl_wcfscmp(w1.data(), n1, w2.data(), n2);
  return _zel_gl_full_wcscoll(loc, w1.data(), n1, w2.data(), n2);
}

int32_t _gl_im_mbscoll(GlLocale *loc, const char *s1, const char *s2) {
  return _zel_gl_im_mbfscoll(loc, s1, -1, s2, -1);
}
