#include "sqltypes/charcollcmp.h"

#include "base/fields.h"

namespace {

bool IsEmpty(const char* s, int32_t len) { return s == nullptr || len <= 0 || s[0] == '\0'; }

// The locale's own counted-string collation: its mbfscoll slot.
int CollateCounted(GlLocale* loc, const char* a, int32_t alen, const char* b, int32_t blen,
                   int32_t* status) {
  *status = 0;
  if (loc->mbfscoll == nullptr) return bycmprpad(a, alen, b, blen);
  return loc->mbfscoll(loc, a, alen, b, blen);
}

bool CodeOrder(const GlLocale* loc) {
  return loc == nullptr || loc->code_order != 0 || loc->coll_kind == GL_COLL_NONE;
}

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace

int32_t rtrimlen(GlLocale* loc, const char* s, int32_t len) {
  (void)loc;  // single-byte and code-order locales: trailing 0x20 bytes
  if (s == nullptr) return 0;
  return bylengnb(s, len);
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
  int r = CollateCounted(loc, a, alen, b, blen, status);
  if (*status != 0) return 0;
  if (r != 0 && (at != alen || bt != blen)) {
    int32_t second = 0;
    int r2 = CollateCounted(loc, a, at, b, bt, &second);
    if (second != 0) {
      *status = second;
    } else if (r2 == 0) {
      r = 0;
    }
  }
  return Sign(r);
}
