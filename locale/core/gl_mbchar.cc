// One multibyte character: length, decoding, encoding and the terminator.
#include "locale/core/gl_mbchar.h"

#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbstring.h"

using namespace glchars;

namespace {

const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

bool AllZero(const char *s, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    if (s[i] != 0) return false;
  }
  return true;
}

// The class-table value of the character at s within n bytes (n > 0), with
// its length; NULL with error 1 or 7.
const void *Lookup(GlLocale *loc, const char *s, int32_t n, int32_t *len) {
  return _gl_ct_lookup_mbn(loc->class_table, U(s), n, len, loc);
}

// The table road of _zel_gl_full_mbtowc and _zel_gl_full_mbdescribe: the
// character's value and length and its class-table value.
int32_t Decode(GlLocale *loc, GlWchar *wc, const char *s, int32_t n, const void **value) {
  if (n == -1) {
    int32_t bytes = gl_mbsbytes(loc, s);
    if (bytes <= 0) return -1;
    n = bytes - TermLen(loc);
  }
  if (n <= 0) {
    SetError(loc, GL_ESHORT);
    return -1;
  }
  int32_t len = 0;
  const void *v = Lookup(loc, s, n, &len);
  if (v == nullptr) return -1;
  GlWchar w = BigEndian(U(s), len);
  if (wc != nullptr) *wc = w;
  *value = v;
  return w == 0 ? 0 : len;
}

}  // namespace

int32_t gl_full_mblen(GlLocale *loc, const char *s, int32_t n) {
  if (s == nullptr) return 0;
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->mblen(IcuHandle(loc), s, n, &st);
    IcuStatus(loc, st);
    return r;
  }
  int32_t len = _zel_gl_full_mblen(loc, s, n);
  return (len > 0 && AllZero(s, len)) ? 0 : len;
}

int32_t _zel_gl_full_mblen(GlLocale *loc, const char *s, int32_t n) {
  if (s == nullptr) return 0;
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->mblen(IcuHandle(loc), s, n, &st);
    IcuStatus(loc, st);
    return r;
  }
  if (n <= 0) {
    SetError(loc, GL_ESHORT);
    return -1;
  }
  int32_t len = 0;
  return Lookup(loc, s, n, &len) != nullptr ? len : -1;
}

int32_t _zel_gl_getmbl(GlLocale *loc, GlMblInfo *info) {
  info->locale = loc;
  info->root = &loc->class_table->root;
  info->icu = IcuCtype(loc) != nullptr ? 1 : 0;
  return info->icu;
}

int32_t _zel_gl_fast_mblen(const GlMblInfo *info, const char *s) {
  GlLocale *loc = info->locale;
  if (info->icu) {
    if (const GlGluApi *icu = _gl_glu_api()) {
      GluStatus st = 0;
      int32_t r = icu->mblen(IcuHandle(loc), s, 4, &st);
      IcuStatus(loc, st);
      return r;
    }
  }
  // The fourth byte is checked too, so that no invalid sequence passes as a
  // four-byte character.
  const GlCodeNode *node = info->root;
  bool zero = true;
  for (int32_t i = 0; i < 4 && node != nullptr; ++i) {
    unsigned char b = U(s)[i];
    zero = zero && b == 0;
    int st = NodeState(node, b);
    if (st == GL_CT_END) return zero ? 0 : i + 1;
    if (st != GL_CT_MORE) break;
    node = NodeChild(node, b);
  }
  SetError(loc, GL_EILSEQ);
  return -1;
}

int32_t gl_wclen(GlLocale *loc, GlWchar wc) {
  if (loc->single_byte) return 1;
  char scratch[4];
  return gl_full_wctomb(loc, scratch, wc);
}

int32_t gl_mb_loc_max(GlLocale *loc) {
  if (const GlGluApi *icu = IcuCtype(loc)) return icu->mb_loc_max(IcuHandle(loc));
  return _gl_ct_max_key_len(loc->class_table);
}

int32_t gl_mb_loc_min(GlLocale *loc) {
  if (const GlGluApi *icu = IcuCtype(loc)) return icu->mb_loc_min(IcuHandle(loc));
  return _gl_ct_min_key_len(loc->class_table);
}

int32_t gl_mbsterm(GlLocale *loc, char *p) {
  int32_t m = gl_mb_loc_min(loc);
  for (int32_t i = 0; i < m; ++i) p[i] = 0;
  return m;
}

int32_t gl_ismbsterm(GlLocale *loc, const char *p) {
  if (p[0] != 0) return 0;
  int32_t m = gl_mb_loc_min(loc);
  return AllZero(p, m) ? m : 0;
}

int32_t gl_full_mbtowc(GlLocale *loc, GlWchar *wc, const char *s, int32_t n) {
  if (s == nullptr) return 0;
  if (n <= 0) {
    SetError(loc, GL_ESHORT);
    return -1;
  }
  return _zel_gl_full_mbtowc(loc, wc, s, n);
}

int32_t _zel_gl_full_mbtowc(GlLocale *loc, GlWchar *wc, const char *s, int32_t n) {
  if (s == nullptr) return 0;
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->mbtouc32(IcuHandle(loc), wc, s, n, &st);
    IcuStatus(loc, st);
    return r;
  }
  const void *value = nullptr;
  return Decode(loc, wc, s, n, &value);
}

int32_t _zel_gl_full_mbdescribe(GlLocale *loc, GlWchar *wc, const char *s, uint32_t *class_out,
                                uint32_t mask, int32_t n) {
  *class_out = 0;
  if (s == nullptr) return 0;
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t bits = icu->ismctype(IcuHandle(loc), s, 4, mask, &st);
    if (st > 0) {
      SetError(loc, st);
    } else {
      *class_out = static_cast<uint32_t>(bits);
    }
    st = 0;
    int32_t r = icu->mbtouc32(IcuHandle(loc), wc, s, n, &st);
    IcuStatus(loc, st);
    return r;
  }
  const void *value = nullptr;
  int32_t len = Decode(loc, wc, s, n, &value);
  if (len > 0) *class_out = Value16(value) & mask;
  return len;
}

int32_t gl_full_wctomb(GlLocale *loc, char *out, GlWchar wc) {
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->uc32tomb(IcuHandle(loc), out, wc, &st);
    IcuStatus(loc, st);
    return r;
  }
  return EncodeByTable(loc, loc->class_table, out, wc);
}

int32_t glchars::EncodeByTable(GlLocale *loc, const GlCodeTable *t, char *out, uint32_t wc) {
  int32_t k = WideLength(wc, _gl_ct_min_key_len(t));
  if (k < 1 || k > 4) {
    SetError(loc, GL_EILSEQ);
    return -1;
  }
  const GlCodeNode *node = &t->root;
  for (int32_t i = 0; i < k; ++i) {
    auto b = static_cast<unsigned char>(wc >> (8 * (k - 1 - i)));
    int st = NodeState(node, b);
    bool last = i == k - 1;
    if (last ? st != GL_CT_END : (st != GL_CT_MORE || NodeChild(node, b) == nullptr)) {
      SetError(loc, GL_EILSEQ);
      return -1;
    }
    out[i] = static_cast<char>(b);
    if (!last) node = NodeChild(node, b);
  }
  return k;
}
