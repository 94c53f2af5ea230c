// Sort keys. A table collation's key is, pass by pass, every weight the
// pass's cursor yields, each written as a number:
//
//   pass 1 weights | 0x01 | pass 2 weights | 0x01 | ... | 0x00 (when room)
//   weight         digits of (weight - 2), width from coll_maxweight
//   ordered by code: digits of (weight - 2), then digits of (code - 2),
//                  width from the longest character (1 byte: 255 ...)
//
// A number of width m has 1 digit below 254, 2 from 254, 3 from 254^2, 4
// from 254^3, 5 from 254^4; base-254 digits are written most significant
// first, each plus 2, as the low 8 bits. Every digit counts toward the
// length even when the output is full.
#include <string.h>

#include "locale/core/gl_coll_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_glu.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"
#include "locale/core/gl_sortkey.h"
#include "locale/core/gl_thai.h"

using glcoll::WorkBuf;

namespace {

int32_t DigitCount(uint64_t m) {
  if (m >= 4162314256ULL) return 5;
  if (m >= 16387064ULL) return 4;
  if (m >= 64516ULL) return 3;
  if (m >= 254ULL) return 2;
  return 1;
}

// The key being written: bytes past size are counted, not stored.
struct KeyWriter {
  char *out;
  int32_t size;
  int32_t len = 0;

  void Byte(unsigned v) {
    if (len < size) out[len] = static_cast<char>(v & 0xFF);
    ++len;
  }
  void Number(uint32_t v, int32_t digits) {
    uint32_t a = v - 2;  // wraps below 2, as the stored form has it
    switch (digits) {  // the common widths with constant divisors
      case 1:
        Byte(a + 2);
        return;
      case 2:
        Byte(a / 254 + 2);
        Byte(a % 254 + 2);
        return;
      default:
        break;
    }
    static const uint64_t kPow[] = {1ULL, 254ULL, 64516ULL, 16387064ULL, 4162314256ULL};
    uint64_t rest = a;
    for (int32_t k = digits - 1; k >= 1; --k) {
      Byte(static_cast<unsigned>(rest / kPow[k] + 2));
      rest %= kPow[k];
    }
    Byte(static_cast<unsigned>(rest + 2));
  }
};

uint64_t CodeWidth(GlLocale *loc) {
  switch (gl_mb_loc_max(loc)) {
    case 1: return 255ULL;
    case 2: return 65535ULL;
    case 3: return 16777215ULL;
    case 4: return 4294967295ULL;
    default: return 0;
  }
}

// The key of a single-byte string built from its bytes: no wide copy, no
// allocation, the positions and element marks on the stack. Gives exactly
// the key of the general builder; strings it does not take (longer than
// its buffers, or holding a byte without a one-byte position) return
// kNotTaken and go the general way, which also reports their errors.
constexpr int32_t kNotTaken = -2;
constexpr int32_t kByteKeyMax = 256;

// The position of an expansion's character; false ends the pass.
inline bool ExpPosition(GlLocale *loc, uint32_t c, int32_t *pos) {
  const GlCodeTable *t = loc->coll_positions;
  if (c <= 0xFF && t->root.states[c] == GL_CT_END) {
    *pos = glcoll::ByteSlot(t, static_cast<unsigned char>(c));
    return *pos <= loc->coll_maxpos;
  }
  const void *slot = _gl_ct_lookup_wc(t, c, loc);
  if (slot == nullptr) return false;
  uint16_t p;
  memcpy(&p, slot, 2);
  *pos = p;
  return p <= loc->coll_maxpos;
}

int32_t ByteKey(GlLocale *loc, char *out, const unsigned char *s, int32_t n, int32_t size,
                int32_t wdigits, int32_t cdigits) {
  if (n > kByteKeyMax || loc->coll_nelements > INT16_MAX ||
      (loc->coll_nelements > 0 && loc->coll_sbelemstart == nullptr)) {
    return kNotTaken;
  }
  const GlCodeTable *t = loc->coll_positions;
  const int32_t maxpos = loc->coll_maxpos;
  uint16_t pos[kByteKeyMax];
  for (int32_t i = 0; i < n; ++i) {
    unsigned char b = s[i];
    if (t->root.states[b] != GL_CT_END) return kNotTaken;
    uint16_t p = glcoll::ByteSlot(t, b);
    if (p > maxpos) return kNotTaken;
    pos[i] = p;
  }
  // Elements, marked once for all passes as the general builder marks
  // them: the first element in table order that follows at a byte. A
  // unit is a byte or a whole element; elem[u] is its element or -1.
  int16_t elem[kByteKeyMax];
  uint16_t ustart[kByteKeyMax];
  int32_t nunits = 0;
  const int32_t *starts = loc->coll_sbelemstart;
  for (int32_t i = 0; i < n;) {
    int32_t found = -1;
    if (starts != nullptr && starts[s[i]] != 0) {
      for (int32_t e = 0; e < loc->coll_nelements && found < 0; ++e) {
        const GlCollElement &el = loc->coll_elements[e];
        if (el.count == 0 || el.count > static_cast<uint64_t>(n - i)) continue;
        uint64_t k = 0;
        while (k < el.count && el.chars[k] == s[i + k]) ++k;
        if (k == el.count) found = e;
      }
    }
    ustart[nunits] = static_cast<uint16_t>(i);
    if (found >= 0) {
      elem[nunits++] = static_cast<int16_t>(found);
      i += static_cast<int32_t>(loc->coll_elements[found].count);
    } else {
      elem[nunits++] = -1;
      ++i;
    }
  }
  KeyWriter key{out, size};
  for (int32_t pass = 0; pass < loc->coll_npasses; ++pass) {
    if (pass > 0) key.Byte(0x01);
    const uint16_t *weights = loc->coll_weights[pass];
    const bool fwd = loc->coll_direction[pass] == 1;
    const int32_t step = fwd ? 1 : -1;
    for (int32_t u = fwd ? 0 : nunits - 1; u >= 0 && u < nunits; u += step) {
      int32_t p;
      uint32_t code;
      if (elem[u] >= 0) {
        p = loc->coll_elements[elem[u]].position;
        code = 1;
      } else {
        code = s[ustart[u]];
        p = pos[ustart[u]];
      }
      uint16_t w = weights[p];
      if ((w & GL_COLL_EXPANSION) && !(w & GL_COLL_BYCODE)) {
        // Unfolded in the pass's direction; taken whole, however long.
        const GlCollExpansion &x = loc->coll_expansions[w & glcoll::kWeightBits];
        const int32_t count = static_cast<int32_t>(x.count);
        bool dead = false;
        for (int32_t k = fwd ? 0 : count - 1; k >= 0 && k < count; k += step) {
          uint32_t c = x.chars[k];
          int32_t xp;
          if (!ExpPosition(loc, c, &xp)) {
            dead = true;
            break;
          }
          uint16_t xw = weights[xp];
          if (xw == GL_COLL_IGNORE) continue;
          key.Number(glcoll::Low14(xw), wdigits);
          if (xw & GL_COLL_BYCODE) key.Number(c, cdigits);
        }
        if (dead) break;
        continue;
      }
      if (w == GL_COLL_IGNORE) continue;
      key.Number(glcoll::Low14(w), wdigits);
      if (w & GL_COLL_BYCODE) key.Number(code, cdigits);
    }
  }
  if (key.len < size) out[key.len] = '\0';
  return key.len;
}

}  // namespace

namespace glcoll {

int32_t TableKey(GlLocale *loc, char *out, const GlWchar *ws, int32_t n, int32_t size) {
  Prepared str;
  if (!str.Build(loc, ws, n)) return -1;
  KeyWriter key{out, size};
  const int32_t wdigits = DigitCount(static_cast<uint64_t>(loc->coll_maxweight < 0 ? 0 : loc->coll_maxweight));
  const int32_t cdigits = DigitCount(CodeWidth(loc));
  for (int32_t pass = 0; pass < loc->coll_npasses; ++pass) {
    if (pass > 0) key.Byte(0x01);
    WeightCursor cur(loc, pass, ws, n, str.marks.get(), str.positions.get());
    uint32_t code = 0;
    while (uint16_t w = cur.Next(&code)) {
      key.Number(Low14(w), wdigits);
      if (w & GL_COLL_BYCODE) key.Number(code, cdigits);
    }
  }
  if (key.len < size) out[key.len] = '\0';
  return key.len;
}

}  // namespace glcoll

int32_t gl_wcsxfrm(GlLocale *loc, char *out, const GlWchar *ws, int32_t size) {
  if (loc == nullptr) return -1;
  if (ws == nullptr || (out == nullptr && size > 0)) {
    *_gl_ext_errno(loc) = GL_ENULLARG;
    return -1;
  }
  if (size < 0) size = 0;
  if (loc->icu_in_use[GL_COLLATE - 2] == 1) {
    GlGluApi *api = _gl_glu_api();
    if (api == nullptr || api->ucs32xfrm == nullptr) {
      *_gl_ext_errno(loc) = GL_ENOFILE;
      return -1;
    }
    GluStatus st = 0;
    int32_t r = api->ucs32xfrm(loc->icu_locale[GL_COLLATE - 2], reinterpret_cast<uint32_t *>(out),
                               size, ws, &st);
    if (st > 0) *_gl_ext_errno(loc) = st;
    return r;
  }
  if (loc->code_order) {
    // The key is the string's multibyte form.
    int32_t total = 0;
    for (const GlWchar *p = ws; *p != 0; ++p) total += gl_wclen(loc, *p);
    if (size > 0) {
      int32_t r = loc->single_byte ? _gl_is_wcstombs(loc, out, ws, size)
                                   : gl_full_wcstombs(loc, out, ws, size);
      if (r < 0) return -1;
    }
    return total;
  }
  if (loc->coll_kind == GL_COLL_THAI) {
    WorkBuf<char, 512> mb;
    int32_t need = gl_wcsbytes(ws);
    if (need < 1) need = 1;
    if (!mb.Reserve(static_cast<size_t>(need) + 4)) {
      *_gl_ext_errno(loc) = GL_ENOMEM;
      return -1;
    }
    int32_t r = loc->single_byte ? _gl_is_wcstombs(loc, mb.data(), ws, need + 4)
                                 : gl_full_wcstombs(loc, mb.data(), ws, need + 4);
    if (r < 0) return -1;
    mb.data()[r] = '\0';
    return _gl_thaismoxfrm(loc, out, mb.data(), size);
  }
  int32_t n = gl_wcslen(ws);
  if (n == 0) {
    // The empty string has the empty key, whatever the number of passes.
    if (size > 0) out[0] = '\0';
    return 0;
  }
  return glcoll::TableKey(loc, out, ws, n, size);
}

int32_t gl_full_mbsxfrm(GlLocale *loc, char *out, const char *s, int32_t size) {
  if (loc == nullptr) return -1;
  if (s == nullptr || (out == nullptr && size > 0)) {
    *_gl_ext_errno(loc) = GL_ENULLARG;
    return -1;
  }
  int32_t n = loc->single_byte ? static_cast<int32_t>(strlen(s)) : _gl_im_mbslen(loc, s);
  if (n < 0) return -1;
  if (n == 0) {
    if (size > 0) out[0] = '\0';
    return 0;
  }
  if (loc->single_byte && loc->icu_in_use[GL_COLLATE - 2] != 1 && !loc->code_order &&
      loc->coll_kind != GL_COLL_THAI && loc->coll_positions != nullptr &&
      loc->coll_positions->root.states != nullptr) {
    if (size < 0) size = 0;
    const int32_t wdigits =
        DigitCount(static_cast<uint64_t>(loc->coll_maxweight < 0 ? 0 : loc->coll_maxweight));
    int32_t r = ByteKey(loc, out, reinterpret_cast<const unsigned char *>(s), n, size, wdigits,
                        DigitCount(CodeWidth(loc)));
    if (r != kNotTaken) return r;
  }
  WorkBuf<GlWchar> wide;
  if (!wide.Reserve(static_cast<size_t>(n) + 1)) {
    *_gl_ext_errno(loc) = GL_ENOMEM;
    return -1;
  }
  int32_t r = loc->mbstowcs(loc, wide.data(), s, n + 1);
  if (r < 0) return -1;
  wide.data()[r < n ? r : n] = 0;
  return gl_wcsxfrm(loc, out, wide.data(), size);
}
