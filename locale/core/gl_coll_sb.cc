// The fast comparators of single-byte locales: one byte is one character,
// its position comes straight from the root of the position table, and no
// string is converted. Which one a locale gets depends on what its
// collation holds (see _gl_set_coll_funcs).
#include <string.h>

#include "locale/core/gl_coll_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_strcoll.h"

using glcoll::ByteSlot;
using glcoll::Low14;

namespace {

// Turns the arguments into byte ranges; false (result 0) on the mixed
// length rule or a bad length.
bool Ranges(GlLocale *loc, const char *s1, int32_t l1, const char *s2, int32_t l2,
            const unsigned char **e1, const unsigned char **e2) {
  if (!glcoll::LengthsOk(loc, s1, l1, s2, l2)) return false;
  if (l1 == -1) {
    l1 = static_cast<int32_t>(strlen(s1));
    l2 = static_cast<int32_t>(strlen(s2));
  }
  *e1 = reinterpret_cast<const unsigned char *>(s1) + l1;
  *e2 = reinterpret_cast<const unsigned char *>(s2) + l2;
  return true;
}

// One side of a forward pass: the bytes left, an expansion being taken,
// and the position taken last.
struct Side {
  const unsigned char *p;
  const unsigned char *end;
  const GlWchar *xp = nullptr;  // the expansion's next character
  const GlWchar *xe = nullptr;
  int32_t last_pos = 0;
};

// The first element (table order) that begins at p and ends before end.
const GlCollElement *ElementAt(const GlLocale *loc, const unsigned char *p,
                               const unsigned char *end) {
  for (int32_t e = 0; e < loc->coll_nelements; ++e) {
    const GlCollElement &el = loc->coll_elements[e];
    if (el.count > static_cast<uint64_t>(end - p)) continue;
    uint64_t k = 0;
    while (k < el.count && el.chars[k] == p[k]) ++k;
    if (k == el.count) return &el;
  }
  return nullptr;
}

// Takes the next weight of a side that is not IGNORE: false at the end.
// *c is the byte that gave it (the first byte of an element).
template <bool kExp, bool kElem>
bool Take(const GlLocale *loc, int32_t pass, Side *s, uint16_t *w, unsigned char *c) {
  const uint16_t *weights = loc->coll_weights[pass];
  for (;;) {
    int32_t pos;
    if (kExp && s->xp != nullptr) {
      if (s->xp == s->xe) {
        s->xp = nullptr;
        continue;
      }
      *c = static_cast<unsigned char>(*s->xp++);
      pos = ByteSlot(loc->coll_positions, *c);
    } else {
      if (s->p == s->end) return false;
      unsigned char b = *s->p;
      if (kExp) {
        if (const GlCollExpansion *x = loc->coll_sbexp[pass][b]) {
          // The expansion is walked in place, however long it is.
          s->xp = x->chars;
          s->xe = x->chars + x->count;
          ++s->p;
          continue;
        }
      }
      const GlCollElement *el = nullptr;
      if (kElem && loc->coll_sbelemstart[b]) el = ElementAt(loc, s->p, s->end);
      *c = b;
      if (el != nullptr) {
        pos = el->position;
        s->p += el->count;
      } else {
        pos = ByteSlot(loc->coll_positions, b);
        ++s->p;
      }
    }
    s->last_pos = pos;
    *w = weights[pos];
    if (*w != GL_COLL_IGNORE) return true;
  }
}

template <bool kExp, bool kElem, bool kEndRule>
int32_t ForwardPasses(GlLocale *loc, const char *a, const unsigned char *ea, const char *b,
                      const unsigned char *eb) {
  for (int32_t pass = 0; pass < loc->coll_npasses; ++pass) {
    Side s1{reinterpret_cast<const unsigned char *>(a), ea};
    Side s2{reinterpret_cast<const unsigned char *>(b), eb};
    const uint16_t *weights = loc->coll_weights[pass];
    for (;;) {
      uint16_t w1 = 0, w2 = 0;
      unsigned char c1 = 0, c2 = 0;
      bool more1 = Take<kExp, kElem>(loc, pass, &s1, &w1, &c1);
      bool more2 = Take<kExp, kElem>(loc, pass, &s2, &w2, &c2);
      if (!more1 || !more2) {
        if (more1) return 1;
        if (more2) return -1;
        if (kEndRule) {
          uint16_t l1 = Low14(weights[s1.last_pos]), l2 = Low14(weights[s2.last_pos]);
          if (l1 != l2) return l1 < l2 ? -1 : 1;
        }
        break;
      }
      uint16_t l1 = Low14(w1), l2 = Low14(w2);
      if (l1 != l2) return l1 < l2 ? -1 : 1;
      if ((w1 & GL_COLL_BYCODE) && c1 != c2) return c1 < c2 ? -1 : 1;
    }
  }
  return 0;
}

// One pass without expansions and elements, in either direction.
int32_t BackPass(const GlLocale *loc, int32_t pass, const unsigned char *a,
                 const unsigned char *ea, const unsigned char *b, const unsigned char *eb) {
  const uint16_t *weights = loc->coll_weights[pass];
  const GlCodeTable *t = loc->coll_positions;
  const bool fwd = loc->coll_direction[pass] == 1;
  // Forward: p runs up to end. Backward: p runs down to the first byte.
  const unsigned char *p1 = fwd ? a : ea, *p2 = fwd ? b : eb;
  for (;;) {
    uint16_t w1 = 0, w2 = 0;
    unsigned char c1 = 0, c2 = 0;
    bool more1 = false, more2 = false;
    while (fwd ? p1 != ea : p1 != a) {
      c1 = fwd ? *p1++ : *--p1;
      w1 = weights[ByteSlot(t, c1)];
      if (w1 != GL_COLL_IGNORE) {
        more1 = true;
        break;
      }
    }
    while (fwd ? p2 != eb : p2 != b) {
      c2 = fwd ? *p2++ : *--p2;
      w2 = weights[ByteSlot(t, c2)];
      if (w2 != GL_COLL_IGNORE) {
        more2 = true;
        break;
      }
    }
    if (!more1 || !more2) return more1 ? 1 : more2 ? -1 : 0;
    uint16_t l1 = Low14(w1), l2 = Low14(w2);
    if (l1 != l2) return l1 < l2 ? -1 : 1;
    if ((w1 & GL_COLL_BYCODE) && c1 != c2) return c1 < c2 ? -1 : 1;
  }
}

}  // namespace

int32_t _zel_gl_is_mbfscoll_back(GlLocale *loc, const char *s1, int32_t l1, const char *s2,
                                 int32_t l2) {
  const unsigned char *e1, *e2;
  if (!Ranges(loc, s1, l1, s2, l2, &e1, &e2)) return 0;
  const auto *a = reinterpret_cast<const unsigned char *>(s1);
  const auto *b = reinterpret_cast<const unsigned char *>(s2);
  for (int32_t pass = 0; pass < loc->coll_npasses; ++pass) {
    if (int32_t r = BackPass(loc, pass, a, e1, b, e2)) return r;
  }
  return 0;
}

int32_t _gl_is_mbscoll_back(GlLocale *loc, const char *s1, const char *s2) {
  return _zel_gl_is_mbfscoll_back(loc, s1, -1, s2, -1);
}

int32_t _zel_gl_is_mbfscoll_exp(GlLocale *loc, const char *s1, int32_t l1, const char *s2,
                                int32_t l2) {
  const unsigned char *e1, *e2;
  if (!Ranges(loc, s1, l1, s2, l2, &e1, &e2)) return 0;
  return ForwardPasses<true, false, false>(loc, s1, e1, s2, e2);
}

int32_t _gl_is_mbscoll_exp(GlLocale *loc, const char *s1, const char *s2) {
  return _zel_gl_is_mbfscoll_exp(loc, s1, -1, s2, -1);
}

int32_t _zel_gl_is_mbfscoll_elem(GlLocale *loc, const char *s1, int32_t l1, const char *s2,
                                 int32_t l2) {
  const unsigned char *e1, *e2;
  if (!Ranges(loc, s1, l1, s2, l2, &e1, &e2)) return 0;
  return ForwardPasses<false, true, false>(loc, s1, e1, s2, e2);
}

int32_t _gl_is_mbscoll_elem(GlLocale *loc, const char *s1, const char *s2) {
  return _zel_gl_is_mbfscoll_elem(loc, s1, -1, s2, -1);
}

int32_t _zel_gl_is_mbfscoll_exp_elem(GlLocale *loc, const char *s1, int32_t l1,
                                     const char *s2, int32_t l2) {
  const unsigned char *e1, *e2;
  if (!Ranges(loc, s1, l1, s2, l2, &e1, &e2)) return 0;
  return ForwardPasses<true, true, true>(loc, s1, e1, s2, e2);
}

int32_t _gl_is_mbscoll_exp_elem(GlLocale *loc, const char *s1, const char *s2) {
  return _zel_gl_is_mbfscoll_exp_elem(loc, s1, -1, s2, -1);
}
