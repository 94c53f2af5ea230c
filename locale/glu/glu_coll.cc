// Collation of the ICU-wrapper library: comparisons, sort keys (bytes, on
// the wide entry points too) and bounds, with the collator of the locale
// handle (LC_COLLATE's).
//
// ICU has no bound strings, only bounds of sort keys. The wrapper's bound
// strings for a prefix are the prefix itself (lower) and the prefix followed
// by the character of the locale's code set that sorts highest (upper):
// every string that begins with the prefix collates between them, unless
// the prefix's last character forms a contraction or is reordered with what
// follows it (Thai and Lao vowels written first, for one).
#include <string.h>

#include <new>
#include <vector>

#include <unicode/uiter.h>
#include <unicode/utf16.h>

#include "locale/glu/glu_internal.h"

using glu::Locale;
using glu::Raise;

namespace {

Locale *L(void *h) { return static_cast<Locale *>(h); }

// UTF-16 of a multibyte string of the handle's code set (len -1:
// NUL-terminated).
bool ToUtf16(Locale *h, const char *s, int32_t len, std::vector<UChar> *u, int16_t *st) {
  if (s == nullptr) {
    Raise(st, glu::kNullArg);
    return false;
  }
  if (len < 0) len = static_cast<int32_t>(strlen(s));
  u->clear();
  for (int32_t off = 0; off < len;) {
    UChar32 cp;
    int32_t n;
    int16_t r = glu::Decode(h, s + off, len - off, &cp, &n);
    if (r != glu::kOk) {
      Raise(st, r);
      return false;
    }
    if (U_IS_BMP(cp)) {
      u->push_back(static_cast<UChar>(cp));
    } else {
      u->push_back(U16_LEAD(cp));
      u->push_back(U16_TRAIL(cp));
    }
    off += n;
  }
  return true;
}

bool WideToUtf16(const uint32_t *ws, int32_t len, std::vector<UChar> *u, int16_t *st) {
  if (ws == nullptr) {
    Raise(st, glu::kNullArg);
    return false;
  }
  u->clear();
  for (int32_t i = 0; len < 0 ? ws[i] != 0 : i < len; ++i) {
    UChar32 c = static_cast<UChar32>(ws[i]);
    if (c < 0 || c > 0x10FFFF) {
      Raise(st, glu::kInvalid);
      return false;
    }
    if (U_IS_BMP(c)) {
      u->push_back(static_cast<UChar>(c));
    } else {
      u->push_back(U16_LEAD(c));
      u->push_back(U16_TRAIL(c));
    }
  }
  return true;
}

int32_t Compare(Locale *h, const std::vector<UChar> &a, const std::vector<UChar> &b) {
  UCollationResult r = ucol_strcoll(h->coll, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                    static_cast<int32_t>(b.size()));
  return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

// The sort key into out (size bytes): its length without the closing zero
// byte; the whole key is written only when it fits with that byte. The key
// is built in parts, which ICU leaves without primary compression, so that
// the key of a prefix is a prefix of the key of a longer string at the
// primary level and ICU's bounds of it hold.
int32_t Key(Locale *h, const std::vector<UChar> &u, uint8_t *out, int64_t size, int16_t *st) {
  UCharIterator it;
  uiter_setString(&it, u.data(), static_cast<int32_t>(u.size()));
  uint32_t state[2] = {0, 0};
  std::vector<uint8_t> key;
  uint8_t chunk[256];
  for (;;) {
    UErrorCode e = U_ZERO_ERROR;
    int32_t n = ucol_nextSortKeyPart(h->coll, &it, state, chunk, sizeof chunk, &e);
    if (U_FAILURE(e)) {
      Raise(st, glu::FromIcu(e));
      return -1;
    }
    key.insert(key.end(), chunk, chunk + n);
    if (n < static_cast<int32_t>(sizeof chunk)) break;
  }
  if (out != nullptr && static_cast<int64_t>(key.size()) + 1 <= size) {
    memcpy(out, key.data(), key.size());
    out[key.size()] = 0;
  }
  return static_cast<int32_t>(key.size());
}

// The code point of the handle's code set that sorts highest.
UChar32 Highest(Locale *h) {
  if (h->highest >= 0) return h->highest;
  char buf[8];
  int32_t n;
  UChar32 best = -1;
  if (glu::Encode(h, 0xFFFF, buf, &n) == glu::kOk) {
    best = 0xFFFF;  // sorts above every other character
  } else {
    UChar bu[2], cu[2];
    int32_t bl = 0;
    for (UChar32 c = 0x20; c <= 0xFFFD; ++c) {
      // Only a character that reads back as itself.
      UChar32 back;
      int32_t blen;
      if (U_IS_SURROGATE(c) || glu::Encode(h, c, buf, &n) != glu::kOk ||
          glu::Decode(h, buf, n, &back, &blen) != glu::kOk || back != c) {
        continue;
      }
      int32_t cl = 0;
      U16_APPEND_UNSAFE(cu, cl, c);
      if (best < 0 || ucol_strcoll(h->coll, cu, cl, bu, bl) == UCOL_GREATER) {
        best = c;
        memcpy(bu, cu, sizeof cu);
        bl = cl;
      }
    }
  }
  h->highest = best;
  return best;
}

}  // namespace

GLU_API int32_t glu_mbscoll(void *hc, const char *s1, int32_t l1, const char *s2, int32_t l2,
                            int16_t *st) {
  try {
    std::vector<UChar> a, b;
    if (!ToUtf16(L(hc), s1, l1, &a, st) || !ToUtf16(L(hc), s2, l2, &b, st)) return -1;
    return Compare(L(hc), a, b);
  } catch (const std::bad_alloc &) {
    Raise(st, glu::kNoMemory);
    return -1;
  }
}

GLU_API int32_t glu_ucs32coll(void *hc, const uint32_t *s1, int32_t l1, const uint32_t *s2,
                              int32_t l2, int16_t *st) {
  try {
    std::vector<UChar> a, b;
    if (!WideToUtf16(s1, l1, &a, st) || !WideToUtf16(s2, l2, &b, st)) return -1;
    return Compare(L(hc), a, b);
  } catch (const std::bad_alloc &) {
    Raise(st, glu::kNoMemory);
    return -1;
  }
}

GLU_API int32_t glu_mbsxfrm(void *hc, char *out, int64_t size, const char *s, int16_t *st) {
  try {
    std::vector<UChar> u;
    if (!ToUtf16(L(hc), s, -1, &u, st)) return -1;
    return Key(L(hc), u, reinterpret_cast<uint8_t *>(out), out != nullptr ? size : 0, st);
  } catch (const std::bad_alloc &) {
    Raise(st, glu::kNoMemory);
    return -1;
  }
}

// The key is bytes, though the library hands a wide-typed buffer.
GLU_API int32_t glu_ucs32xfrm(void *hc, uint32_t *out, int32_t size, const uint32_t *ws,
                              int16_t *st) {
  try {
    std::vector<UChar> u;
    if (!WideToUtf16(ws, -1, &u, st)) return -1;
    return Key(L(hc), u, reinterpret_cast<uint8_t *>(out), out != nullptr ? size : 0, st);
  } catch (const std::bad_alloc &) {
    Raise(st, glu::kNoMemory);
    return -1;
  }
}

GLU_API int32_t glu_mbsCollBound(void *hc, const char *prefix, int32_t upper, char *out,
                                 int32_t size, int16_t *st) {
  if (prefix == nullptr || out == nullptr) {
    Raise(st, glu::kNullArg);
    return -1;
  }
  std::vector<UChar> check;
  if (!ToUtf16(L(hc), prefix, -1, &check, st)) return -1;
  auto n = static_cast<int32_t>(strlen(prefix));
  char tail[8];
  int32_t tlen = 0;
  if (upper && glu::Encode(L(hc), Highest(L(hc)), tail, &tlen) != glu::kOk) tlen = 0;
  if (n + tlen + 1 > size) {
    Raise(st, glu::kNoRoom);
    return -1;
  }
  memmove(out, prefix, static_cast<size_t>(n));
  memcpy(out + n, tail, static_cast<size_t>(tlen));
  out[n + tlen] = 0;
  return n + tlen;
}

// ICU's primary-level bound of the prefix's sort key: the lower one sorts
// before, the upper one after, every key of a string with the prefix.
GLU_API int32_t glu_mbsSortKeyCollBound(void *hc, const char *prefix, int32_t upper, char *key,
                                        int32_t size, int16_t *st) {
  if (prefix == nullptr || key == nullptr) {
    Raise(st, glu::kNullArg);
    return -1;
  }
  if (prefix[0] == 0) {
    // Every key: from the empty key (that of the empty string) to two
    // bytes above any primary weight.
    int32_t n = upper ? 2 : 0;
    if (size < n + 1) {
      Raise(st, glu::kNoRoom);
      return -1;
    }
    memset(key, 0xff, static_cast<size_t>(n));
    key[n] = 0;
    return n;
  }
  try {
    std::vector<UChar> u;
    if (!ToUtf16(L(hc), prefix, -1, &u, st)) return -1;
    int32_t klen = Key(L(hc), u, nullptr, 0, st) + 1;
    if (klen <= 0) return -1;
    std::vector<uint8_t> k(static_cast<size_t>(klen));
    Key(L(hc), u, k.data(), klen, st);
    UErrorCode e = U_ZERO_ERROR;
    int32_t need = ucol_getBound(k.data(), klen, upper ? UCOL_BOUND_UPPER_LONG : UCOL_BOUND_LOWER,
                                 1, reinterpret_cast<uint8_t *>(key), size, &e);
    if (U_FAILURE(e) || need > size) {
      Raise(st, U_FAILURE(e) && e != U_BUFFER_OVERFLOW_ERROR ? glu::FromIcu(e)
                                                               : int16_t{glu::kNoRoom});
      return -1;
    }
    return need - 1;
  } catch (const std::bad_alloc &) {
    Raise(st, glu::kNoMemory);
    return -1;
  }
}
