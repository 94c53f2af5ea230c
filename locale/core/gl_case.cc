// Upper and lower case of characters and strings.
#include <limits.h>
#include <math.h>
#include <string.h>

#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbchar.h"

using namespace glchars;

namespace {

const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

enum Direction { kUpper, kLower };

// The partner of a case-table value in one direction, 0 when none.
GlWchar Partner(const GlLocale *loc, const void *value, Direction d) {
  if (value == nullptr || loc->case_pairs == nullptr) return 0;
  uint16_t index = Value16(value);
  if (index == 0) return 0;
  const GlCasePair &p = loc->case_pairs[index];
  return d == kUpper ? p.upper : p.lower;
}

GlWchar ToWide(GlLocale *loc, GlWchar wc, Direction d) {
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    GlWchar r = (d == kUpper ? icu->uc32toupper : icu->uc32tolower)(IcuHandle(loc), wc, &st);
    IcuStatus(loc, st);
    return r;
  }
  GlWchar p = Partner(loc, _gl_ct_lookup_wc(loc->case_table, wc, loc), d);
  return p != 0 ? p : wc;
}

// Writes the converted form of the character of length len whose case
// value is value (the bytes themselves when it has no partner or the
// partner has no multibyte form); returns the bytes written.
int32_t WriteConverted(GlLocale *loc, char *out, const char *s, int32_t len, const void *value,
                       Direction d) {
  GlWchar p = Partner(loc, value, d);
  if (p != 0) {
    int32_t saved = *_gl_ext_errno(loc);
    int32_t n = gl_full_wctomb(loc, out, p);
    if (n > 0) return n;
    SetError(loc, saved);
  }
  memcpy(out, s, static_cast<size_t>(len));
  return len;
}

uint16_t Lengths(int32_t in, int32_t out) { return static_cast<uint16_t>((in << 8) | out); }

uint16_t ToMulti(GlLocale *loc, char *out, const char *s, Direction d) {
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int16_t r = (d == kUpper ? icu->mbtoupper : icu->mbtolower)(IcuHandle(loc), out, s, 4, &st);
    IcuStatus(loc, st);
    return static_cast<uint16_t>(r);
  }
  int32_t len = 0;
  const void *v = _gl_ct_lookup_mb(loc->case_table, U(s), loc, &len);
  return Lengths(len, WriteConverted(loc, out, s, len, v, d));
}

uint16_t ToMultiCounted(GlLocale *loc, char *out, const char *s, int32_t n, Direction d) {
  int32_t len = 0;
  const void *v = _gl_ct_lookup_mbn(loc->case_table, U(s), n, &len, loc);
  if (v == nullptr) return 0;
  return Lengths(len, WriteConverted(loc, out, s, len, v, d));
}

// The string conversions; n -1 for NUL-terminated input.
int32_t ToMultiString(GlLocale *loc, char *out, const char *s, int32_t n, Direction d) {
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r;
    if (n == -1) {
      r = (d == kUpper ? icu->mbstoupper : icu->mbstolower)(IcuHandle(loc), out, s, &st);
    } else {
      r = (d == kUpper ? icu->mbstoupper_len : icu->mbstolower_len)(IcuHandle(loc), out, s, n,
                                                                    &st);
    }
    IcuStatus(loc, st);
    return r;
  }
  const unsigned char *map = d == kUpper ? loc->upper_map : loc->lower_map;
  if (map != nullptr) {
    int32_t i = 0;
    for (; (n == -1 || i < n) && s[i] != 0; ++i) out[i] = static_cast<char>(map[U(s)[i]]);
    out[i] = 0;
    return i;
  }
  int32_t written = 0;
  int32_t left = n;
  while ((n == -1 || left > 0) && gl_ismbsterm(loc, s) == 0) {
    int32_t len = 0;
    // Counted input: a character cut by the count is refused rather than
    // read past the caller's bytes.
    const void *v = n == -1 ? _gl_ct_lookup_mb(loc->case_table, U(s), loc, &len)
                            : _gl_ct_lookup_mbn(loc->case_table, U(s), left, &len, loc);
    if (v == nullptr) return -1;
    written += WriteConverted(loc, out + written, s, len, v, d);
    s += len;
    left -= len;
  }
  gl_mbsterm(loc, out + written);
  return written;
}

int32_t ToWideString(GlLocale *loc, GlWchar *out, const GlWchar *ws, Direction d) {
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = (d == kUpper ? icu->ucs32toupper : icu->ucs32tolower)(IcuHandle(loc), out, ws, &st);
    IcuStatus(loc, st);
    return r;
  }
  const unsigned char *map = d == kUpper ? loc->upper_map : loc->lower_map;
  int32_t i = 0;
  for (; ws[i] != 0; ++i) {
    GlWchar wc = ws[i];
    if (map != nullptr) {
      if (wc > 0xff) {
        SetError(loc, GL_EILSEQ);
        return -1;
      }
      out[i] = map[wc];
      continue;
    }
    const void *v = _gl_ct_lookup_wc(loc->case_table, wc, loc);
    if (v == nullptr) return -1;
    GlWchar p = Partner(loc, v, d);
    out[i] = p != 0 ? p : wc;
  }
  out[i] = 0;
  return 0;
}

}  // namespace

GlWchar _gl_im_towupper(GlLocale *loc, GlWchar wc) { return ToWide(loc, wc, kUpper); }
GlWchar _gl_im_towlower(GlLocale *loc, GlWchar wc) { return ToWide(loc, wc, kLower); }

uint16_t _gl_im_tomupper(GlLocale *loc, char *out, const char *s) {
  return ToMulti(loc, out, s, kUpper);
}
uint16_t _gl_im_tomlower(GlLocale *loc, char *out, const char *s) {
  return ToMulti(loc, out, s, kLower);
}
uint16_t _zel_gl_im_tomupper(GlLocale *loc, char *out, const char *s, int32_t n) {
  return ToMultiCounted(loc, out, s, n, kUpper);
}
uint16_t _zel_gl_im_tomlower(GlLocale *loc, char *out, const char *s, int32_t n) {
  return ToMultiCounted(loc, out, s, n, kLower);
}

int32_t gl_tombsupper(GlLocale *loc, char *out, const char *s) {
  return ToMultiString(loc, out, s, -1, kUpper);
}
int32_t gl_tombslower(GlLocale *loc, char *out, const char *s) {
  return ToMultiString(loc, out, s, -1, kLower);
}

int32_t _zel_gl_tombsupper_len(GlLocale *loc, char *out, const char *s, int32_t n) {
  if (n < 0 && IcuCtype(loc) == nullptr) n = 0;
  return ToMultiString(loc, out, s, n, kUpper);
}
int32_t _zel_gl_tombslower_len(GlLocale *loc, char *out, const char *s, int32_t n) {
  if (n < 0 && IcuCtype(loc) == nullptr) n = 0;
  return ToMultiString(loc, out, s, n, kLower);
}

int32_t gl_towcsupper(GlLocale *loc, GlWchar *out, const GlWchar *ws) {
  return ToWideString(loc, out, ws, kUpper);
}
int32_t gl_towcslower(GlLocale *loc, GlWchar *out, const GlWchar *ws) {
  return ToWideString(loc, out, ws, kLower);
}

int32_t gl_case_conv_outbuflen(GlLocale *loc, int32_t n) {
  if (const GlGluApi *icu = IcuCtype(loc)) return icu->case_conv_outbuflen(IcuHandle(loc), n);
  // The factor is rounded up to a whole number first; the loader keeps it
  // within (0, 4].
  double f = loc->case_factor;
  if (!(f > 0 && f <= 4)) f = 4;
  auto whole = static_cast<int64_t>(ceil(f));
  int64_t bytes = static_cast<int64_t>(n) * whole;
  return bytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bytes);
}
