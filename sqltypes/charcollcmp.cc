#include "sqltypes/charcollcmp.h"

#include "base/fields.h"
#include "locale/core/gl_ctype.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_mbchar.h"

namespace {

bool IsEmpty(const char* s, int32_t len) { return s == nullptr || len <= 0 || s[0] == '\0'; }

bool CodeOrder(const GlLocale* loc) {
  return loc == nullptr || loc->code_order != 0 || loc->coll_kind == GL_COLL_NONE;
}

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace

int32_t rtrimlen(GlLocale* loc, const char* s, int32_t len) {
  if (s == nullptr || len <= 0) return 0;
  if (loc == nullptr || loc->single_byte) return bylengnb(s, len);
  // Multibyte: trailing characters of the blank class that are not control
  // characters; an invalid character ends the scan.
  int32_t pos = 0, end = 0;
  while (pos < len) {
    const int32_t n = _zel_gl_full_mblen(loc, s + pos, len - pos);
    if (n <= 0) return len;
    const uint32_t cls = _zel_gl_im_ismctype(loc, s + pos, n, GL_CLASS_BLANK | GL_CLASS_CNTRL);
    pos += n;
    if (cls != GL_CLASS_BLANK) end = pos;
  }
  return end;
}

int rcollcmpn(GlLocale* loc, const char* a, int32_t alen, const char* b, int32_t blen,
              int32_t* status) {
  *status = 0;
  if (loc->mbfscoll == nullptr) return bycmprpad(a, alen, b, blen);
  int32_t* err = _gl_ext_errno(loc);
  *err = 0;
  const int r = loc->mbfscoll(loc, a, alen, b, blen);
  if (*err != 0) {
    *status = *err == 3 ? RCOLL_ENOMEM : RCOLL_EBADCHAR;
    return 0;
  }
  return r;
}

int rcollinrange(GlLocale* loc, uint32_t c, uint32_t low, uint32_t high) {
  if (CodeOrder(loc)) return low <= c && c <= high;
  // The characters' multibyte forms, ordered by the locale's own
  // counted-string collation.
  char cb[8], lb[8], hb[8];
  int32_t cn, ln, hn;
  if (loc->single_byte) {
    cb[0] = static_cast<char>(c), lb[0] = static_cast<char>(low), hb[0] = static_cast<char>(high);
    cn = ln = hn = 1;
  } else {
    cn = gl_full_wctomb(loc, cb, c);
    ln = gl_full_wctomb(loc, lb, low);
    hn = gl_full_wctomb(loc, hb, high);
    if (cn <= 0 || ln <= 0 || hn <= 0) return 0;
  }
  int32_t status = 0;
  if (rcollcmpn(loc, lb, ln, cb, cn, &status) > 0 || status != 0) return 0;
  return rcollcmpn(loc, cb, cn, hb, hn, &status) <= 0 && status == 0;
}

int rcharcollcmp(GlLocale* loc, const char* a, int32_t alen, const char* b, int32_t blen,
                 int32_t* status) {
  int32_t ignored = 0;
  if (status == nullptr) status = &ignored;
  *status = 0;
  int32_t at = IsEmpty(a, alen) ? 0 : rtrimlen(loc, a, alen);
  int32_t bt = IsEmpty(b, blen) ? 0 : rtrimlen(loc, b, blen);
  if (at == 0 || bt == 0) return at == bt ? 0 : at == 0 ? -1 : 1;
  if (CodeOrder(loc)) return Sign(bycmprpad(a, alen, b, blen));
  int r = rcollcmpn(loc, a, alen, b, blen, status);
  if (*status != 0) return 0;
  // Trailing blanks can carry collation weight: when a side had them, the
  // comparison without them decides, so that the order is the order of the
  // trimmed texts (an index ordered by it stays consistent).
  if (at != alen || bt != blen) {
    int32_t second = 0;
    const int r2 = rcollcmpn(loc, a, at, b, bt, &second);
    if (second != 0) {
      *status = second;
    } else {
      r = r2;
    }
  }
  return Sign(r);
}
