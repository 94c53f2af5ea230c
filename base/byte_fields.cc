// Counted byte fields and blank-padded CHAR fields.

#include <cstring>

#include "base/fields.h"
#include "base/client_locale.h"

namespace {

int Sign(int d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

// Length of a field without its trailing blank characters, walking it
// character by character in a multibyte locale.
int32_t MultibyteLength(const char* p, int32_t n) {
  int32_t run = -1;  // start of the current run of blank characters
  int32_t off = 0;
  while (off < n) {
    if (p[off] == '\0') {  // one byte; neither starts nor ends a run
      off++;
      continue;
    }
    int blank = 0;
    int32_t len = rgl_mbchar(p + off, n - off, &blank);
    if (len < 0) return run >= 0 ? run : off;
    if (len == 0) len = 1;
    if (blank) {
      if (run < 0) run = off;
    } else {
      run = -1;
    }
    off += len;
  }
  return run >= 0 ? run : n;
}

}  // namespace

void bycopy(const void* src, void* dst, int32_t n) {
  if (n > 0) std::memcpy(dst, src, static_cast<size_t>(n));
}

int bycmpr(const void* a, const void* b, int32_t n) {
  if (n <= 0) return 0;
  return Sign(std::memcmp(a, b, static_cast<size_t>(n)));
}

int bycmprpad(const void* a, int32_t alen, const void* b, int32_t blen) {
  if (alen < 0) alen = 0;
  if (blen < 0) blen = 0;
  int32_t shorter = alen < blen ? alen : blen;
  int r = bycmpr(a, b, shorter);
  if (r != 0 || alen == blen) return r;
  const auto* longer = static_cast<const unsigned char*>(alen > blen ? a : b);
  int32_t longer_len = alen > blen ? alen : blen;
  for (int32_t i = shorter; i < longer_len; i++) {
    if (longer[i] == ' ') continue;
    int longer_first = longer[i] < ' ';
    // Seen from a's side.
    if (alen > blen) return longer_first ? -1 : 1;
    return longer_first ? 1 : -1;
  }
  return 0;
}

int32_t bylengnb(const char* p, int32_t n) {
  while (n > 0 && p[n - 1] == ' ') n--;
  return n > 0 ? n : 0;
}

int32_t byleng(const char* p, int32_t n) {
  if (n <= 0) return 0;
  if (rgl_single_byte()) return bylengnb(p, n);
  return MultibyteLength(p, n);
}

int byisfill(const char* p, int32_t n, int c) {
  for (int32_t i = 0; i < n; i++) {
    if (static_cast<signed char>(p[i]) != c) return 0;
  }
  return 1;
}

void ldchar(const char* p, int32_t n, char* dst) {
  int32_t len = bylengnb(p, n);
  if (len > 0) std::memmove(dst, p, static_cast<size_t>(len));
  dst[len] = '\0';
}

void stchar(const char* src, char* dst, int32_t n) {
  if (n <= 0) return;
  int32_t len = src != nullptr ? static_cast<int32_t>(strnlen(src, static_cast<size_t>(n))) : 0;
  if (len > 0) std::memcpy(dst, src, static_cast<size_t>(len));
  std::memset(dst + len, ' ', static_cast<size_t>(n - len));
}
