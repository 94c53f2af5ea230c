// The Thai collation over the single-byte Thai code set:
//
//   consonant      0xA1-0xCE   a unit by itself
//   leading vowel  0xE0-0xE4   written before its consonant, sorted after it
//   tone mark      0xE7-0xEC   decides only between otherwise equal strings
//                  (0xE7-0xEE in keys, written there as 0x8E-0x95)
//
// Key layout: the primary part (each leading vowel moved after the byte
// that follows it), then one (position, tone) byte pair per tone mark, the
// position counting the primary bytes placed before it, from 1.
#include <string.h>

#include "locale/core/gl_coll_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_thai.h"

namespace {

using uc = unsigned char;

constexpr int32_t kKeyMax = 256;

bool IsConsonant(uc b) { return b >= 0xA1 && b <= 0xCE; }
bool IsLeadingVowel(uc b) { return b >= 0xE0 && b <= 0xE4; }
bool IsTone(uc b) { return b >= 0xE7 && b <= 0xEC; }
bool IsKeyTone(uc b) { return b >= 0xE7 && b <= 0xEE; }

void SetError(GlLocale *loc, int32_t e) {
  if (loc != nullptr) *_gl_ext_errno(loc) = e;
}

// A byte range that also ends at a NUL.
struct Range {
  const uc *p;
  const uc *end;
  bool Ended() const { return p >= end || *p == 0; }
  // Skips leading vowels and tone marks; true when a byte is left.
  bool SkipVowelsAndTones() {
    while (!Ended() && (IsLeadingVowel(*p) || IsTone(*p))) ++p;
    return !Ended();
  }
  bool AnyNonBlank() const {
    for (const uc *q = p; q < end && *q != 0; ++q) {
      if (*q != ' ') return true;
    }
    return false;
  }
};

int32_t Compare(Range a, Range b) {
  int32_t tone = 0;
  for (;;) {
    while (!a.Ended() && !b.Ended() && *a.p == *b.p) {
      ++a.p;
      ++b.p;
    }
    const bool end1 = a.Ended(), end2 = b.Ended();
    if (end1 && end2) return tone;
    if (!end1 && !end2 && IsTone(*a.p) && IsTone(*b.p)) {
      if (tone == 0) tone = *a.p - *b.p;
      ++a.p;
      ++b.p;
      continue;
    }
    if (!end1 && IsTone(*a.p)) {
      if (tone == 0) tone = 1;
      ++a.p;
      continue;
    }
    if (!end2 && IsTone(*b.p)) {
      if (tone == 0) tone = -1;
      ++b.p;
      continue;
    }
    if (end1) return b.AnyNonBlank() ? -1 : tone;
    if (end2) return a.AnyNonBlank() ? 1 : tone;

    const uc c1 = *a.p, c2 = *b.p;
    const bool v1 = IsLeadingVowel(c1), v2 = IsLeadingVowel(c2);
    if (!v1 && !v2) return c1 - c2;
    if (v1 && v2) {
      int32_t d = c1 - c2;
      bool left1 = a.SkipVowelsAndTones(), left2 = b.SkipVowelsAndTones();
      if (!left1 && !left2) return d;
      if (left1 && left2) return *a.p == *b.p ? d : *a.p - *b.p;
      return left1 ? 1 : -1;
    }
    if (v1) {
      if (!a.SkipVowelsAndTones()) return -1;
      return *a.p == c2 ? 1 : *a.p - c2;
    }
    if (!b.SkipVowelsAndTones()) return 1;
    return *b.p == c1 ? -1 : c1 - *b.p;
  }
}

Range MakeRange(const char *s, int32_t len) {
  const uc *p = reinterpret_cast<const uc *>(s);
  return Range{p, len == -1 ? p + strlen(s) : p + len};
}

}  // namespace

int32_t _zel_gl_thaismoncoll(GlLocale *loc, const char *s1, int32_t l1, const char *s2,
                             int32_t l2) {
  if (!glcoll::LengthsOk(loc, s1, l1, s2, l2)) return 0;
  return Compare(MakeRange(s1, l1), MakeRange(s2, l2));
}

int32_t _gl_thaismocoll(GlLocale *loc, const char *s1, const char *s2) {
  return _zel_gl_thaismoncoll(loc, s1, -1, s2, -1);
}

int32_t _gl_thaismoxfrm(GlLocale *loc, char *out, const char *s, int32_t size) {
  if (s == nullptr || (out == nullptr && size > 0)) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  uc prim[kKeyMax], tones[kKeyMax];
  int32_t np = 0, nt = 0;
  int32_t counter = 1;
  int32_t pending = -1;
  // A key longer than 255 bytes cannot carry its one-byte positions.
  auto put = [](uc *a, int32_t *n, uc b) {
    if (*n >= kKeyMax - 1) return false;
    a[(*n)++] = b;
    return true;
  };
  bool fits = true;
  for (const uc *p = reinterpret_cast<const uc *>(s); *p != 0 && fits; ++p) {
    const uc b = *p;
    if (IsLeadingVowel(b)) {
      if (pending >= 0) {
        fits = put(prim, &np, b) && put(prim, &np, static_cast<uc>(pending));
        pending = -1;
        counter += 2;
      } else {
        pending = b;
        counter += 1;
      }
    } else if (IsKeyTone(b)) {
      fits = put(tones, &nt, static_cast<uc>(counter)) &&
             put(tones, &nt, static_cast<uc>(0x8E + (b - 0xE7)));
    } else {
      fits = put(prim, &np, b);
      if (fits && pending >= 0) fits = put(prim, &np, static_cast<uc>(pending));
      pending = -1;
      counter += 1;
    }
  }
  if (fits && pending >= 0) fits = put(prim, &np, static_cast<uc>(pending));
  if (!fits || np + nt > kKeyMax - 1) {
    SetError(loc, GL_ESHORT);
    return -1;
  }
  int32_t len = np + nt;
  if (size > 0) {
    int32_t room = size < kKeyMax ? size : kKeyMax;
    for (int32_t i = 0; i < room; ++i) {
      out[i] = static_cast<char>(i < np ? prim[i] : i < len ? tones[i - np] : 0);
    }
  }
  return len;
}

int32_t zel_gl_complen_thai(GlLocale *, const char *s) {
  const uc *p = reinterpret_cast<const uc *>(s);
  if (IsConsonant(p[0])) return 1;
  if (p[0] == 0 || p[1] == 0) return 0;
  if (IsConsonant(p[1])) return 2;  // a leading vowel or other byte before it
  return 0;
}

int32_t gl_iscompchar_thai(GlLocale *, const char *s) {
  const uc *p = reinterpret_cast<const uc *>(s);
  size_t n = strlen(s);
  if (n == 0) return 1;
  if (n == 1) {
    if (IsConsonant(p[0])) return 2;
    if (IsLeadingVowel(p[0]) || IsTone(p[0])) return 3;
    return 1;
  }
  const uc c0 = p[n - 2], c1 = p[n - 1];
  if (IsLeadingVowel(c1) || IsTone(c1)) return 3;
  if (IsConsonant(c1)) return 2;  // with or without a leading vowel before it
  (void)c0;
  return 1;
}

int32_t _gl_thai_neighbour(GlLocale *loc, const char *unit, int32_t complete, char *out,
                           int32_t upper) {
  if (unit == nullptr || out == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  int32_t status = gl_iscompchar_thai(loc, unit);
  if ((complete == 1) == (status == 3)) {
    SetError(loc, GL_EBADARG);
    return -1;
  }
  char work[64];
  size_t n = strnlen(unit, sizeof work - 1);
  memcpy(work, unit, n);
  work[n] = '\0';
  for (;;) {
    // The bytes before the last two stay; the tail is replaced.
    size_t keep = n > 2 ? n - 2 : 0;
    const uc *t = reinterpret_cast<const uc *>(work) + keep;
    size_t tn = n - keep;
    uc rep[3];
    size_t rn = 0;
    status = gl_iscompchar_thai(loc, work);
    if (status == 1) {
      uc b = t[tn - 1];
      if (tn == 2) rep[rn++] = t[0];
      if (upper) {
        rep[rn++] = b == 0x7F ? 0xA1 : b == 0xDA ? 0xDF : b == 0xDF ? 0xE5 : b == 0xE6 ? 0xED
                  : b == 0xFB ? 0xFB : static_cast<uc>(b + 1);
      } else if (b == 0xCF) {
        rep[rn++] = 0xE4;
        rep[rn++] = 0xCE;
      } else {
        rep[rn++] = b == 0xDF ? 0xDA : b == 0xE5 ? 0xDF : b == 0xED ? 0xE6 : b == 0 ? 0
                  : static_cast<uc>(b - 1);
      }
    } else if (status == 2 && tn == 1) {
      uc c0 = t[0];
      if (upper) {
        rep[rn++] = 0xE0;
        rep[rn++] = c0;
      } else if (c0 == 0xA1) {
        rep[rn++] = 0x7F;
      } else {
        rep[rn++] = 0xE4;
        rep[rn++] = static_cast<uc>(c0 - 1);
      }
    } else if (status == 2 && !IsLeadingVowel(t[0])) {
      uc c0 = t[0], c1 = t[1];
      rep[rn++] = c0;
      if (upper) {
        rep[rn++] = 0xE0;
        rep[rn++] = c1;
      } else if (c1 == 0xA1) {
        rep[rn++] = 0x7F;
      } else {
        rep[rn++] = 0xE4;
        rep[rn++] = static_cast<uc>(c1 - 1);
      }
    } else if (status == 2) {
      uc c0 = t[0], c1 = t[1];
      if (upper) {
        if (c0 == 0xE4) {
          rep[rn++] = static_cast<uc>(c1 + 1);
        } else {
          rep[rn++] = static_cast<uc>(c0 + 1);
          rep[rn++] = c1;
        }
      } else if (c0 == 0xE0) {
        rep[rn++] = c1;
      } else {
        rep[rn++] = static_cast<uc>(c0 - 1);
        rep[rn++] = c1;
      }
    } else if (tn == 1) {
      if (upper) rep[rn++] = 0xFB;
    } else if (IsLeadingVowel(t[1])) {
      rep[rn++] = t[0];
      if (upper) rep[rn++] = 0xFB;
    } else {
      // A tone mark ends the unit: it is dropped and the rule applied
      // again to what is left.
      work[n - 1] = '\0';
      --n;
      if (n == 0) {
        out[0] = '\0';
        return 0;
      }
      continue;
    }
    memcpy(out, work, keep);
    memcpy(out + keep, rep, rn);
    out[keep + rn] = '\0';
    return keep + rn == 0 ? 0 : 1;
  }
}
