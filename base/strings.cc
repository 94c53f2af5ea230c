// NUL-terminated string helpers and case operations.

#include <cstdlib>
#include <cstring>

#include "base/fields.h"
#include "base/client_locale.h"
#include "base/nls_tables.h"
#include "base/thread_state.h"

namespace {

int Sign(int d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

// The multibyte comparison converts at most this many characters of each
// string; the callers compare names of fixed record fields, shorter than
// this.
constexpr int32_t kWideChars = 256;

int CompareWide(uint32_t a, uint32_t b) { return a < b ? -1 : 1; }

int MultibyteNCaseCmp(const char* a, const char* b, int32_t n) {
  uint32_t wa[kWideChars + 1];
  uint32_t wb[kWideChars + 1];
  int32_t la = rgl_mbstowcs(wa, a, kWideChars);
  int32_t lb = rgl_mbstowcs(wb, b, kWideChars);
  wa[la < 0 ? 0 : la] = 0;
  wb[lb < 0 ? 0 : lb] = 0;
  // Only the converted characters take part: the walk never leaves the
  // arrays, whatever n is.
  int32_t limit = n < kWideChars ? n : kWideChars;
  for (int32_t i = 0; i < limit; i++) {
    uint32_t ca = wa[i], cb = wb[i];
    if (ca == 0) return cb == 0 ? 0 : -1;
    if (cb == 0) return 1;
    if (ca == cb) continue;
    if (!rgl_iswalpha(ca) || !rgl_iswalpha(cb)) return CompareWide(ca, cb);
    uint32_t fa, fb;
    if (rgl_towlower(ca, &fa) != 0 || rgl_towlower(cb, &fb) != 0) return CompareWide(ca, cb);
    if (fa != fb) return CompareWide(fa, fb);
  }
  return 0;
}

}  // namespace

void stcopy(const char* src, char* dst) { std::strcpy(dst, src); }

void stcat(const char* src, char* dst) { std::strcat(dst, src); }

void stncopy(const char* src, char* dst, int32_t n) {
  if (n <= 0) return;
  std::strncpy(dst, src, static_cast<size_t>(n));
  dst[n - 1] = '\0';
}

int32_t stleng(const char* s) { return static_cast<int32_t>(std::strlen(s)); }

int32_t stnleng(const char* s, int32_t n) {
  if (n <= 0) return 0;
  return static_cast<int32_t>(strnlen(s, static_cast<size_t>(n)));
}

int stcmpr(const char* a, const char* b) { return Sign(std::strcmp(a, b)); }

int stcasecmp(const char* a, const char* b) {
  const auto* pa = reinterpret_cast<const unsigned char*>(a);
  const auto* pb = reinterpret_cast<const unsigned char*>(b);
  for (;; pa++, pb++) {
    unsigned char ca = rnls_lowermap[*pa], cb = rnls_lowermap[*pb];
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

int stncasecmp(const char* a, const char* b, int32_t n) {
  if (!rgl_single_byte()) return MultibyteNCaseCmp(a, b, n);
  for (int32_t i = 0; i < n; i++) {
    unsigned char ca = rnls_lowermap[static_cast<unsigned char>(a[i])];
    unsigned char cb = rnls_lowermap[static_cast<unsigned char>(b[i])];
    if (ca != cb) return static_cast<signed char>(ca) < static_cast<signed char>(cb) ? -1 : 1;
    // Both strings end here: nothing beyond their terminators is read.
    if (ca == 0) return 0;
  }
  return 0;
}

int cmprstr(const char* a, const char* b, int32_t n) {
  if (a == nullptr && b == nullptr) return 0;
  if (a == nullptr || b == nullptr) return -1;
  if (n <= 0) return 0;
  int32_t i = 0;
  for (; i < n && a[i] != '\0' && b[i] != '\0'; i++) {
    if (a[i] != b[i]) return -1;
  }
  if (i == n) return 0;
  const char* rest = a[i] != '\0' ? a : b;
  for (; i < n && rest[i] != '\0'; i++) {
    if (rest[i] != ' ') return -1;
  }
  return 0;
}

int rtolower(int c) {
  if (c == -1) return c;
  unsigned char low = static_cast<unsigned char>(c);
  return (rnls_classtab[low + 1] & NLS_UPPER) ? rnls_lowermap[low] : c;
}

int rcaseconv(int case_code, const char* src, char* dst, int32_t n, int32_t* outlen) {
  rsetglerror(0);
  int32_t room = rgl_case_outbuflen(n);
  if (room < n) room = n;
  int32_t converted = 0;
  if (rgl_caseconv(case_code, src, n, dst, room, &converted) != 0) return -941;
  if (converted < n) std::memset(dst + converted, 0, static_cast<size_t>(n - converted));
  if (outlen != nullptr) *outlen = converted > n ? converted : n;
  return 0;
}

void rcaseshift(int case_code, char* s) {
  if (s == nullptr || *s == '\0' || rglinit() != 0) return;
  const int32_t len = stleng(s);
  int32_t out = 0;
  if (rgl_case_outbuflen(1) == 1) {
    rcaseconv(case_code, s, s, len, &out);
    return;
  }
  int32_t need = rgl_case_outbuflen(len);
  if (need < len) need = len;
  char stack_buf[512];
  char* buf = stack_buf;
  if (need > static_cast<int32_t>(sizeof(stack_buf))) {
    buf = static_cast<char*>(std::malloc(static_cast<size_t>(need)));
    if (buf == nullptr) return;
  }
  if (rcaseconv(case_code, s, buf, len, &out) == 0) {
    // A conversion that lengthens the string is cut at the length it had.
    std::memcpy(s, buf, static_cast<size_t>(len));
    s[len] = '\0';
  }
  if (buf != stack_buf) std::free(buf);
}

void rupshift(char* s) { rcaseshift(RCASE_UPPER, s); }

void rdownshift(char* s) { rcaseshift(RCASE_LOWER, s); }
