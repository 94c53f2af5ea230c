// Character, set and substring searches over multibyte and wide strings.
#include "locale/core/gl_mbsearch.h"

#include <string.h>

#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"
#include "locale/core/gl_support.h"

using namespace glchars;

namespace {

const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }
char *Mutable(const char *p) { return const_cast<char *>(p); }
GlWchar *Mutable(const GlWchar *p) { return const_cast<GlWchar *>(p); }

// Stores e unless the locale is NULL (the wide forms allow that).
void Store(GlLocale *loc, int32_t e) {
  if (loc != nullptr) SetError(loc, e);
}

// The checks shared by the functions that take two lengths: 0 when both are
// -1 or both explicit, else the error number (56 mixed, 9 below -1).
int32_t LengthPairError(int32_t a, int32_t b) {
  if ((a == -1) != (b == -1)) return GL_EMIXEDLEN;
  if (a < -1 || b < -1) return GL_EBADARG;
  return 0;
}

// The wide characters of a span set, freed on every return.
class WideSet {
 public:
  WideSet() = default;
  WideSet(const WideSet &) = delete;
  WideSet &operator=(const WideSet &) = delete;
  ~WideSet() { _gl_free(items_); }

  // A NUL-terminated set: the array starts with one entry and doubles.
  bool BuildTerminated(GlLocale *loc, const char *set) {
    int32_t cap = 1;
    items_ = static_cast<GlWchar *>(_gl_malloc(sizeof(GlWchar)));
    if (items_ == nullptr) return NoMemory(loc);
    for (const char *p = set; gl_ismbsterm(loc, p) == 0;) {
      GlWchar wc = 0;
      int32_t len = 1;
      if (loc->single_byte) {
        wc = U(p)[0];
      } else {
        len = gl_full_mbtowc(loc, &wc, p, 4);
        if (len <= 0) return false;
      }
      // One slot stays free for the closing 0 entry.
      if (count_ + 1 >= cap) {
        auto *grown = static_cast<GlWchar *>(_gl_malloc(sizeof(GlWchar) * 2u * cap));
        if (grown == nullptr) return NoMemory(loc);
        memcpy(grown, items_, sizeof(GlWchar) * count_);
        _gl_free(items_);
        items_ = grown;
        cap *= 2;
      }
      items_[count_++] = wc;
      p += len;
    }
    items_[count_] = 0;
    return true;
  }

  // A counted set of setlen bytes; an empty or invalid set fails without an
  // error number of its own.
  bool BuildCounted(GlLocale *loc, const char *set, int32_t setlen) {
    if (setlen <= 0) return false;
    items_ = static_cast<GlWchar *>(_gl_malloc(sizeof(GlWchar) * static_cast<uint64_t>(setlen)));
    if (items_ == nullptr) return NoMemory(loc);
    count_ = loc->mbfstowcfs(loc, items_, set, setlen, setlen);
    return count_ > 0;
  }

  bool Contains(GlWchar wc) const {
    for (int32_t i = 0; i < count_; ++i) {
      if (items_[i] == wc) return true;
    }
    return false;
  }

 private:
  bool NoMemory(GlLocale *loc) {
    SetError(loc, GL_ENOMEM);
    return false;
  }
  GlWchar *items_ = nullptr;
  int32_t count_ = 0;
};

enum class Span { kIn, kNotIn, kBreak };

// Walks s while its characters are in (kIn) or not in (kNotIn, kBreak) the
// set. Returns the number of characters passed, or -1; *stop is where the
// walk stopped (NULL at the end of s).
int32_t WalkTerminated(GlLocale *loc, const char *s, const WideSet &set, Span kind,
                       const char **stop) {
  int32_t count = 0;
  for (const char *p = s; gl_ismbsterm(loc, p) == 0; ++count) {
    GlWchar wc = 0;
    int32_t len = 1;
    if (loc->single_byte) {
      wc = U(p)[0];
    } else {
      len = gl_full_mbtowc(loc, &wc, p, 4);
      if (len <= 0) return -1;
    }
    if (set.Contains(wc) != (kind == Span::kIn)) {
      *stop = p;
      return count;
    }
    p += len;
  }
  *stop = nullptr;
  return count;
}

int32_t WalkCounted(GlLocale *loc, const char *s, int32_t slen, const WideSet &set, Span kind,
                    const char **stop) {
  const int32_t m = gl_mb_loc_min(loc);
  int32_t count = 0;
  for (int32_t off = 0; off < slen; ++count) {
    GlWchar wc = 0;
    int32_t len = _zel_gl_full_mbtowc(loc, &wc, s + off, slen - off);
    if (len < 0) return -1;
    if (len == 0) len = m;  // the NUL character
    if (set.Contains(wc) != (kind == Span::kIn)) {
      *stop = s + off;
      return count;
    }
    off += len;
  }
  *stop = nullptr;
  return count;
}

// The three set searches over a multibyte string, NUL-terminated or counted.
// Returns the count (spn, cspn) or sets *found (pbrk); -1 on failure.
int32_t SetSearch(GlLocale *loc, const char *s, int32_t slen, const char *set, int32_t setlen,
                  Span kind, const char **found) {
  *found = nullptr;
  if (s == nullptr || set == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  if (int32_t e = LengthPairError(slen, setlen)) {
    SetError(loc, e);
    return -1;
  }
  WideSet wide;
  const bool counted = slen != -1;
  if (counted ? !wide.BuildCounted(loc, set, setlen) : !wide.BuildTerminated(loc, set)) {
    return -1;
  }
  if (kind != Span::kNotIn) SetError(loc, GL_ENOERROR);
  const char *stop = nullptr;
  int32_t n = counted ? WalkCounted(loc, s, slen, wide, kind, &stop)
                      : WalkTerminated(loc, s, wide, kind, &stop);
  if (n < 0) return -1;
  if (kind == Span::kBreak) {
    *found = stop;
    if (stop == nullptr) SetError(loc, GL_ENOERROR);
  }
  return n;
}

// Compares n bytes of sub with the string at p, stopping at the first
// difference, so that a NUL-terminated p is never read past its end.
bool SameBytes(const char *p, const char *sub, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    if (p[i] != sub[i]) return false;
  }
  return true;
}

// The substring search over a NUL-terminated s.
char *FindTerminated(GlLocale *loc, const char *s, const char *sub, int32_t n) {
  SetError(loc, GL_ENOERROR);
  for (const char *p = s; gl_ismbsterm(loc, p) == 0;) {
    if (SameBytes(p, sub, n)) return Mutable(p);
    p = loc->single_byte ? p + 1 : gl_full_mbsnext(loc, p);
    if (p == nullptr) return nullptr;
  }
  SetError(loc, GL_ENOERROR);
  return nullptr;
}

// Byte length of a NUL-terminated sub without its terminator, or -1.
int32_t SubBytes(GlLocale *loc, const char *sub) {
  if (sub == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  int32_t bytes = gl_mbsbytes(loc, sub);
  if (bytes <= 0) {
    SetError(loc, GL_EILSEQ);
    return -1;
  }
  return bytes - gl_mb_loc_min(loc);
}

// The counted character search; last 1 keeps the latest match.
char *CountedChr(GlLocale *loc, const char *s, int32_t slen, const char *c, int32_t clen,
                 bool last) {
  if (c == nullptr) {
    SetError(loc, GL_ENULLARG);
    return nullptr;
  }
  if (clen < 1) {
    SetError(loc, GL_ESHORT);
    return nullptr;
  }
  int32_t cl = loc->single_byte ? 1 : _zel_gl_full_mblen(loc, c, clen);
  if (cl <= 0) return nullptr;
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return nullptr;
  }
  if (slen < -1) {
    SetError(loc, GL_EBADARG);
    return nullptr;
  }
  const char *match = nullptr;
  for (int32_t off = 0; slen == -1 ? s[off] != 0 : off < slen;) {
    int32_t len = loc->single_byte ? 1 : _zel_gl_full_mblen(loc, s + off, slen == -1 ? 4 : slen - off);
    if (len <= 0) return nullptr;
    if (len == cl && memcmp(s + off, c, static_cast<size_t>(cl)) == 0) {
      match = s + off;
      if (!last) return Mutable(match);
    }
    off += len;
  }
  if (match == nullptr) SetError(loc, GL_ENOERROR);
  return Mutable(match);
}

// The wide set searches; len and setlen -1 mean NUL-terminated.
int32_t WideSetSearch(GlLocale *loc, const GlWchar *ws, int32_t len, const GlWchar *set,
                      int32_t setlen, Span kind, const GlWchar **found) {
  *found = nullptr;
  if (ws == nullptr || set == nullptr) {
    Store(loc, GL_ENULLARG);
    return -1;
  }
  if (int32_t e = LengthPairError(len, setlen)) {
    Store(loc, e);
    return -1;
  }
  int32_t count = 0;
  for (; len == -1 ? ws[count] != 0 : count < len; ++count) {
    bool in = false;
    for (int32_t j = 0; setlen == -1 ? set[j] != 0 : j < setlen; ++j) {
      if (set[j] == ws[count]) {
        in = true;
        break;
      }
    }
    if (in != (kind == Span::kIn)) {
      *found = ws + count;
      return count;
    }
  }
  if (kind == Span::kBreak) Store(loc, GL_ENOERROR);
  return count;
}

GlWchar *WideChr(GlLocale *loc, const GlWchar *ws, int32_t len, GlWchar wc, bool last) {
  if (ws == nullptr) {
    Store(loc, GL_ENULLARG);
    return nullptr;
  }
  if (len < -1) {
    Store(loc, GL_EBADARG);
    return nullptr;
  }
  const GlWchar *match = nullptr;
  int32_t i = 0;
  for (; len == -1 ? ws[i] != 0 : i < len; ++i) {
    if (ws[i] == wc) {
      match = ws + i;
      if (!last) return Mutable(match);
    }
  }
  if (match != nullptr) return Mutable(match);
  Store(loc, GL_ENOERROR);
  return len == -1 && wc == 0 ? Mutable(ws + i) : nullptr;
}

}  // namespace

char *gl_full_mbschr(GlLocale *loc, const char *s, const char *c) {
  if (s == nullptr || c == nullptr) {
    SetError(loc, GL_ENULLARG);
    return nullptr;
  }
  if (const GlGluApi *icu = IcuCtype(loc)) {
    // Chosen by LC_CTYPE, served by the LC_COLLATE handle; a locale whose
    // LC_COLLATE ICU does not serve has none, and LC_CTYPE's serves.
    void *hc = loc->icu_locale[GL_COLLATE - 2];
    GluStatus st = 0;
    char *r = icu->mbschr(hc != nullptr ? hc : IcuHandle(loc), s, -1, c, 4, &st);
    if (st > 0) {
      SetError(loc, st);
    } else if (r == nullptr) {
      SetError(loc, GL_ENOERROR);
    }
    return r;
  }
  int32_t cl = _gl_ct_mblen(loc->class_table, U(c), loc);
  if (cl <= 0) return nullptr;
  for (const char *p = s; gl_ismbsterm(loc, p) == 0;) {
    int32_t len = _gl_ct_mblen(loc->class_table, U(p), loc);
    if (len <= 0) return nullptr;
    if (len == cl && memcmp(p, c, static_cast<size_t>(cl)) == 0) return Mutable(p);
    p += len;
  }
  SetError(loc, GL_ENOERROR);
  return nullptr;
}

char *gl_full_mbsrchr(GlLocale *loc, const char *s, const char *c) {
  if (s == nullptr || c == nullptr) {
    SetError(loc, GL_ENULLARG);
    return nullptr;
  }
  SetError(loc, GL_ENOERROR);
  const char *last = nullptr;
  if (loc->single_byte) {
    // strchr would find the terminator itself.
    if (c[0] == 0) return nullptr;
    for (const char *p = strchr(s, c[0]); p != nullptr; p = strchr(p + 1, c[0])) last = p;
    return Mutable(last);
  }
  for (const char *p = gl_full_mbschr(loc, s, c); p != nullptr;
       p = gl_full_mbschr(loc, p, c)) {
    last = p;
    p = gl_full_mbsnext(loc, p);
    if (p == nullptr) return nullptr;
  }
  return *_gl_ext_errno(loc) != 0 ? nullptr : Mutable(last);
}

char *_zel_gl_mbschr(GlLocale *loc, const char *s, int32_t slen, const char *c, int32_t clen) {
  return CountedChr(loc, s, slen, c, clen, false);
}

char *_zel_gl_mbsrchr(GlLocale *loc, const char *s, int32_t slen, const char *c, int32_t clen) {
  return CountedChr(loc, s, slen, c, clen, true);
}

int32_t gl_full_mbsspn(GlLocale *loc, const char *s, const char *set) {
  const char *found;
  return SetSearch(loc, s, -1, set, -1, Span::kIn, &found);
}

int32_t gl_full_mbscspn(GlLocale *loc, const char *s, const char *set) {
  const char *found;
  return SetSearch(loc, s, -1, set, -1, Span::kNotIn, &found);
}

char *gl_full_mbspbrk(GlLocale *loc, const char *s, const char *set) {
  const char *found;
  SetSearch(loc, s, -1, set, -1, Span::kBreak, &found);
  return Mutable(found);
}

int32_t _zel_gl_mbsspn(GlLocale *loc, const char *s, int32_t slen, const char *set,
                       int32_t setlen) {
  const char *found;
  return SetSearch(loc, s, slen, set, setlen, Span::kIn, &found);
}

int32_t _zel_gl_mbscspn(GlLocale *loc, const char *s, int32_t slen, const char *set,
                        int32_t setlen) {
  const char *found;
  return SetSearch(loc, s, slen, set, setlen, Span::kNotIn, &found);
}

char *_zel_gl_mbspbrk(GlLocale *loc, const char *s, int32_t slen, const char *set,
                      int32_t setlen) {
  const char *found;
  SetSearch(loc, s, slen, set, setlen, Span::kBreak, &found);
  return Mutable(found);
}

char *gl_full_mbsmbs(GlLocale *loc, const char *s, const char *sub) {
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return nullptr;
  }
  int32_t n = SubBytes(loc, sub);
  return n < 0 ? nullptr : FindTerminated(loc, s, sub, n);
}

char *_zel_gl_mbsmbs(GlLocale *loc, const char *s, int32_t slen, const char *sub,
                     int32_t sublen) {
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return nullptr;
  }
  if (int32_t e = LengthPairError(slen, sublen)) {
    SetError(loc, e);
    return nullptr;
  }
  if (slen == -1) return gl_full_mbsmbs(loc, s, sub);
  if (sub == nullptr) {
    SetError(loc, GL_ENULLARG);
    return nullptr;
  }
  const int32_t m = gl_mb_loc_min(loc);
  // sub must divide into whole characters within its sublen bytes.
  for (int32_t off = 0; off < sublen;) {
    int32_t len = _zel_gl_full_mblen(loc, sub + off, sublen - off);
    if (len < 0) return nullptr;
    off += len == 0 ? m : len;
  }
  SetError(loc, GL_ENOERROR);
  for (int32_t off = 0; off < slen;) {
    // A tail shorter than sub cannot hold it, and is never read past.
    if (slen - off >= sublen && memcmp(s + off, sub, static_cast<size_t>(sublen)) == 0) {
      return Mutable(s + off);
    }
    int32_t len = _zel_gl_full_mblen(loc, s + off, slen - off);
    if (len < 0) return nullptr;
    off += len == 0 ? m : len;
  }
  SetError(loc, GL_ENOERROR);
  return nullptr;
}

GlWchar *gl_wcschr(GlLocale *loc, const GlWchar *ws, GlWchar wc) {
  return WideChr(loc, ws, -1, wc, false);
}
GlWchar *gl_wcsrchr(GlLocale *loc, const GlWchar *ws, GlWchar wc) {
  return WideChr(loc, ws, -1, wc, true);
}
GlWchar *_zel_gl_wcschr(GlLocale *loc, const GlWchar *ws, int32_t len, GlWchar wc) {
  return WideChr(loc, ws, len, wc, false);
}
GlWchar *_zel_gl_wcsrchr(GlLocale *loc, const GlWchar *ws, int32_t len, GlWchar wc) {
  return WideChr(loc, ws, len, wc, true);
}

int32_t gl_wcsspn(GlLocale *loc, const GlWchar *ws, const GlWchar *set) {
  return _zel_gl_wcsspn(loc, ws, -1, set, -1);
}
int32_t gl_wcscspn(GlLocale *loc, const GlWchar *ws, const GlWchar *set) {
  return _zel_gl_wcscspn(loc, ws, -1, set, -1);
}
int32_t _zel_gl_wcsspn(GlLocale *loc, const GlWchar *ws, int32_t len, const GlWchar *set,
                       int32_t setlen) {
  const GlWchar *found;
  return WideSetSearch(loc, ws, len, set, setlen, Span::kIn, &found);
}
int32_t _zel_gl_wcscspn(GlLocale *loc, const GlWchar *ws, int32_t len, const GlWchar *set,
                        int32_t setlen) {
  const GlWchar *found;
  return WideSetSearch(loc, ws, len, set, setlen, Span::kNotIn, &found);
}
GlWchar *gl_wcspbrk(GlLocale *loc, const GlWchar *ws, const GlWchar *set) {
  return _zel_gl_wcspbrk(loc, ws, -1, set, -1);
}
GlWchar *_zel_gl_wcspbrk(GlLocale *loc, const GlWchar *ws, int32_t len, const GlWchar *set,
                         int32_t setlen) {
  const GlWchar *found;
  WideSetSearch(loc, ws, len, set, setlen, Span::kBreak, &found);
  return Mutable(found);
}

GlWchar *gl_wcswcs(GlLocale *loc, const GlWchar *ws, const GlWchar *sub) {
  return _zel_gl_wcswcs(loc, ws, -1, sub, -1);
}

GlWchar *_zel_gl_wcswcs(GlLocale *loc, const GlWchar *ws, int32_t len, const GlWchar *sub,
                        int32_t sublen) {
  if (ws == nullptr || sub == nullptr) {
    Store(loc, GL_ENULLARG);
    return nullptr;
  }
  if (int32_t e = LengthPairError(len, sublen)) {
    Store(loc, e);
    return nullptr;
  }
  int32_t n = sublen == -1 ? gl_wcslen(sub) : sublen;
  if (n == 0) return Mutable(ws);
  for (int32_t i = 0; len == -1 ? ws[i] != 0 : i < len; ++i) {
    // A counted tail shorter than sub cannot hold it, and is never read past.
    if (len != -1 && len - i < n) break;
    if (gl_wcsncmp(ws + i, sub, n) == 0) return Mutable(ws + i);
  }
  Store(loc, GL_ENOERROR);
  return nullptr;
}
