// Characters, strings, classes, case and widths of the ICU-wrapper library.
// Wide characters are code points; multibyte characters are those of the
// locale handle's converter. Each entry point returns what the locale
// library's operation of the same name returns.
#include <string.h>

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include "locale/glu/glu_internal.h"

using glu::Locale;
using glu::Raise;

namespace glu {

int16_t Decode(Locale *h, const char *s, int32_t n, UChar32 *cp, int32_t *len) {
  if (n == -1) n = h->max_len;
  if (n <= 0) return kShort;
  if (s[0] == 0 || (h->ascii && static_cast<unsigned char>(s[0]) < 0x80)) {
    *cp = static_cast<unsigned char>(s[0]);
    *len = 1;
    return kOk;
  }
  // A NUL byte is where a NUL-terminated string ends: it is given to the
  // converter (so that a character cut by it is invalid) and nothing after
  // it is read.
  size_t avail = strnlen(s, static_cast<size_t>(n));
  if (avail < static_cast<size_t>(n)) ++avail;
  ucnv_reset(h->cnv);
  const char *p = s;
  UErrorCode e = U_ZERO_ERROR;
  UChar32 c = ucnv_getNextUChar(h->cnv, &p, s + avail, &e);
  if (U_FAILURE(e)) return e == U_TRUNCATED_CHAR_FOUND || e == U_INDEX_OUTOFBOUNDS_ERROR ? kShort : kInvalid;
  *cp = c;
  *len = static_cast<int32_t>(p - s);
  return kOk;
}

int16_t Encode(Locale *h, UChar32 cp, char *out, int32_t *len) {
  if (cp == 0 || (h->ascii && cp > 0 && cp < 0x80)) {
    out[0] = static_cast<char>(cp);
    *len = 1;
    return kOk;
  }
  if (cp < 0 || cp > 0x10FFFF || U_IS_SURROGATE(cp)) return kInvalid;
  UChar u[2];
  int32_t ulen = 0;
  U16_APPEND_UNSAFE(u, ulen, cp);
  ucnv_reset(h->cnv);
  UErrorCode e = U_ZERO_ERROR;
  char buf[16];
  int32_t n = ucnv_fromUChars(h->cnv, buf, sizeof buf, u, ulen, &e);
  if (U_FAILURE(e) || n <= 0 || n > 4) return kInvalid;
  memcpy(out, buf, static_cast<size_t>(n));
  *len = n;
  return kOk;
}

uint32_t Classes(UChar32 cp) {
  uint32_t bits = 0;
  if (u_isupper(cp)) bits |= 0x0001;
  if (u_islower(cp)) bits |= 0x0002;
  if (u_isalpha(cp)) bits |= 0x0004;
  if (u_isdigit(cp)) bits |= 0x0008;
  if (u_isspace(cp)) bits |= 0x0010;
  if (u_iscntrl(cp)) bits |= 0x0020;
  if (u_ispunct(cp)) bits |= 0x0040;
  if (u_isgraph(cp)) bits |= 0x0080;
  if (u_isprint(cp)) bits |= 0x0100;
  if (u_isxdigit(cp)) bits |= 0x0200;
  if (u_isblank(cp)) bits |= 0x0400;
  return bits;
}

int32_t Columns(UChar32 cp, int16_t *st) {
  if (cp == 0) return 0;
  if (!u_isprint(cp)) {
    Raise(st, kShort);
    return -1;
  }
  int32_t ea = u_getIntPropertyValue(cp, UCHAR_EAST_ASIAN_WIDTH);
  return ea == U_EA_WIDE || ea == U_EA_FULLWIDTH ? 2 : 1;
}

}  // namespace glu

namespace {

Locale *L(void *h) { return static_cast<Locale *>(h); }

// Decodes and raises the status on failure.
bool Next(Locale *h, const char *s, int32_t n, UChar32 *cp, int32_t *len, int16_t *st) {
  int16_t r = glu::Decode(h, s, n, cp, len);
  Raise(st, r);
  return r == glu::kOk;
}

// The case partner of cp when the code set has it, else cp.
UChar32 CasePartner(Locale *h, UChar32 cp, bool upper) {
  UChar32 p = upper ? u_toupper(cp) : u_tolower(cp);
  if (p == cp) return cp;
  char buf[8];
  int32_t n = 0;
  return glu::Encode(h, p, buf, &n) == glu::kOk ? p : cp;
}

// Writes the case partner of the character at s (len bytes, code point cp).
int32_t WriteCase(Locale *h, char *out, const char *s, int32_t len, UChar32 cp, bool upper) {
  UChar32 p = CasePartner(h, cp, upper);
  int32_t n = 0;
  if (p != cp && glu::Encode(h, p, out, &n) == glu::kOk) return n;
  memcpy(out, s, static_cast<size_t>(len));
  return len;
}

int16_t MbCase(void *h, char *out, const char *in, int32_t n, int16_t *st, bool upper) {
  UChar32 cp;
  int32_t len;
  if (in == nullptr || out == nullptr) {
    Raise(st, glu::kNullArg);
    return 0;
  }
  if (!Next(L(h), in, n, &cp, &len, st)) return 0;
  int32_t w = WriteCase(L(h), out, in, len, cp, upper);
  return static_cast<int16_t>((len << 8) | w);
}

// A string's case conversion; n -1: NUL-terminated, else n bytes.
int32_t MbsCase(void *h, char *out, const char *in, int32_t n, int16_t *st, bool upper) {
  if (in == nullptr || out == nullptr) {
    Raise(st, glu::kNullArg);
    return -1;
  }
  int32_t written = 0;
  for (int32_t off = 0; (n < 0 || off < n) && in[off] != 0;) {
    UChar32 cp;
    int32_t len;
    if (!Next(L(h), in + off, n < 0 ? -1 : n - off, &cp, &len, st)) return -1;
    written += WriteCase(L(h), out + written, in + off, len, cp, upper);
    off += len;
  }
  out[written] = 0;
  return written;
}

int32_t UcsCase(void *h, uint32_t *out, const uint32_t *in, int16_t *st, bool upper) {
  if (in == nullptr || out == nullptr) {
    Raise(st, glu::kNullArg);
    return -1;
  }
  int32_t i = 0;
  for (; in[i] != 0; ++i) out[i] = static_cast<uint32_t>(CasePartner(L(h), static_cast<UChar32>(in[i]), upper));
  out[i] = 0;
  return 0;
}

// Widths of multibyte characters from s: at most limit of them (limit < 0:
// no limit), below end when end is given, up to the NUL character.
int32_t MbsColumns(Locale *h, const char *s, const char *end, int32_t limit, int16_t *st) {
  if (s == nullptr) {
    Raise(st, glu::kNullArg);
    return -1;
  }
  int32_t sum = 0;
  const char *p = s;
  for (int32_t i = 0; (limit < 0 || i < limit) && (end == nullptr || p < end) && *p != 0; ++i) {
    UChar32 cp;
    int32_t len;
    if (!Next(h, p, -1, &cp, &len, st)) return -1;
    int32_t w = glu::Columns(cp, st);
    if (w < 0) return -1;
    sum += w;
    p += len;
  }
  return sum;
}

int32_t UcsColumns(const uint32_t *ws, const uint32_t *end, int32_t limit, int16_t *st) {
  if (ws == nullptr) {
    Raise(st, glu::kNullArg);
    return -1;
  }
  int32_t sum = 0;
  for (int32_t i = 0; (limit < 0 || i < limit) && (end == nullptr || ws + i < end) && ws[i] != 0;
       ++i) {
    int32_t w = glu::Columns(static_cast<UChar32>(ws[i]), st);
    if (w < 0) return -1;
    sum += w;
  }
  return sum;
}

// Reads one character byte by byte: 0 and its length, or the status.
template <typename ReadByte, typename Failure>
int16_t ReadChar(Locale *h, char *buf, int32_t *n, ReadByte read, Failure at_end, UChar32 *cp) {
  int b = read();
  *n = 0;
  if (b == -1) return at_end(true);
  for (;;) {
    buf[(*n)++] = static_cast<char>(b);
    int32_t len = 0;
    int16_t r = glu::Decode(h, buf, *n, cp, &len);
    if (r == glu::kOk && len == *n) return glu::kOk;
    if (r != glu::kShort || *n >= h->max_len) return glu::kInvalid;
    b = read();
    if (b == -1) return at_end(false);
  }
}

}  // namespace

GLU_API int32_t glu_mblen(void *h, const char *s, int32_t n, int16_t *st) {
  if (s == nullptr) return 0;
  UChar32 cp;
  int32_t len;
  if (!Next(L(h), s, n, &cp, &len, st)) return -1;
  return cp == 0 ? 0 : len;
}

GLU_API int32_t glu_mbtouc32(void *h, uint32_t *wc, const char *s, int32_t n, int16_t *st) {
  if (s == nullptr) return 0;
  UChar32 cp;
  int32_t len;
  if (!Next(L(h), s, n, &cp, &len, st)) return -1;
  if (wc != nullptr) *wc = static_cast<uint32_t>(cp);
  return cp == 0 ? 0 : len;
}

GLU_API int32_t glu_uc32tomb(void *h, char *out, uint32_t wc, int16_t *st) {
  int32_t len = 0;
  int16_t r = glu::Encode(L(h), static_cast<UChar32>(wc), out, &len);
  Raise(st, r);
  return r == glu::kOk ? len : -1;
}

GLU_API int64_t glu_mbstoucs32(void *h, uint32_t *wcs, int64_t count, const char *mbs,
                               int32_t len, int16_t *st) {
  if (len < -1) {
    Raise(st, 9);
    return -1;
  }
  if (len == 0) return 0;
  int64_t stored = 0;
  int32_t off = 0;
  while (stored < count) {
    UChar32 cp;
    int32_t n;
    if (glu::Decode(L(h), mbs + off, len == -1 ? -1 : len - off, &cp, &n) != glu::kOk) {
      // A character cut by the end of counted input is invalid here.
      Raise(st, glu::kInvalid);
      return -1;
    }
    wcs[stored] = static_cast<uint32_t>(cp);
    off += n;
    if (len == -1 && cp == 0) return stored;
    ++stored;
    if (len != -1 && off >= len) break;
  }
  return stored;
}

GLU_API int64_t glu_ucs32tombs(void *h, char *mbs, int64_t count, const uint32_t *wcs, int32_t len,
                               int16_t *st) {
  if (len < -1) {
    Raise(st, 9);
    return -1;
  }
  int64_t written = 0;
  for (int32_t i = 0; len == -1 || i < len; ++i) {
    char buf[8];
    int32_t k = 0;
    int16_t r = glu::Encode(L(h), static_cast<UChar32>(wcs[i]), buf, &k);
    if (r != glu::kOk) {
      Raise(st, r);
      return -1;
    }
    if (count - written < k) break;  // no room: not an error
    memcpy(mbs + written, buf, static_cast<size_t>(k));
    if (len == -1 && wcs[i] == 0) break;
    written += k;
  }
  return written;
}

GLU_API int32_t glu_ucs32toucs(void *, void *, void *, void *, void *) { return -1; }

GLU_API char *glu_mbsnext(void *h, const char *s, int32_t n, int16_t *st) {
  if (s == nullptr) {
    Raise(st, glu::kNullArg);
    return nullptr;
  }
  UChar32 cp;
  int32_t len;
  if (!Next(L(h), s, n, &cp, &len, st)) return nullptr;
  return const_cast<char *>(s + len);
}

GLU_API char *glu_mbsprev(void *h, const char *start, const char *pos, int16_t *st) {
  if (start >= pos) {
    Raise(st, glu::kBeforeStart);
    return nullptr;
  }
  const char *p = start;
  const char *last = start;
  while (p < pos) {
    last = p;
    UChar32 cp;
    int32_t len;
    if (!Next(L(h), p, static_cast<int32_t>(pos - p), &cp, &len, st)) return nullptr;
    p += len;
  }
  return const_cast<char *>(last);
}

GLU_API int32_t glu_mbsntsbytes(void *h, const char *s, int32_t n, int16_t *st) {
  if (s == nullptr) {
    Raise(st, glu::kNullArg);
    return -1;
  }
  int32_t keep = 0;
  for (int32_t off = 0; (n < 0 || off < n) && s[off] != 0;) {
    UChar32 cp;
    int32_t len;
    if (!Next(L(h), s + off, n < 0 ? -1 : n - off, &cp, &len, st)) return -1;
    off += len;
    if (!(u_isblank(cp) && !u_iscntrl(cp))) keep = off;
  }
  return keep;
}

GLU_API int32_t glu_charoffset(void *h, const char *start, const char *pos, int32_t *len,
                               int16_t *st) {
  if (pos < start) {
    Raise(st, glu::kShort);
    *len = 0;
    return -1;
  }
  for (const char *p = start;;) {
    UChar32 cp;
    int32_t n;
    if (!Next(L(h), p, -1, &cp, &n, st)) {
      *len = 0;
      return -1;
    }
    if (pos < p + n) {
      *len = n;
      return static_cast<int32_t>(pos - p);
    }
    if (cp == 0) {  // pos lies beyond the terminator
      Raise(st, glu::kShort);
      *len = 0;
      return -1;
    }
    p += n;
  }
}

GLU_API char *glu_mbschr(void *hc, const char *s, int32_t n, const char *c, int32_t clen,
                         int16_t *st) {
  if (s == nullptr || c == nullptr) {
    Raise(st, glu::kNullArg);
    return nullptr;
  }
  UChar32 want;
  int32_t wlen;
  if (!Next(L(hc), c, clen, &want, &wlen, st)) return nullptr;
  for (int32_t off = 0; (n < 0 || off < n) && s[off] != 0;) {
    UChar32 cp;
    int32_t len;
    if (!Next(L(hc), s + off, n < 0 ? -1 : n - off, &cp, &len, st)) return nullptr;
    if (len == wlen && memcmp(s + off, c, static_cast<size_t>(len)) == 0) {
      return const_cast<char *>(s + off);
    }
    off += len;
  }
  return nullptr;
}

// Replaces character i of s by the character at c: its offset, or -1.
GLU_API int32_t glu_putmbsi(void *h, char *s, int32_t i, const char *c, int16_t *st) {
  if (s == nullptr || c == nullptr) {
    Raise(st, glu::kNullArg);
    return -1;
  }
  if (i < 0) {
    Raise(st, glu::kNegative);
    return -1;
  }
  int32_t off = 0;
  UChar32 cp;
  int32_t len = 0;
  for (int32_t k = 0;; ++k) {
    if (s[off] == 0) {  // the terminator is never replaced
      Raise(st, glu::kNegative);
      return -1;
    }
    if (!Next(L(h), s + off, -1, &cp, &len, st)) return -1;
    if (k == i) break;
    off += len;
  }
  int32_t clen;
  if (!Next(L(h), c, -1, &cp, &clen, st)) return -1;
  char *rest = s + off + len;
  memmove(s + off + clen, rest, strlen(rest) + 1);
  memcpy(s + off, c, static_cast<size_t>(clen));
  return off;
}

GLU_API int32_t glu_getmb(void *h, char *buf, int (*reader)(void *), void *arg, int32_t *n,
                          int16_t *st) {
  UChar32 cp;
  int16_t r = ReadChar(
      L(h), buf, n, [&] { return reader(arg); },
      [](bool first) { return first ? glu::kEof : glu::kShort; }, &cp);
  Raise(st, r);
  return r == glu::kOk ? 0 : -1;
}

GLU_API uint32_t glu_fgetuc32(void *h, void *f, int16_t *st) {
  UChar32 cp = 0;
  char buf[4];
  int32_t n = 0;
  int16_t r = ReadChar(
      L(h), buf, &n, [&] { return glu::CallFgetc(f); },
      [&](bool first) -> int16_t {
        if (glu::CallFeof(f)) return first ? glu::kEof : glu::kShort;
        return glu::CallFerror(f) ? glu::kStream : glu::kRead;
      },
      &cp);
  Raise(st, r);
  return r == glu::kOk ? static_cast<uint32_t>(cp) : static_cast<uint32_t>(-1);
}

GLU_API int32_t glu_ismctype(void *h, const char *s, int32_t n, uint32_t mask, int16_t *st) {
  if (s == nullptr) return 0;
  UChar32 cp;
  int32_t len;
  if (!Next(L(h), s, n, &cp, &len, st)) return 0;
  return static_cast<int32_t>(glu::Classes(cp) & mask);
}

GLU_API int32_t glu_isuc32type(uint32_t wc, uint32_t mask) {
  return static_cast<int32_t>(glu::Classes(static_cast<UChar32>(wc)) & mask);
}

GLU_API int16_t glu_mbtoupper(void *h, char *out, const char *in, int32_t n, int16_t *st) {
  return MbCase(h, out, in, n, st, true);
}
GLU_API int16_t glu_mbtolower(void *h, char *out, const char *in, int32_t n, int16_t *st) {
  return MbCase(h, out, in, n, st, false);
}
GLU_API uint32_t glu_uc32toupper(void *h, uint32_t wc, int16_t *) {
  return static_cast<uint32_t>(CasePartner(L(h), static_cast<UChar32>(wc), true));
}
GLU_API uint32_t glu_uc32tolower(void *h, uint32_t wc, int16_t *) {
  return static_cast<uint32_t>(CasePartner(L(h), static_cast<UChar32>(wc), false));
}
GLU_API int32_t glu_mbstoupper(void *h, char *out, const char *in, int16_t *st) {
  return MbsCase(h, out, in, -1, st, true);
}
GLU_API int32_t glu_mbstolower(void *h, char *out, const char *in, int16_t *st) {
  return MbsCase(h, out, in, -1, st, false);
}
GLU_API int32_t glu_mbstoupper_len(void *h, char *out, const char *in, int32_t n, int16_t *st) {
  return MbsCase(h, out, in, n, st, true);
}
GLU_API int32_t glu_mbstolower_len(void *h, char *out, const char *in, int32_t n, int16_t *st) {
  return MbsCase(h, out, in, n, st, false);
}
GLU_API int32_t glu_ucs32toupper(void *h, uint32_t *out, const uint32_t *in, int16_t *st) {
  return UcsCase(h, out, in, st, true);
}
GLU_API int32_t glu_ucs32tolower(void *h, uint32_t *out, const uint32_t *in, int16_t *st) {
  return UcsCase(h, out, in, st, false);
}
// Bytes a case conversion of n characters may need, terminator included.
GLU_API int32_t glu_case_conv_outbuflen(void *h, int32_t n) {
  return n * L(h)->max_len + L(h)->min_len;
}

GLU_API int32_t glu_mbwidth(void *h, const char *s, int16_t *st) {
  UChar32 cp;
  int32_t len;
  if (s == nullptr) {
    Raise(st, glu::kNullArg);
    return -1;
  }
  if (!Next(L(h), s, -1, &cp, &len, st)) return -1;
  return glu::Columns(cp, st);
}
GLU_API int32_t glu_uc32width(uint32_t wc, int16_t *st) {
  return glu::Columns(static_cast<UChar32>(wc), st);
}
GLU_API int32_t glu_mbswidth(void *h, const char *s, int32_t n, int16_t *st) {
  return MbsColumns(L(h), s, nullptr, n, st);
}
GLU_API int32_t glu_ucs32width(const uint32_t *ws, int32_t n, int16_t *st) {
  return UcsColumns(ws, nullptr, n, st);
}
GLU_API int32_t glu_mbspwidth(void *h, const char *s, const char *end, int16_t *st) {
  return MbsColumns(L(h), s, end, -1, st);
}
GLU_API int32_t glu_ucs32pwidth(const uint32_t *ws, const uint32_t *end, int16_t *st) {
  return UcsColumns(ws, end, -1, st);
}
