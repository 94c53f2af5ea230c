// Stand-in for the client locale: single-byte ASCII, no code-set
// conversion, and a locale start-up that always succeeds. The locale
// start-up replaces this file.

#include "base/locale_seam.h"

#include <cstring>

#include "base/fields.h"
#include "base/nls_tables.h"
#include "base/thread_state.h"

int rglinit(void) {
  rsetglerror(0);
  return 0;
}

int rgl_dbnls_mode(void) { return 0; }

int rgl_single_byte(void) { return 1; }

int32_t rgl_mbstowcs(uint32_t* dst, const char* src, int32_t max) {
  int32_t i = 0;
  while (i < max && src[i] != '\0') {
    dst[i] = static_cast<unsigned char>(src[i]);
    i++;
  }
  return i;
}

int rgl_iswalpha(uint32_t wc) {
  return wc < 256 && (rnls_classtab[wc + 1] & (NLS_UPPER | NLS_LOWER)) != 0;
}

int rgl_towlower(uint32_t wc, uint32_t* out) {
  if (wc > 255) return -1;
  *out = rnls_lowermap[wc];
  return 0;
}

int32_t rgl_mbchar(const char* p, int32_t, int* blank) {
  *blank = (*p == ' ');
  return 1;
}

int rgl_caseconv(int case_code, const char* src, int32_t n, char* dst, int32_t dst_size,
                 int32_t* outlen) {
  const unsigned char* map = case_code == RCASE_UPPER ? rnls_uppermap : rnls_lowermap;
  int32_t k = n < dst_size ? n : dst_size;
  for (int32_t i = 0; i < k; i++) dst[i] = static_cast<char>(map[static_cast<unsigned char>(src[i])]);
  *outlen = k;
  return 0;
}

int32_t rgl_case_outbuflen(int32_t n) { return n; }

int rgl_env_to_server(const char*, char**) { return 0; }

int rgl_env_from_fs(const char*, char**) { return 0; }

// Locale names are "language_territory.codeset"; the stand-in knows the one
// code set it runs in, ISO 8859-1 (code set number 819, "0333" in hex).
int rgl_msg_dname(const char* locale, char* out, int32_t size) {
  if (locale == nullptr || out == nullptr || size <= 0) return -1;
  const char* dot = std::strchr(locale, '.');
  if (dot == nullptr || dot == locale) return -1;
  const char* cs = dot + 1;
  if (stcasecmp(cs, "8859-1") != 0 && std::strcmp(cs, "819") != 0) return -1;
  const int32_t n = static_cast<int32_t>(dot - locale);
  if (n + 6 > size) return -1;  // name, '/', "0333", NUL
  for (int32_t i = 0; i < n; i++) {
    const char c = locale[i];
    if (c == '/' || c == '\\') return -1;
    out[i] = static_cast<char>(rtolower(static_cast<unsigned char>(c)));
  }
  std::memcpy(out + n, "/0333", 6);
  return 0;
}
